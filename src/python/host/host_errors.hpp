// The core's errors as the host's own exception classes.
#pragma once

namespace quillon::host {

// Installs the translation for every module that calls into the core.
void register_error_translation();

}  // namespace quillon::host
