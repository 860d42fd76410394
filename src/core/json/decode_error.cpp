#include "json/decode_error.hpp"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "json/json_decode.hpp"
#include "json/json_token_reader.hpp"

namespace quillon::json {
namespace {

using detail::skip_space;

// The host's walk over a document, its tokens read by the token reader.
// Every check compares ASCII bytes, and every length test the host makes in
// characters gives the same outcome in bytes (a shortfall of characters
// means a multi-byte character where an ASCII one is needed), so the walk
// goes by bytes and only the final position is counted in characters.
// Throws JsonDecodeError at a byte; returns when the host accepts the text.
void host_walk(std::string_view s) {
  const std::size_t n = s.size();
  if (s.starts_with("\xEF\xBB\xBF")) throw JsonDecodeError("Unexpected UTF-8 BOM (decode using utf-8-sig)", 0);
  std::vector<char> open;  // the closing bracket of each open container
  std::size_t i = skip_space(s, 0);
  // A member's key and colon at `i`; returns where its value starts.
  auto member_key = [&](std::size_t i) {
    if (i >= n || s[i] != '"') throw JsonDecodeError("Expecting property name enclosed in double quotes", i);
    i = skip_space(s, detail::read_string(s, i + 1));
    if (i >= n || s[i] != ':') throw JsonDecodeError("Expecting ':' delimiter", i);
    return skip_space(s, i + 1);
  };
  for (;;) {
    // A value at i.
    bool member_next = false;
    if (i >= n) throw JsonDecodeError("Expecting value", i);
    const char c = s[i];
    if (c == '[' || c == '{') {
      if (open.size() >= max_depth) detail::refuse_depth(i);
      const char close = c == '[' ? ']' : '}';
      i = skip_space(s, i + 1);
      if (i < n && s[i] == close) {
        ++i;
      } else {
        open.push_back(close);
        if (close == ']') continue;  // its first item
        member_next = true;
      }
    } else if (c == '"') {
      i = detail::read_string(s, i + 1);
    } else {
      i = detail::scan_scalar(s, i);
    }
    // After a value (or at a member's key): close containers, or go on.
    for (;;) {
      if (member_next) {
        i = member_key(i);
        break;
      }
      if (open.empty()) {
        i = skip_space(s, i);
        if (i != n) throw JsonDecodeError("Extra data", i);
        return;
      }
      i = skip_space(s, i);
      if (i < n && s[i] == open.back()) {
        open.pop_back();
        ++i;
        continue;
      }
      if (i >= n || s[i] != ',') throw JsonDecodeError("Expecting ',' delimiter", i);
      i = skip_space(s, i + 1);
      if (open.back() == ']') break;
      member_next = true;
    }
  }
}

std::size_t characters(std::string_view utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The error at byte `at` of `document`, positions counted as the host counts them.
JsonDecodeError at_byte(std::string_view document, std::string reason, std::size_t at) {
  at = std::min(at, document.size());
  const std::string_view before = document.substr(0, at);
  const std::size_t line_start = before.rfind('\n') == std::string_view::npos ? 0 : before.rfind('\n') + 1;
  const std::size_t line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
  const std::size_t column = characters(before.substr(line_start)) + 1;
  return JsonDecodeError(std::move(reason), characters(before), line, column,
                         std::make_shared<const std::string>(document));
}

}  // namespace

std::optional<JsonDecodeError> diagnose(std::string_view document) {
  try {
    host_walk(document);
  } catch (const JsonDecodeError& refusal) {
    return at_byte(document, refusal.reason(), refusal.position());
  }
  return std::nullopt;
}

JsonDecodeError explain_refusal(std::string_view document, const JsonDecodeError& refused) {
  if (auto diagnosis = diagnose(document)) return std::move(*diagnosis);
  return at_byte(document, refused.reason(), refused.position());
}

}  // namespace quillon::json
