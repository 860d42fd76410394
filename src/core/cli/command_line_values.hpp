// Values on the command line checked as the host's argparse checks them with
// the option's type: numbers read as the host's int() and float() read text,
// so that values are accepted and refused exactly alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon::command_line {

// int(text): surrounding white space, a sign, decimal digits of any script,
// single underscores between digits. Saturates at the limits of long long.
std::optional<long long> host_int(std::string_view text);

// float(text): the same white space, signs, digits and underscores, a decimal
// point, an exponent, "inf"/"infinity"/"nan" in any case. Out-of-range
// values become infinity or zero, as the host's do.
std::optional<double> host_float(std::string_view text);

// Why a file name is refused, or nothing. An empty name (an unset variable in
// "--cacert $CA") would otherwise read as "not given" and turn the check it
// asks for off; curl refuses it too.
std::optional<std::string> refuse_file_name(std::string_view text);

}  // namespace quillon::command_line
