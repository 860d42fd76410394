// Conversion between the core's JSON values and host objects.
#pragma once

#include <nanobind/nanobind.h>

#include "json/json_value.hpp"

namespace quillon::host {

// dict/list/int/float/str/bool/None; text with lone surrogates stays exact.
nanobind::object to_host(const json::Value& value);
// The reverse, for tests and the form encoder: dict, list, str, int, float, bool, None.
json::Value from_host(nanobind::handle object, json::Arena& arena);

}  // namespace quillon::host
