// The configuration reader's errors as the host's own exceptions: the
// configparser classes with the arguments the host reader gives them, and
// UnicodeDecodeError for a file that is not UTF-8.
#pragma once

#include <nanobind/nanobind.h>

#include "config/config_reader.hpp"

namespace quillon::host {

// The exception instance, not raised.
nanobind::object config_error_object(const config::ConfigError& error);
nanobind::object text_decode_error_object(const config::TextDecodeError& error);

// Set the host's error indicator to that instance.
void raise_config_error(const config::ConfigError& error);
void raise_text_decode_error(const config::TextDecodeError& error);

}  // namespace quillon::host
