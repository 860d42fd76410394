// Every option of the command line, once: the parser, the help page, and the
// generated man page and shell completions all read this table, so they
// cannot disagree. Entries are in the parser's order: argparse's own
// -h/--help first, then the original four options (their names, placeholders
// and help texts must never change: scripts and abbreviations depend on
// them), then the operator options. The one positional argument, FILE, is
// described beside the table and read by the same places.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quillon::command_line {

// What an option does with its value. Completions offer files for `file`
// and directories for `directory`.
enum class OptionKind {
  help,       // prints the help page, ends the run with status 0
  version,    // prints "quillon <version>", ends the run with status 0
  flag,       // takes no value; true when given
  text,       // any text, kept as typed
  file,       // a path to a file
  directory,  // a path to a directory
  seconds,    // a decimal number of seconds from `minimum` to `maximum`
  count,      // a whole number from `minimum` to `maximum`
};

struct OptionSpec {
  std::string_view long_name;     // "--jobs"
  std::string_view short_name{};  // "-j", or empty
  std::string_view metavar{};     // "N"; empty when the option takes no value
  std::string_view help;          // one paragraph, wrapped by the help page
  OptionKind kind;
  std::string_view dest;  // "jobs": the field of CommandLineOptions
  int minimum = 0;        // seconds and counts only
  int maximum = 0;
};

constexpr bool takes_value(OptionKind kind) {
  return kind != OptionKind::help && kind != OptionKind::version && kind != OptionKind::flag;
}

// Limits that keep values sane for the transport (time limits in
// milliseconds, a worker per job) without getting in an operator's way.
inline constexpr int max_seconds = 86400;
inline constexpr int max_retries = 100;
inline constexpr int max_jobs = 100;
inline constexpr int max_filesize_bytes = 2147483647;  // bytes; the largest count the table holds

inline constexpr std::array<OptionSpec, 18> option_table{{
    {.long_name = "--help",
     .short_name = "-h",
     .help = "show this help message and exit",
     .kind = OptionKind::help,
     .dest = "help"},
    {.long_name = "--controller_ip",
     .metavar = "CONTROLLER_IP",
     .help = "Norvane Controller IP. User will be prompted to enter the IP if not specified.",
     .kind = OptionKind::text,
     .dest = "controller_ip"},
    {.long_name = "--username",
     .metavar = "USERNAME",
     .help = "Norvane Controller Username. Defaults to \"admin\" if not specified.",
     .kind = OptionKind::text,
     .dest = "username"},
    {.long_name = "--password",
     .metavar = "PASSWORD",
     .help = "Norvane Controller Password. User will be prompted to enter the password if not specfied.",
     .kind = OptionKind::text,
     .dest = "password"},
    {.long_name = "--config_dir",
     .metavar = "CONFIG_DIR",
     .help = "Configuration Directory. Defaults to \"config\" if not specified.",
     .kind = OptionKind::directory,
     .dest = "config_dir"},
    {.long_name = "--connect-timeout",
     .metavar = "SECONDS",
     .help = "Give up when the connection to the controller, TLS handshake included, is not made within SECONDS "
             "(decimals allowed, at most 86400). No limit if not specified.",
     .kind = OptionKind::seconds,
     .dest = "connect_timeout",
     .maximum = max_seconds},
    {.long_name = "--max-time",
     .metavar = "SECONDS",
     .help = "Give up on a request that has not been answered in full within SECONDS (decimals allowed, at most "
             "86400). No limit if not specified.",
     .kind = OptionKind::seconds,
     .dest = "max_time",
     .maximum = max_seconds},
    {.long_name = "--retry",
     .metavar = "N",
     .help = "Repeat a request up to N times (at most 100) when it failed transiently: when no connection could be "
             "made, or the controller answered 429 or 503, and for a login also 502 or 504. A query that may have "
             "reached the controller is never repeated, and an answer with one of those statuses is never taken as a "
             "result. No retries if not specified.",
     .kind = OptionKind::count,
     .dest = "retry",
     .maximum = max_retries},
    {.long_name = "--retry-delay",
     .metavar = "SECONDS",
     .help = "Seconds to wait before each retry (decimals allowed, at most 86400), unless the controller asks for "
             "another wait, "
             "which is capped at 60 seconds. Defaults to 1 if not specified.",
     .kind = OptionKind::seconds,
     .dest = "retry_delay",
     .maximum = max_seconds},
    {.long_name = "--cacert",
     .metavar = "FILE",
     .help = "Check the controller's certificate against the CA certificates in FILE (PEM) and its name against "
             "the address; on a mismatch nothing is sent. Without this option or --verify, certificates are not "
             "checked.",
     .kind = OptionKind::file,
     .dest = "cacert"},
    {.long_name = "--max-filesize",
     .metavar = "BYTES",
     .help = "Refuse an answer larger than BYTES (at most 2147483647), counted after decompression: the run ends "
             "with an error naming the file. No limit if not specified or 0.",
     .kind = OptionKind::count,
     .dest = "max_filesize",
     .maximum = max_filesize_bytes},
    {.long_name = "--verify",
     .help = "Check the controller's certificate against the system's trusted CA certificates and its name "
             "against the address; on a mismatch nothing is sent.",
     .kind = OptionKind::flag,
     .dest = "verify"},
    {.long_name = "--verbose",
     .short_name = "-v",
     .help = "Describe every request on standard error: the file, the URL, the form fields, the HTTP status, the "
             "answer's size and the time taken. The password and CID are shown as ***.",
     .kind = OptionKind::flag,
     .dest = "verbose"},
    {.long_name = "--jobs",
     .short_name = "-j",
     .metavar = "N",
     .help = "Run up to N (at most 100) configuration files, and the requests of a compound query, at once; the output "
             "stays in "
             "order. Without this option, one at a time. Note: with --jobs, files after a failing one may already "
             "have run.",
     .kind = OptionKind::count,
     .dest = "jobs",
     .minimum = 1,
     .maximum = max_jobs},
    {.long_name = "--json",
     .help = "Write one JSON object per configuration file, one per line, instead of the printed results.",
     .kind = OptionKind::flag,
     .dest = "json"},
    {.long_name = "--save",
     .metavar = "DIR",
     .help = "After each configuration file, write its result as JSON to DIR/NAME.json, NAME being the file's name; "
             "an earlier one is replaced whole. DIR is made if missing.",
     .kind = OptionKind::directory,
     .dest = "save"},
    {.long_name = "--compare",
     .metavar = "DIR",
     .help = "Instead of each result, print how it differs from the one saved in DIR by --save, one line per "
             "difference; the exit status is 3 when something differs. With --save too, the saved results are "
             "then replaced.",
     .kind = OptionKind::directory,
     .dest = "compare"},
    {.long_name = "--version",
     .help = "show program's version number and exit",
     .kind = OptionKind::version,
     .dest = "version"},
}};

// FILE ...: any number of configuration files, after the options (argparse's
// nargs="*"). The kind says what completes it.
inline constexpr OptionSpec file_arguments{
    .long_name = {},
    .metavar = "FILE",
    .help =
        "A configuration file to run: a name in the configuration directory, or a path when it holds a slash "
        "(./mine.cfg). Files run in the order given; without FILE, every .cfg file of the configuration "
        "directory runs.",
    .kind = OptionKind::file,
    .dest = "files"};

namespace detail {

// The help formatter wraps like textwrap, which also breaks words at inner
// hyphens and collapses white space; plain ASCII text with single spaces and
// no hyphen inside a word keeps our wrapping exact. '%' would be read as a
// format by the host's formatter.
constexpr bool plain_help(std::string_view text) {
  if (text.empty() || text.front() == ' ' || text.back() == ' ') return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c < ' ' || c > '~' || c == '%') return false;
    if (c == ' ' && text[i + 1] == ' ') return false;
    if (c == '-' && i > 0 && text[i - 1] != ' ' && text[i - 1] != '-') return false;
  }
  return true;
}

// argparse's destination for a long option: the name without "--", '-' as '_'.
constexpr bool dest_matches(std::string_view long_name, std::string_view dest) {
  if (!long_name.starts_with("--") || long_name.size() != dest.size() + 2) return false;
  for (std::size_t i = 0; i < dest.size(); ++i) {
    const char c = long_name[i + 2];
    if (dest[i] != (c == '-' ? '_' : c)) return false;
  }
  return true;
}

// -h/--help and the original four; their shortest abbreviations.
inline constexpr std::size_t original_count = 5;
inline constexpr std::array<std::string_view, 5> protected_prefixes{"--h", "--cont", "--u", "--p", "--conf"};

constexpr bool table_is_sound() {
  for (std::size_t i = 0; i < option_table.size(); ++i) {
    const OptionSpec& option = option_table[i];
    if (!plain_help(option.help) || !dest_matches(option.long_name, option.dest)) return false;
    if (takes_value(option.kind) == option.metavar.empty()) return false;
    if (!option.short_name.empty() && (option.short_name.size() != 2 || option.short_name[0] != '-')) return false;
    if (option.minimum > option.maximum) return false;
    // Abbreviations of the original options must keep meaning what they did.
    if (i >= original_count)
      for (std::string_view prefix : protected_prefixes)
        if (option.long_name.starts_with(prefix)) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (option_table[j].long_name == option.long_name ||
          (!option.short_name.empty() && option_table[j].short_name == option.short_name))
        return false;
  }
  return option_table[0].kind == OptionKind::help && plain_help(file_arguments.help) &&
         !file_arguments.metavar.empty() && file_arguments.long_name.empty();
}
static_assert(table_is_sound());

// The help text says "at most <maximum>", so that --help, the man page and
// the README state the limits the parser applies.
constexpr bool states_maximum(std::string_view help, int maximum) {
  char digits[12]{};  // reversed
  std::size_t count = 0;
  for (int value = maximum; value > 0 || count == 0; value /= 10) digits[count++] = static_cast<char>('0' + value % 10);
  constexpr std::string_view at_most = "at most ";
  for (std::size_t pos = help.find(at_most); pos != std::string_view::npos; pos = help.find(at_most, pos + 1)) {
    std::size_t i = pos + at_most.size(), left = count;
    while (left > 0 && i < help.size() && help[i] == digits[left - 1]) ++i, --left;
    if (left == 0 && (i == help.size() || help[i] < '0' || help[i] > '9')) return true;
  }
  return false;
}

constexpr bool limits_are_stated() {
  for (const OptionSpec& option : option_table)
    if ((option.kind == OptionKind::seconds || option.kind == OptionKind::count) &&
        !states_maximum(option.help, option.maximum))
      return false;
  return true;
}
static_assert(limits_are_stated(), "the help text of an option with a number says \"at most <maximum>\"");

}  // namespace detail

}  // namespace quillon::command_line
