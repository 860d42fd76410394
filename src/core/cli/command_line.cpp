#include "cli/command_line.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>

#include "cli/command_line_help.hpp"
#include "print/repr.hpp"
#include "text/decimal_digits.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

using command_line::value_options;

// The parser's actions: help, then the four value options in order.
constexpr int help_action = 0;
constexpr int unknown_action = -1;

// Every option string with its action, in the order argparse registers them;
// ambiguity messages list candidates in this order.
struct OptionString {
  std::string_view text;
  int action;
};
constexpr std::array<OptionString, 6> option_strings{{
    {"-h", help_action},
    {"--help", help_action},
    {value_options[0].name, 1},
    {value_options[1].name, 2},
    {value_options[2].name, 3},
    {value_options[3].name, 4},
}};

int find_option(std::string_view text) {
  for (const auto& option : option_strings)
    if (option.text == text) return option.action;
  return unknown_action;
}

// How an argument reads as an option: which action, under which option
// string, and the value joined to it ("=value" or a short option's tail).
struct OptionUse {
  int action;
  std::string option_string;
  std::optional<std::string> explicit_value;
};

// A refusal of the command line; `message` follows "<prog>: error: ".
struct UsageError {
  std::string message;
};

std::string action_name(int action) {
  return action == help_action ? "-h/--help" : std::string(value_options[action - 1].name);
}

UsageError argument_error(int action, std::string_view message) {
  return {"argument " + action_name(action) + ": " + std::string(message)};
}

// The host's repr() of text, which the "ignored explicit argument" message quotes.
std::string quoted(std::string_view text) {
  std::string out;
  repr::append_text(out, text);
  return out;
}

// argparse's negative-number pattern, ^-\d+$|^-\d*\.\d+$, where \d is any
// decimal digit and $ also matches before one final line break.
bool looks_like_negative_number(std::string_view arg) {
  if (arg.empty() || arg[0] != '-') return false;
  std::string_view body = arg.substr(1);
  if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
  std::size_t digits_before = 0, digits_after = 0;
  bool point = false;
  for (std::size_t pos = 0; pos < body.size();) {
    const char32_t cp = unicode::next(body, pos);
    if (cp == '.' && !point) {
      point = true;
    } else if (unicode::decimal_value(cp) >= 0) {
      ++(point ? digits_after : digits_before);
    } else {
      return false;
    }
  }
  return point ? digits_after > 0 : digits_before > 0;
}

// The option strings that `arg` may abbreviate. A long form ("--...") is
// matched by prefix up to any "="; a short form ("-x...") is -h with its
// tail as joined value, or a prefix of an option string.
std::vector<OptionUse> option_candidates(std::string_view arg) {
  std::vector<OptionUse> found;
  if (arg[1] == '-') {
    std::string_view prefix = arg;
    std::optional<std::string> value;
    if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
      prefix = arg.substr(0, eq);
      value = std::string(arg.substr(eq + 1));
    }
    for (const auto& option : option_strings)
      if (option.text.starts_with(prefix)) found.push_back({option.action, std::string(option.text), value});
  } else {
    for (const auto& option : option_strings) {
      if (arg.substr(0, 2) == option.text)
        found.push_back({option.action, std::string(option.text), std::string(arg.substr(2))});
      else if (option.text.starts_with(arg))
        found.push_back({option.action, std::string(option.text), std::nullopt});
    }
  }
  return found;
}

// Whether `arg` is an option (known or not) rather than a plain argument.
std::optional<OptionUse> read_option(std::string_view arg) {
  if (arg.empty() || arg[0] != '-') return std::nullopt;
  if (int action = find_option(arg); action != unknown_action) return OptionUse{action, std::string(arg), std::nullopt};
  if (arg.size() == 1) return std::nullopt;  // "-" alone
  if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
    const std::string_view name = arg.substr(0, eq);
    if (int action = find_option(name); action != unknown_action)
      return OptionUse{action, std::string(name), std::string(arg.substr(eq + 1))};
  }
  std::vector<OptionUse> candidates = option_candidates(arg);
  if (candidates.size() > 1) {
    std::string names;
    for (const auto& candidate : candidates) names += (names.empty() ? "" : ", ") + candidate.option_string;
    throw UsageError{"ambiguous option: " + std::string(arg) + " could match " + names};
  }
  if (candidates.size() == 1) return std::move(candidates.front());
  // With no option that looks like a negative number, such arguments are values.
  if (looks_like_negative_number(arg)) return std::nullopt;
  if (arg.find(' ') != std::string_view::npos) return std::nullopt;
  return OptionUse{unknown_action, std::string(arg), std::nullopt};
}

struct HelpRequested {};

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  // Parses the whole command line; throws UsageError or HelpRequested.
  CommandLineOptions parse() {
    classify();
    std::size_t index = 0;
    while (true) {
      auto next = options_.lower_bound(index);
      if (next == options_.end()) break;
      // Plain arguments before the next option are unrecognised.
      for (; index < next->first; ++index) extras_.push_back(args_[index]);
      index = consume_option(index);
    }
    for (; index < args_.size(); ++index) extras_.push_back(args_[index]);
    if (!extras_.empty()) {
      std::string joined = extras_.front();
      for (std::size_t i = 1; i < extras_.size(); ++i) joined += " " + extras_[i];
      throw UsageError{"unrecognized arguments: " + joined};
    }
    return result_;
  }

 private:
  // Marks each argument as option ('O') or plain ('A'); the first "--" is
  // '-' and makes everything after it plain. Ambiguity is an error here,
  // before any option takes effect.
  void classify() {
    for (std::size_t i = 0; i < args_.size(); ++i) {
      if (args_[i] == "--") {
        pattern_ += '-';
        pattern_.append(args_.size() - i - 1, 'A');
        break;
      }
      if (auto use = read_option(args_[i])) {
        options_.emplace(i, std::move(*use));
        pattern_ += 'O';
      } else {
        pattern_ += 'A';
      }
    }
  }

  // Applies the option at `index` and returns the index after what it used.
  std::size_t consume_option(std::size_t index) {
    OptionUse use = options_.at(index);
    int action = use.action;
    std::optional<std::string> value = use.explicit_value;
    std::string option_string = use.option_string;
    int help_count = 0;
    while (true) {
      if (action == unknown_action) {
        extras_.push_back(args_[index]);
        return index + 1;
      }
      if (value) {
        if (action != help_action) {
          take(action, *value);
          break;
        }
        // "-hh..." stacks further short options behind -h; anything else
        // joined to help is an error before help is shown.
        if (option_string[1] != '-' && !value->empty()) {
          ++help_count;
          option_string = std::string("-") + (*value)[0];
          if (option_string != "-h") throw argument_error(action, "ignored explicit argument " + quoted(*value));
          if (value->size() == 1)
            value.reset();
          else
            value->erase(0, 1);
          continue;
        }
        throw argument_error(action, "ignored explicit argument " + quoted(*value));
      }
      if (action == help_action) {
        ++help_count;
        break;
      }
      if (index + 1 >= pattern_.size() || pattern_[index + 1] != 'A')
        throw argument_error(action, "expected one argument");
      take(action, args_[index + 1]);
      return index + 2;
    }
    if (help_count) throw HelpRequested{};
    return index + 1;
  }

  void take(int action, const std::string& value) {
    // argparse drops a "--" from an option's values, leaving an empty list,
    // which every use of the options treats as an empty value.
    std::string stored = value == "--" ? std::string() : value;
    switch (action) {
      case 1:
        result_.controller_ip = std::move(stored);
        break;
      case 2:
        result_.username = std::move(stored);
        break;
      case 3:
        result_.password = std::move(stored);
        break;
      case 4:
        result_.config_dir = std::move(stored);
        break;
    }
  }

  const std::vector<std::string>& args_;
  std::string pattern_;
  std::map<std::size_t, OptionUse> options_;
  std::vector<std::string> extras_;
  CommandLineOptions result_;
};

}  // namespace

CommandLineOutcome parse_command_line(const std::vector<std::string>& args, std::string_view prog, int width) {
  try {
    return {CommandLineOutcome::Action::run, Parser(args).parse(), {}, 0};
  } catch (const HelpRequested&) {
    return {CommandLineOutcome::Action::help, {}, command_line::format_help(prog, width), 0};
  } catch (const UsageError& error) {
    std::string output = command_line::format_usage(prog, width);
    output += prog;
    output += ": error: " + error.message + "\n";
    return {CommandLineOutcome::Action::usage_error, {}, std::move(output), 2};
  }
}

}  // namespace quillon
