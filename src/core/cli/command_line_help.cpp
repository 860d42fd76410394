#include "cli/command_line_help.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/version.hpp"
#include "text/unicode.hpp"

namespace quillon::command_line {
namespace {

constexpr std::string_view usage_prefix = "usage: ";
// Indentation of the entries of the "options:" section.
constexpr int entry_indent = 2;

// Lengths are counted in code points, as the host's len() counts them.
int text_length(std::string_view text) { return static_cast<int>(unicode::length(text)); }

std::string spaces(int n) { return std::string(static_cast<std::size_t>(std::max(n, 0)), ' '); }

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

// textwrap.wrap(text, width) with the default settings, for the fixed help
// texts: single spaces between words, no hyphens, ASCII only.
std::vector<std::string> wrap(std::string_view text, int width) {
  std::vector<std::string> chunks;  // reversed: the next chunk is at the back
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = pos;
    bool space = text[pos] == ' ';
    while (end < text.size() && (text[end] == ' ') == space) ++end;
    chunks.emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  std::reverse(chunks.begin(), chunks.end());
  auto is_blank = [](const std::string& chunk) { return chunk.find_first_not_of(' ') == std::string::npos; };

  std::vector<std::string> lines;
  while (!chunks.empty()) {
    std::vector<std::string> line;
    int length = 0;
    if (!lines.empty() && is_blank(chunks.back())) chunks.pop_back();
    while (!chunks.empty() && length + static_cast<int>(chunks.back().size()) <= width) {
      length += static_cast<int>(chunks.back().size());
      line.push_back(std::move(chunks.back()));
      chunks.pop_back();
    }
    if (!chunks.empty() && static_cast<int>(chunks.back().size()) > width) {
      // A word longer than the line: as much of it as fits, the rest goes on.
      std::size_t room = static_cast<std::size_t>(width < 1 ? 1 : width - length);
      std::string& word = chunks.back();
      line.push_back(word.substr(0, room));
      word.erase(0, std::min(room, word.size()));
    }
    if (!line.empty() && is_blank(line.back())) line.pop_back();
    if (!line.empty()) lines.push_back(join(line, ""));
  }
  return lines;
}

// The option parts of the usage line: "[-h]", "[--username USERNAME]",
// "[-j N]": each option under its first spelling.
std::vector<std::string> usage_parts() {
  std::vector<std::string> parts;
  for (const auto& option : option_table) {
    std::string part = "[";
    part += option.short_name.empty() ? option.long_name : option.short_name;
    if (takes_value(option.kind)) (part += ' ') += option.metavar;
    parts.push_back(part += ']');
  }
  return parts;
}

// The positional parts: "[FILE ...]" (nargs="*").
std::vector<std::string> positional_parts() { return {"[" + std::string(file_arguments.metavar) + " ...]"}; }

// "-j N, --jobs N", "-v, --verbose", "--json": every spelling of the option.
std::string invocation(const OptionSpec& option) {
  std::string value;
  if (takes_value(option.kind)) (value += ' ') += option.metavar;
  std::string out;
  if (!option.short_name.empty()) ((out += option.short_name) += value) += ", ";
  return (out += option.long_name) += value;
}

// Greedy filling of usage parts into lines no wider than `text_width`; the
// first line may start after `prefix` instead of `indent`.
std::vector<std::string> usage_lines(const std::vector<std::string>& parts, const std::string& indent, int text_width,
                                     const std::string_view* prefix) {
  std::vector<std::string> lines, line;
  int indent_length = static_cast<int>(indent.size());
  int line_length = (prefix ? text_length(*prefix) : indent_length) - 1;
  for (const auto& part : parts) {
    int part_length = text_length(part);
    if (line_length + 1 + part_length > text_width && !line.empty()) {
      lines.push_back(indent + join(line, " "));
      line.clear();
      line_length = indent_length - 1;
    }
    line.push_back(part);
    line_length += part_length + 1;
  }
  if (!line.empty()) lines.push_back(indent + join(line, " "));
  if (prefix && !lines.empty()) lines[0].erase(0, indent.size());
  return lines;
}

// The usage section as the formatter produces it, before the page's final
// clean-up: "usage: " + the (possibly wrapped) usage + a blank line.
std::string usage_section(std::string_view prog, int width) {
  const std::vector<std::string> options = usage_parts(), positionals = positional_parts();
  std::vector<std::string> parts = options;
  parts.insert(parts.end(), positionals.begin(), positionals.end());
  const std::string prog_text(prog);
  std::string usage = join(parts, " ");
  if (!prog.empty()) usage = prog_text + " " + usage;

  const int text_width = width;
  const int prefix_length = text_length(usage_prefix);
  const int prog_length = text_length(prog);
  if (prefix_length + text_length(usage) > text_width) {
    std::vector<std::string> lines;
    auto append = [&lines](const std::vector<std::string>& more) {
      lines.insert(lines.end(), more.begin(), more.end());
    };
    // A short program name is followed by the options, which wrap beneath
    // its end, and the positionals on lines of their own; a long one stands
    // on a line of its own, with options and positionals together if they
    // fit on one line, else each on lines of their own.
    if (4 * (prefix_length + prog_length) <= 3 * text_width) {
      const std::string indent = spaces(prefix_length + prog_length + 1);
      std::vector<std::string> with_prog{prog_text};
      with_prog.insert(with_prog.end(), options.begin(), options.end());
      lines = usage_lines(with_prog, indent, text_width, &usage_prefix);
      append(usage_lines(positionals, indent, text_width, nullptr));
    } else {
      const std::string indent = spaces(prefix_length);
      lines = usage_lines(parts, indent, text_width, nullptr);
      if (lines.size() > 1) {
        lines = usage_lines(options, indent, text_width, nullptr);
        append(usage_lines(positionals, indent, text_width, nullptr));
      }
      lines.insert(lines.begin(), prog_text);
    }
    usage = join(lines, "\n");
  }
  return std::string(usage_prefix) + usage + "\n\n";
}

// One entry of the "options:" section: the invocation, then the help text
// beside it or, when the invocation is too wide, on the lines below.
std::string option_entry(std::string_view invocation, std::string_view help, int help_position, int width) {
  const int help_width = std::max(width - help_position, 11);
  const int action_width = help_position - entry_indent - 2;
  const int invocation_length = static_cast<int>(invocation.size());
  std::string out = spaces(entry_indent) + std::string(invocation);
  int indent_first = 0;
  if (invocation_length <= action_width) {
    out += spaces(action_width - invocation_length) + "  ";
  } else {
    out += "\n";
    indent_first = help_position;
  }
  const std::vector<std::string> lines = wrap(help, help_width);
  for (std::size_t i = 0; i < lines.size(); ++i) out += spaces(i == 0 ? indent_first : help_position) + lines[i] + "\n";
  return out;
}

// The "positional arguments:" and "options:" sections, whose help texts
// start in the same column.
std::string argument_sections(int width) {
  std::vector<std::pair<std::string, std::string_view>> entries;
  for (const auto& option : option_table) entries.emplace_back(invocation(option), option.help);

  int longest = static_cast<int>(file_arguments.metavar.size()) + entry_indent;
  for (const auto& entry : entries) longest = std::max(longest, static_cast<int>(entry.first.size()) + entry_indent);
  const int max_help_position = std::min(24, std::max(width - 20, 4));
  const int help_position = std::min(longest + 2, max_help_position);

  std::string items;
  for (const auto& [invocation, help] : entries) items += option_entry(invocation, help, help_position, width);
  return "\npositional arguments:\n" + option_entry(file_arguments.metavar, file_arguments.help, help_position, width) +
         "\n" + "\noptions:\n" + items + "\n";
}

// The formatter's last step: runs of three or more line breaks become two,
// and the page is trimmed of line breaks and ends in exactly one.
std::string finish_page(const std::string& page) {
  std::string out;
  for (std::size_t i = 0; i < page.size();) {
    if (page[i] == '\n') {
      std::size_t run = page.find_first_not_of('\n', i);
      if (run == std::string::npos) run = page.size();
      out.append(run - i >= 3 ? 2 : run - i, '\n');
      i = run;
    } else {
      out += page[i++];
    }
  }
  const std::size_t first = out.find_first_not_of('\n');
  if (first == std::string::npos) return "\n";
  const std::size_t last = out.find_last_not_of('\n');
  return out.substr(first, last - first + 1) + "\n";
}

// A paragraph of plain text, filled to the formatter's width.
std::string text_section(std::string_view text, int width) {
  return join(wrap(text, std::max(width, 11)), "\n") + "\n\n";
}

}  // namespace

std::string format_usage(std::string_view prog, int width) { return finish_page(usage_section(prog, width)); }

std::string format_help(std::string_view prog, int width) {
  return finish_page(usage_section(prog, width) + text_section(description, width) + argument_sections(width) +
                     text_section(epilog, width));
}

std::string format_version(int width) {
  return finish_page(text_section("quillon " + std::string(quillon_version()), width));
}

}  // namespace quillon::command_line
