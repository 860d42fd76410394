// The result printer: the layout of the host's pretty printer with one
// element per line, sorted object keys and no depth limit.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "json/json_value.hpp"

namespace quillon {

// Writes `value` exactly as pprint.PrettyPrinter(width=width).pprint(value) does, final line
// break included, handing the text to `write` in large chunks as it goes; what `write` throws
// (a closed pipe, Ctrl-C) ends the printing.
void pretty_print(const json::Value& value, const std::function<void(std::string_view)>& write, int width = 200);
// The same text without the final line break (pformat).
std::string pretty_format(const json::Value& value, int width = 200);

}  // namespace quillon
