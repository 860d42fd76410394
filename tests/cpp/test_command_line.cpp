#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command_line.hpp"

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
  };
  for (const auto& c : cases) {
    const CommandLineOutcome outcome = parse(c.args);
    ASSERT_EQ(outcome.action, Action::run) << outcome.output;
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.options.controller_ip, c.expected.controller_ip);
    EXPECT_EQ(outcome.options.username, c.expected.username);
    EXPECT_EQ(outcome.options.password, c.expected.password);
    EXPECT_EQ(outcome.options.config_dir, c.expected.config_dir);
  }
}

TEST(CommandLine, RefusedLinesNameTheFirstFault) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--con", "x"}, "ambiguous option: --con could match --controller_ip, --config_dir"},
      {{"--c=x"}, "ambiguous option: --c=x could match --controller_ip, --config_dir"},
      {{"--password", "-x"}, "argument --password: expected one argument"},
      {{"--username"}, "argument --username: expected one argument"},
      {{"--username", "--", "x"}, "argument --username: expected one argument"},
      {{"--bogus", "x", "-u", "--", "--username", "y"}, "unrecognized arguments: --bogus x -u -- --username y"},
      {{"-hx"}, "argument -h/--help: ignored explicit argument 'x'"},
      {{"--help="}, "argument -h/--help: ignored explicit argument ''"},
      // Ambiguity is found before any option acts, even a -h ahead of it.
      {{"-h", "--con"}, "ambiguous option: --con could match --controller_ip, --config_dir"},
      // A missing value is found before unrecognised arguments.
      {{"--bogus", "--user"}, "argument --username: expected one argument"},
  };
  for (const auto& c : cases) {
    const CommandLineOutcome outcome = parse(c.args);
    ASSERT_EQ(outcome.action, Action::usage_error) << c.message;
    EXPECT_EQ(outcome.exit_status, 2);
    EXPECT_EQ(error_line(outcome), "quillon: error: " + c.message);
    EXPECT_EQ(outcome.output.rfind("usage: quillon [-h] ", 0), 0u);
  }
}

TEST(CommandLine, HelpWinsOverLaterFaults) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-h"}, {"--he", "--bogus"}, {"--username", "x", "-hh", "--password"}}) {
    const CommandLineOutcome outcome = parse(args);
    ASSERT_EQ(outcome.action, Action::help) << outcome.output;
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output, parse_command_line({"--help"}, "quillon", 78).output);
  }
}

TEST(CommandLine, DefaultWidthReadsColumns) {
  const char* saved = std::getenv("COLUMNS");
  const std::string saved_value = saved ? saved : "";
  setenv("COLUMNS", " 1_00 ", 1);
  EXPECT_EQ(quillon::default_help_width(), 98);
  setenv("COLUMNS", "-4", 1);  // not positive: the terminal or 80 decides
  const int fallback = quillon::default_help_width();
  setenv("COLUMNS", "junk", 1);
  EXPECT_EQ(quillon::default_help_width(), fallback);
  if (saved)
    setenv("COLUMNS", saved_value.c_str(), 1);
  else
    unsetenv("COLUMNS");
}
