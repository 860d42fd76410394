// The program's command line: --controller_ip, --username, --password,
// --config_dir and -h/--help, accepted and refused exactly as the host's
// argparse accepts and refuses them, with its help page and error text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The value of each option as given (WTF-8), or nothing when absent.
struct CommandLineOptions {
  std::optional<std::string> controller_ip, username, password, config_dir;
};

struct CommandLineOutcome {
  enum class Action { run, help, usage_error } action;
  CommandLineOptions options;  // for run
  std::string output;          // the help page (help) or usage line and error message (usage_error)
  int exit_status;             // 0 for run and help, 2 for a usage error
};

// `args` are the arguments after the program name; `prog` names the program
// in the usage line and error message; `width` is the help formatter's width.
CommandLineOutcome parse_command_line(const std::vector<std::string>& args, std::string_view prog, int width);

// The formatter's default width: the terminal's columns (COLUMNS when it holds
// a positive integer, else standard output's terminal, else 80) minus 2.
int default_help_width();

}  // namespace quillon
