// Host text (str) and the bytes the core holds. The core keeps text as WTF-8,
// where a lone surrogate stands for itself; bytes from the system (arguments,
// file names, input) the host carries as str with surrogate escapes for the
// bytes that are not UTF-8. Every conversion between the two goes through here.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <string_view>

namespace quillon::host {

// str as WTF-8: lone surrogates kept as they are.
std::string wtf8(nanobind::handle text);
// The same for an argument that must be a str: TypeError("expected str") otherwise.
std::string checked_wtf8(nanobind::handle text);
// A str as WTF-8 without a copy where the host caches its UTF-8 (text with
// no lone surrogates); otherwise encoded into `scratch`, and `in_scratch` set.
std::string_view wtf8_view(PyObject* text, std::string& scratch, bool& in_scratch);
// str as system bytes: surrogate escapes turn back into the bytes they stand for.
std::string text_bytes(nanobind::handle text);

// WTF-8 as str; lone surrogates survive.
nanobind::str host_text(std::string_view wtf8);
// System bytes as str, the bytes that are not UTF-8 as surrogate escapes (as
// the host decodes file names).
nanobind::str host_text_of_bytes(std::string_view bytes);

}  // namespace quillon::host
