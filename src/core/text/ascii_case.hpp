// ASCII letters compared without case, as protocol words (URL schemes, HTTP
// header names) and the host's number words ("inf", "nan") are.
#pragma once

#include <string_view>

namespace quillon::ascii {

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Whether `text` starts with `lower_prefix`, which is written in lower case.
constexpr bool starts_with_ignoring_case(std::string_view text, std::string_view lower_prefix) {
  if (text.size() < lower_prefix.size()) return false;
  for (std::size_t i = 0; i < lower_prefix.size(); ++i)
    if (lower(text[i]) != lower_prefix[i]) return false;
  return true;
}

constexpr bool equals_ignoring_case(std::string_view text, std::string_view lower_word) {
  return text.size() == lower_word.size() && starts_with_ignoring_case(text, lower_word);
}

constexpr bool contains_ignoring_case(std::string_view text, std::string_view lower_word) {
  for (std::size_t at = 0; at + lower_word.size() <= text.size(); ++at)
    if (starts_with_ignoring_case(text.substr(at), lower_word)) return true;
  return false;
}

}  // namespace quillon::ascii
