#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/version.hpp"
#include "cli/command_line.hpp"
#include "cli/command_line_values.hpp"

using quillon::CommandLineOptions;
using quillon::CommandLineOutcome;
using quillon::parse_command_line;
using Action = CommandLineOutcome::Action;

namespace {

CommandLineOutcome parse(std::vector<std::string> args) { return parse_command_line(args, "quillon", 78); }

// The last line of a usage error: "<prog>: error: <message>".
std::string error_line(const CommandLineOutcome& outcome) {
  std::string text = outcome.output;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

void expect_options(const CommandLineOptions& actual, const CommandLineOptions& expected) {
  EXPECT_EQ(actual.controller_ip, expected.controller_ip);
  EXPECT_EQ(actual.username, expected.username);
  EXPECT_EQ(actual.password, expected.password);
  EXPECT_EQ(actual.config_dir, expected.config_dir);
  EXPECT_EQ(actual.connect_timeout, expected.connect_timeout);
  EXPECT_EQ(actual.max_time, expected.max_time);
  EXPECT_EQ(actual.retry, expected.retry);
  EXPECT_EQ(actual.retry_delay, expected.retry_delay);
  EXPECT_EQ(actual.cacert, expected.cacert);
  EXPECT_EQ(actual.max_filesize, expected.max_filesize);
  EXPECT_EQ(actual.verify, expected.verify);
  EXPECT_EQ(actual.verbose, expected.verbose);
  EXPECT_EQ(actual.jobs, expected.jobs);
  EXPECT_EQ(actual.json, expected.json);
  EXPECT_EQ(actual.save, expected.save);
  EXPECT_EQ(actual.compare, expected.compare);
  EXPECT_EQ(actual.files, expected.files);
}

CommandLineOptions with(void (*set)(CommandLineOptions&)) {
  CommandLineOptions options;
  set(options);
  return options;
}

}  // namespace

TEST(CommandLine, AcceptedLinesResolveValues) {
  struct Case {
    std::vector<std::string> args;
    CommandLineOptions expected;
  };
  const std::vector<Case> cases = {
      {{}, {}},
      // Unique prefixes stand for the whole option, with the value apart or joined.
      {{"--cont", "10.0.0.1", "--user=bob", "--pass", "pw", "--conf=dir"}, {"10.0.0.1", "bob", "pw", "dir"}},
      {{"--controller_ip=a=b"}, {"a=b", {}, {}, {}}},
      // Given twice, the later value counts.
      {{"--username", "a", "--u=b"}, {{}, "b", {}, {}}},
      // A value that starts with "-" needs "=", unless it reads as a number or holds a space.
      {{"--password=-x"}, {{}, {}, "-x", {}}},
      {{"--password", "-1.5"}, {{}, {}, "-1.5", {}}},
      {{"--password", "-.5"}, {{}, {}, "-.5", {}}},
      {{"--password", "-x y"}, {{}, {}, "-x y", {}}},
      {{"--password", "-"}, {{}, {}, "-", {}}},
      {{"--username", ""}, {{}, "", {}, {}}},
      {{"--username="}, {{}, "", {}, {}}},
      // The operator options: numbers read as the host reads them, short
      // options clustered, abbreviations of the new long names.
      {{"--conn", "2.5", "--max-time=1e1", "--retry", " 1_0 ", "--retry-", "0", "--ca", "ca.pem", "--veri", "-vj4",
        "--js"},
       with([](CommandLineOptions& o) {
         o.connect_timeout = 2.5, o.max_time = 10.0, o.retry = 10, o.retry_delay = 0.0, o.cacert = "ca.pem";
         o.verify = o.verbose = o.json = true, o.jobs = 4;
       })},
      {{"-vj", "\u0663", "--max-t=-0", "--retry=+100", "--max-f", "2147483647"}, with([](CommandLineOptions& o) {
         o.verbose = true, o.jobs = 3, o.max_time = 0.0, o.retry = 100, o.max_filesize = 2147483647;
       })},
      {{"-j=8", "--retry-delay", "1e-400", "--connect-timeout", "86400"},
       with([](CommandLineOptions& o) { o.jobs = 8, o.retry_delay = 0.0, o.connect_timeout = 86400.0; })},
      // "=--" empties a value: no number, even over an earlier one.
      {{"--jobs", "4", "--jobs=--", "--cacert=--"}, with([](CommandLineOptions& o) { o.cacert = ""; })},
  };
  for (const auto& c : cases) {
    const CommandLineOutcome outcome = parse(c.args);
    ASSERT_EQ(outcome.action, Action::run) << outcome.output;
    EXPECT_EQ(outcome.exit_status, 0);
    expect_options(outcome.options, c.expected);
  }
}

TEST(CommandLine, RefusedLinesNameTheFirstFault) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--con", "x"}, "ambiguous option: --con could match --controller_ip, --config_dir, --connect-timeout"},
      {{"--c=x"},
       "ambiguous option: --c=x could match --controller_ip, --config_dir, --connect-timeout, --cacert, "
       "--compare"},
      {{"--ver"}, "ambiguous option: --ver could match --verify, --verbose, --version"},
      {{"--max", "5"}, "ambiguous option: --max could match --max-time, --max-filesize"},
      // An empty CA file name would turn the check it asks for off.
      {{"--cacert", ""}, "argument --cacert: must not be empty"},
      {{"--max-filesize", "-1"}, "argument --max-filesize: must be at least 0"},
      {{"--password", "-x"}, "argument --password: expected one argument"},
      {{"--username"}, "argument --username: expected one argument"},
      {{"--username", "--", "x"}, "argument --username: expected one argument"},
      // The first plain arguments are files; plain arguments after a later option are not.
      {{"--bogus", "x", "-u", "--", "--username", "y"}, "unrecognized arguments: --bogus -u -- --username y"},
      {{"-hx"}, "argument -h/--help: ignored explicit argument 'x'"},
      {{"--help="}, "argument -h/--help: ignored explicit argument ''"},
      // Ambiguity is found before any option acts, even a -h ahead of it.
      {{"-h", "--con"}, "ambiguous option: --con could match --controller_ip, --config_dir, --connect-timeout"},
      // A missing value is found before unrecognised arguments.
      {{"--bogus", "--user"}, "argument --username: expected one argument"},
      // Values out of range or not numbers, in the host's words.
      {{"--jobs", "0"}, "argument -j/--jobs: must be at least 1"},
      {{"-j101"}, "argument -j/--jobs: must be at most 100"},
      {{"--retry", "-1"}, "argument --retry: must be at least 0"},
      {{"--retry", "99999999999999999999999"}, "argument --retry: must be at most 100"},
      {{"--retry", "1.0"}, "argument --retry: invalid int value: '1.0'"},
      {{"--retry="}, "argument --retry: invalid int value: ''"},
      {{"--connect-timeout", "-0.5"}, "argument --connect-timeout: must be at least 0"},
      {{"--max-time", "86400.001"}, "argument --max-time: must be at most 86400"},
      {{"--max-time", "5s"}, "argument --max-time: invalid float value: '5s'"},
      {{"--max-time", "1__0"}, "argument --max-time: invalid float value: '1__0'"},
      {{"--max-time", "inf"}, "argument --max-time: invalid float value: 'inf'"},
      {{"--max-time", "nan"}, "argument --max-time: invalid float value: 'nan'"},
      {{"--max-time", "1e400"}, "argument --max-time: invalid float value: '1e400'"},
      // Flags take no value; a cluster is read whole before any option acts.
      {{"--verify=yes"}, "argument --verify: ignored explicit argument 'yes'"},
      {{"-vx"}, "argument -v/--verbose: ignored explicit argument 'x'"},
      {{"-v="}, "argument -v/--verbose: ignored explicit argument ''"},
      {{"-vj"}, "argument -j/--jobs: expected one argument"},
      {{"-vjx"}, "argument -j/--jobs: invalid int value: 'x'"},
      {{"-j0", "-h"}, "argument -j/--jobs: must be at least 1"},
      {{"-vhx", "--version"}, "argument -h/--help: ignored explicit argument 'x'"},
  };
  for (const auto& c : cases) {
    const CommandLineOutcome outcome = parse(c.args);
    ASSERT_EQ(outcome.action, Action::usage_error) << c.message;
    EXPECT_EQ(outcome.exit_status, 2);
    EXPECT_EQ(error_line(outcome), "quillon: error: " + c.message);
    EXPECT_EQ(outcome.output.rfind("usage: quillon [-h] ", 0), 0u);
  }
}

TEST(CommandLine, HelpAndVersionWinOverLaterFaults) {
  const std::string help = parse_command_line({"--help"}, "quillon", 78).output;
  const std::string version = "quillon " + std::string(quillon::quillon_version()) + "\n";
  struct Case {
    std::vector<std::string> args;
    Action action;
  };
  const std::vector<Case> cases = {
      {{"-h"}, Action::help},
      {{"--he", "--bogus"}, Action::help},
      {{"--username", "x", "-hh", "--password"}, Action::help},
      {{"-hj0"}, Action::help},
      {{"-vh", "--jobs", "0"}, Action::help},
      {{"-h", "--version"}, Action::help},
      {{"--version"}, Action::version},
      {{"--vers", "--bogus", "--jobs", "0"}, Action::version},
      {{"--version", "-h"}, Action::version},
  };
  for (const auto& c : cases) {
    const CommandLineOutcome outcome = parse(c.args);
    ASSERT_EQ(outcome.action, c.action) << outcome.output;
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, c.action == Action::help ? help : version);
  }
  EXPECT_FALSE(quillon::quillon_version().empty());
  // Narrow terminals wrap the version line as any other text.
  EXPECT_EQ(parse_command_line({"--version"}, "quillon", 5).output,
            "quillon\n" + std::string(quillon::quillon_version()) + "\n");
}

// Scripts and people read the original part of the page: it stays as it was.
TEST(CommandLine, HelpKeepsTheOriginalEntries) {
  const std::string page = parse_command_line({"-h"}, "quillon", 78).output;
  EXPECT_EQ(page.rfind("usage: quillon [-h] [--controller_ip CONTROLLER_IP] [--username USERNAME]\n"
                       "               [--password PASSWORD] [--config_dir CONFIG_DIR]\n"
                       "               [--connect-timeout SECONDS] [--max-time SECONDS] [--retry N]\n",
                       0),
            0u);
  EXPECT_NE(page.find("options:\n"
                      "  -h, --help            show this help message and exit\n"
                      "  --controller_ip CONTROLLER_IP\n"
                      "                        Norvane Controller IP. User will be prompted to enter\n"
                      "                        the IP if not specified.\n"
                      "  --username USERNAME   Norvane Controller Username. Defaults to \"admin\" if\n"
                      "                        not specified.\n"
                      "  --password PASSWORD   Norvane Controller Password. User will be prompted to\n"
                      "                        enter the password if not specfied.\n"
                      "  --config_dir CONFIG_DIR\n"
                      "                        Configuration Directory. Defaults to \"config\" if not\n"
                      "                        specified.\n"
                      "  --connect-timeout SECONDS\n"),
            std::string::npos);
  for (const char* entry : {"  -v, --verbose ", "  -j N, --jobs N ", "  --json ", "  --version "})
    EXPECT_NE(page.find(entry), std::string::npos) << entry;
}

TEST(CommandLine, HostFloatAtTheEdgesOfDouble) {
  using quillon::command_line::host_float;
  EXPECT_EQ(host_float("1e-400"), 0.0);
  EXPECT_EQ(host_float("-0.000001e-400"), -0.0);
  EXPECT_EQ(host_float("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(host_float("0.00012e99999999999999999999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(host_float("0e99999"), 0.0);
  EXPECT_EQ(host_float("5e-324"), 5e-324);
  EXPECT_EQ(host_float("-InFiNiTy"), -std::numeric_limits<double>::infinity());
  for (const char* refused : {"", ".", "e5", "1e", "1e+", "0x10", "nan(1)", "1_", "in_f", "1 2", "\xff"})
    EXPECT_EQ(host_float(refused), std::nullopt) << refused;
}

TEST(CommandLine, DefaultWidthReadsColumns) {
  const char* saved = std::getenv("COLUMNS");
  const std::string saved_value = saved ? saved : "";
  setenv("COLUMNS", " 1_00 ", 1);
  EXPECT_EQ(quillon::default_help_width(), 98);
  // Not a positive number: the terminal on standard output decides, and
  // without one 80 columns. Standard output is made a non-terminal here so
  // the fallback is known whatever runs the tests.
  std::fflush(stdout);
  const int kept_stdout = ::dup(STDOUT_FILENO);
  const int null_device = ::open("/dev/null", O_WRONLY);
  ASSERT_GE(kept_stdout, 0);
  ASSERT_GE(null_device, 0);
  ::dup2(null_device, STDOUT_FILENO);
  std::vector<int> widths;
  for (const char* columns : {"-4", "0", "junk", ""}) {
    setenv("COLUMNS", columns, 1);
    widths.push_back(quillon::default_help_width());
  }
  unsetenv("COLUMNS");
  widths.push_back(quillon::default_help_width());
  ::dup2(kept_stdout, STDOUT_FILENO);
  ::close(kept_stdout);
  ::close(null_device);
  EXPECT_EQ(widths, std::vector<int>(5, 78));
  if (saved)
    setenv("COLUMNS", saved_value.c_str(), 1);
  else
    unsetenv("COLUMNS");
}
