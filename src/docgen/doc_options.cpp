#include "doc_options.hpp"

#include "cli/option_table.hpp"

namespace quillon::docgen {

std::vector<DocOption> documented_options() {
  using command_line::OptionKind;
  std::vector<DocOption> options;
  for (const auto& option : command_line::option_table) {
    ValueKind kind = option.kind == OptionKind::file          ? ValueKind::file
                     : option.kind == OptionKind::directory   ? ValueKind::directory
                     : command_line::takes_value(option.kind) ? ValueKind::text
                                                              : ValueKind::flag;
    bool ends_run = option.kind == OptionKind::help || option.kind == OptionKind::version;
    options.push_back({option.long_name, option.short_name, option.metavar, option.help, kind, ends_run});
  }
  return options;
}

std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out.append(part);
  return out;
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  for (std::size_t pos = 0;;) {
    std::size_t hit = text.find(from, pos);
    out.append(text.substr(pos, hit == std::string_view::npos ? std::string_view::npos : hit - pos));
    if (hit == std::string_view::npos) return out;
    out.append(to);
    pos = hit + from.size();
  }
}

}  // namespace quillon::docgen
