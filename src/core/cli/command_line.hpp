// The program's command line, built from option_table: the original four
// options, the operator options after them, -h/--help and --version, and
// the FILE arguments, accepted and refused exactly as the host's argparse accepts and refuses
// them, with its help page and error text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The value of each option as given (text as WTF-8), or nothing when absent;
// numbers are within the limits of option_table.
// A number option given as "--option=--" counts as absent (argparse leaves
// such a value empty, as it does for the text options).
// Where an argument's value starts: the whole argument after an option, or
// the part after "=" ("--pass=secret").
struct ArgumentPart {
  std::size_t index;   // into the arguments after the program name
  std::size_t offset;  // in bytes; what comes before it is ASCII
  bool operator==(const ArgumentPart&) const = default;
};

struct CommandLineOptions {
  std::optional<std::string> controller_ip{}, username{}, password{}, config_dir{};
  std::optional<double> connect_timeout{}, max_time{};  // seconds
  std::optional<int> retry{};
  std::optional<double> retry_delay{};  // seconds; the run's default is 1
  std::optional<std::string> cacert{};
  std::optional<int> max_filesize{};  // bytes; 0 is no limit
  bool verify = false, verbose = false;
  std::optional<int> jobs{};
  bool json = false;
  std::optional<std::string> save{}, compare{};  // directories
  // The FILE arguments, in the order given.
  std::vector<std::string> files{};
  // Every value given to --password, however it was spelt: all of them are
  // kept out of the process list, not only the one that counts.
  std::vector<ArgumentPart> password_values{};
};

struct CommandLineOutcome {
  enum class Action { run, help, version, usage_error } action;
  CommandLineOptions options;  // for run
  // The help page (help) or "quillon <version>" (version), both for standard
  // output, or the usage line and error message (usage_error).
  std::string output;
  int exit_status;  // 0 for run, help and version, 2 for a usage error
};

// `args` are the arguments after the program name; `prog` names the program
// in the usage line and error message; `width` is the help formatter's width.
CommandLineOutcome parse_command_line(const std::vector<std::string>& args, std::string_view prog, int width);

// What a refused command line prints on standard error: the usage line and
// "<prog>: error: <message>".
std::string usage_error_text(std::string_view prog, int width, std::string_view message);

// The formatter's default width: the terminal's columns (COLUMNS when it holds
// a positive integer, else standard output's terminal, else 80) minus 2.
int default_help_width();

}  // namespace quillon
