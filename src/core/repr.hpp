// The host's literal text forms (repr) of JSON values: None/True/False,
// integers, shortest round-trip reals, quoted text, [..] and {..}.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json_value.hpp"

namespace quillon::repr {

void append_integer(std::string& out, std::int64_t i);
void append_real(std::string& out, double d);                // repr(float): 0.1, 1e+16, inf, nan
void append_text(std::string& out, std::string_view wtf8);   // repr(str), quotes included
// repr of any value; with sort_keys, object entries in code-point order of
// their keys (as the printer writes them), otherwise in stored order (as the
// host's repr(dict) does).
void append(std::string& out, const json::Value& value, bool sort_keys);

}  // namespace quillon::repr
