// The usage line and help page of the command line, laid out exactly as the
// host's argparse.HelpFormatter lays them out for this parser.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quillon::command_line {

// One option of the parser, in the order the options were added.
struct OptionDescription {
  std::string_view name;     // "--username"
  std::string_view metavar;  // "USERNAME": the destination in capitals
  std::string_view help;
};

inline constexpr std::array<OptionDescription, 4> value_options{{
    {"--controller_ip", "CONTROLLER_IP",
     "Norvane Controller IP. User will be prompted to enter the IP if not specified."},
    {"--username", "USERNAME", "Norvane Controller Username. Defaults to \"admin\" if not specified."},
    {"--password", "PASSWORD",
     "Norvane Controller Password. User will be prompted to enter the password if not specfied."},
    {"--config_dir", "CONFIG_DIR", "Configuration Directory. Defaults to \"config\" if not specified."},
}};

inline constexpr std::string_view description = "Quillon Automation";

// "usage: ...\n", wrapped to `width` columns (the formatter's width, i.e.
// terminal columns minus 2). `prog` is WTF-8.
std::string format_usage(std::string_view prog, int width);
// The whole page printed by -h/--help, ending in one line break.
std::string format_help(std::string_view prog, int width);

}  // namespace quillon::command_line
