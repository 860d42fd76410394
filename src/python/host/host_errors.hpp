// The core's errors as the host's own exception classes.
#pragma once

#include <nanobind/nanobind.h>

namespace quillon::host {

// Installs the translation for every module that calls into the core. Errors
// keep the host's class and arguments; where they happened (the file, the
// answer, the filter step) is attached as a note.
void register_error_translation();

// What an answer that is not JSON raises: a subclass of both the host's
// json.JSONDecodeError and OSError, as the host's HTTP client raises it, so
// that callers catching either catch it. One class per interpreter, shared
// by every module built on the core.
nanobind::object json_decode_error_class();

}  // namespace quillon::host
