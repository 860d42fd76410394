// Numbers on the command line read as the host's int() and float() read
// text, so that values are accepted and refused exactly as the host's
// argparse would with those types.
#pragma once

#include <optional>
#include <string_view>

namespace quillon::command_line {

// int(text): surrounding white space, a sign, decimal digits of any script,
// single underscores between digits. Saturates at the limits of long long.
std::optional<long long> host_int(std::string_view text);

// float(text): the same white space, signs, digits and underscores, a decimal
// point, an exponent, "inf"/"infinity"/"nan" in any case. Out-of-range
// values become infinity or zero, as the host's do.
std::optional<double> host_float(std::string_view text);

}  // namespace quillon::command_line
