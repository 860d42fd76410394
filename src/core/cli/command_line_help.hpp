// The usage line, help page and version line of the command line, laid out
// exactly as the host's argparse.HelpFormatter lays them out for a parser
// built from option_table.
#pragma once

#include <string>
#include <string_view>

#include "cli/option_table.hpp"

namespace quillon::command_line {

inline constexpr std::string_view description = "Quillon Automation";
// After the options: where else the password may come from, and how it is
// kept out of other users' sight.
inline constexpr std::string_view epilog =
    "When the password option is absent, the password is taken from the environment variable QUILLON_PASSWORD (if set "
    "and not empty) before any prompt. The native program overwrites a password given on the command line in its own "
    "argument list, so that the process list does not show it.";

// "usage: ...\n", wrapped to `width` columns (the formatter's width, i.e.
// terminal columns minus 2). `prog` is WTF-8.
std::string format_usage(std::string_view prog, int width);
// The whole page printed by -h/--help, ending in one line break.
std::string format_help(std::string_view prog, int width);
// What --version prints: "quillon <version>", wrapped as the formatter wraps text.
std::string format_version(int width);

}  // namespace quillon::command_line
