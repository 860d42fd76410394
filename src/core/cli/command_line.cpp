#include "cli/command_line.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <map>
#include <type_traits>
#include <utility>
#include <variant>

#include "cli/command_line_help.hpp"
#include "cli/command_line_values.hpp"
#include "print/repr.hpp"
#include "text/decimal_digits.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

using command_line::option_table;
using command_line::OptionKind;
using command_line::OptionSpec;

// An action is an index into option_table, or this for an unknown option.
constexpr int unknown_action = -1;

// Every option string with its action, in the order argparse registers them
// (each option's short form before its long one); ambiguity messages list
// candidates in this order.
struct OptionString {
  std::string_view text;
  int action;
};

constexpr std::size_t count_option_strings() {
  std::size_t n = 0;
  for (const auto& option : option_table) n += option.short_name.empty() ? 1 : 2;
  return n;
}

constexpr std::array<OptionString, count_option_strings()> list_option_strings() {
  std::array<OptionString, count_option_strings()> out{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < option_table.size(); ++i) {
    if (!option_table[i].short_name.empty()) out[n++] = {option_table[i].short_name, static_cast<int>(i)};
    out[n++] = {option_table[i].long_name, static_cast<int>(i)};
  }
  return out;
}
constexpr auto option_strings = list_option_strings();

// Where each destination lives in CommandLineOptions, by the type its kind
// stores: text, seconds, counts, flags.
using Field =
    std::variant<std::optional<std::string> CommandLineOptions::*, std::optional<double> CommandLineOptions::*,
                 std::optional<int> CommandLineOptions::*, bool CommandLineOptions::*>;
constexpr std::array<std::pair<std::string_view, Field>, 16> fields{{
    {"controller_ip", &CommandLineOptions::controller_ip},
    {"username", &CommandLineOptions::username},
    {"password", &CommandLineOptions::password},
    {"config_dir", &CommandLineOptions::config_dir},
    {"connect_timeout", &CommandLineOptions::connect_timeout},
    {"max_time", &CommandLineOptions::max_time},
    {"retry", &CommandLineOptions::retry},
    {"retry_delay", &CommandLineOptions::retry_delay},
    {"cacert", &CommandLineOptions::cacert},
    {"max_filesize", &CommandLineOptions::max_filesize},
    {"verify", &CommandLineOptions::verify},
    {"verbose", &CommandLineOptions::verbose},
    {"jobs", &CommandLineOptions::jobs},
    {"json", &CommandLineOptions::json},
    {"save", &CommandLineOptions::save},
    {"compare", &CommandLineOptions::compare},
}};

constexpr std::size_t field_type(OptionKind kind) {
  switch (kind) {
    case OptionKind::seconds:
      return 1;
    case OptionKind::count:
      return 2;
    case OptionKind::flag:
      return 3;
    default:
      return 0;
  }
}

constexpr const Field* find_field(std::string_view dest) {
  for (const auto& [name, field] : fields)
    if (name == dest) return &field;
  return nullptr;
}

// Every option that stores a value has a field of the matching type.
constexpr bool fields_match_table() {
  for (const auto& option : option_table) {
    if (option.kind == OptionKind::help || option.kind == OptionKind::version) continue;
    const Field* field = find_field(option.dest);
    if (!field || field->index() != field_type(option.kind)) return false;
  }
  return true;
}
static_assert(fields_match_table());

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

// "-j/--jobs", "--retry": how error messages name an option.
std::string action_name(int action) {
  const OptionSpec& option = option_table[static_cast<std::size_t>(action)];
  if (option.short_name.empty()) return std::string(option.long_name);
  return std::string(option.short_name) + "/" + std::string(option.long_name);
}

UsageError argument_error(int action, std::string_view message) {
  return {"argument " + action_name(action) + ": " + std::string(message)};
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
struct VersionRequested {};

// A number option's value as the host would convert it; a refusal names the
// host type as argparse does ("invalid int value: 'x'").
template <typename Number>
Number convert(int action, const std::string& value) {
  const OptionSpec& option = option_table[static_cast<std::size_t>(action)];
  double number = 0;
  if constexpr (std::is_same_v<Number, int>) {
    std::optional<long long> parsed = command_line::host_int(value);
    if (!parsed) throw argument_error(action, "invalid int value: " + repr::quoted(value));
    number = static_cast<double>(std::clamp<long long>(*parsed, INT_MIN, INT_MAX));
  } else {
    std::optional<double> parsed = command_line::host_float(value);
    if (!parsed || !std::isfinite(*parsed)) throw argument_error(action, "invalid float value: " + repr::quoted(value));
    number = *parsed;
  }
  if (number < option.minimum) throw argument_error(action, "must be at least " + std::to_string(option.minimum));
  if (number > option.maximum) throw argument_error(action, "must be at most " + std::to_string(option.maximum));
  return static_cast<Number>(number);
}

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
      take_plain(index, next->first);
      index = consume_option(next->first);
    }
    take_plain(index, args_.size());
    if (!extras_.empty()) {
      std::string joined = extras_.front();
      for (std::size_t i = 1; i < extras_.size(); ++i) joined += " " + extras_[i];
      throw UsageError{"unrecognized arguments: " + joined};
    }
    return result_;
  }

 private:
  // Plain arguments [begin, end): the first run of them is the FILE
  // arguments, less its first "--"; argparse does not intermix, so any
  // later run is unrecognised.
  void take_plain(std::size_t begin, std::size_t end) {
    if (begin == end) return;
    if (files_taken_) {
      extras_.insert(extras_.end(), args_.begin() + static_cast<std::ptrdiff_t>(begin),
                     args_.begin() + static_cast<std::ptrdiff_t>(end));
      return;
    }
    files_taken_ = true;
    bool separator_dropped = false;
    for (std::size_t i = begin; i < end; ++i) {
      if (!separator_dropped && pattern_[i] == '-') {
        separator_dropped = true;
        continue;
      }
      result_.files.push_back(args_[i]);
    }
  }

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
  // A cluster of short options ("-vj4") is read whole before any of its
  // options acts, as argparse does.
  std::size_t consume_option(std::size_t index) {
    const OptionUse& use = options_.at(index);
    int action = use.action;
    std::optional<std::string> value = use.explicit_value;
    std::string option_string = use.option_string;
    std::vector<std::pair<int, std::optional<std::string>>> steps;
    std::size_t stop = index + 1;
    while (true) {
      if (action == unknown_action) {
        extras_.push_back(args_[index]);
        return index + 1;
      }
      const bool needs_value = command_line::takes_value(option_table[static_cast<std::size_t>(action)].kind);
      if (value) {
        if (needs_value) {
          note_secret(action, {index, args_[index].size() - value->size()});
          steps.emplace_back(action, std::move(value));
          break;
        }
        // A short option without a value: what is joined to it are further
        // short options; anything else joined to it is refused.
        if (option_string[1] == '-' || value->empty())
          throw argument_error(action, "ignored explicit argument " + repr::quoted(*value));
        steps.emplace_back(action, std::nullopt);
        option_string = std::string("-") + (*value)[0];
        const int next = find_option(option_string);
        if (next == unknown_action) throw argument_error(action, "ignored explicit argument " + repr::quoted(*value));
        action = next;
        if (value->size() == 1)
          value.reset();
        else
          value->erase(0, 1);
        continue;
      }
      if (!needs_value) {
        steps.emplace_back(action, std::nullopt);
        break;
      }
      if (index + 1 >= pattern_.size() || pattern_[index + 1] != 'A')
        throw argument_error(action, "expected one argument");
      note_secret(action, {index + 1, 0});
      steps.emplace_back(action, args_[index + 1]);
      stop = index + 2;
      break;
    }
    for (const auto& [step_action, step_value] : steps) take(step_action, step_value);
    return stop;
  }

  void note_secret(int action, ArgumentPart where) {
    if (option_table[static_cast<std::size_t>(action)].dest == "password") result_.password_values.push_back(where);
  }

  void take(int action, const std::optional<std::string>& value) {
    const OptionSpec& option = option_table[static_cast<std::size_t>(action)];
    if (option.kind == OptionKind::help) throw HelpRequested{};
    if (option.kind == OptionKind::version) throw VersionRequested{};
    // argparse drops a "--" from an option's values, leaving an empty list
    // that it neither converts nor checks: empty text, or no number.
    const bool emptied = value == "--";
    std::visit(
        [&](auto member) {
          auto& field = result_.*member;
          using Type = std::remove_reference_t<decltype(field)>;
          if constexpr (std::is_same_v<Type, bool>) {
            field = true;
          } else if constexpr (std::is_same_v<Type, std::optional<std::string>>) {
            if (option.kind == OptionKind::file && !emptied)
              if (std::optional<std::string> refused = command_line::refuse_file_name(*value))
                throw argument_error(action, *refused);
            field = emptied ? std::string() : *value;
          } else if (emptied) {
            field.reset();
          } else {
            field = convert<typename Type::value_type>(action, *value);
          }
        },
        *find_field(option.dest));
  }

  const std::vector<std::string>& args_;
  std::string pattern_;
  std::map<std::size_t, OptionUse> options_;
  std::vector<std::string> extras_;
  bool files_taken_ = false;
  CommandLineOptions result_;
};

}  // namespace

CommandLineOutcome parse_command_line(const std::vector<std::string>& args, std::string_view prog, int width) {
  try {
    return {CommandLineOutcome::Action::run, Parser(args).parse(), {}, 0};
  } catch (const HelpRequested&) {
    return {CommandLineOutcome::Action::help, {}, command_line::format_help(prog, width), 0};
  } catch (const VersionRequested&) {
    return {CommandLineOutcome::Action::version, {}, command_line::format_version(width), 0};
  } catch (const UsageError& error) {
    return {CommandLineOutcome::Action::usage_error, {}, usage_error_text(prog, width, error.message), 2};
  }
}

std::string usage_error_text(std::string_view prog, int width, std::string_view message) {
  std::string output = command_line::format_usage(prog, width);
  output += prog;
  output += ": error: ";
  output += message;
  return output + "\n";
}

}  // namespace quillon
