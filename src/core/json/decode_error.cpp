#include "json/decode_error.hpp"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "json/json_decode.hpp"

namespace quillon::json {
namespace {

// The host's scanner refuses at a position; internal to this file.
struct Refusal {
  const char* reason;
  std::size_t at;  // byte offset
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

unsigned hex4(std::string_view s, std::size_t at) {
  unsigned v = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    char c = s[i];
    v = v * 16 + static_cast<unsigned>(is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return v;
}

// Every check below compares ASCII bytes, and every length test the host
// makes in characters gives the same outcome in bytes (a shortfall of
// characters means a multi-byte character where an ASCII one is needed), so
// the scan walks bytes and only the final position is counted in characters.
class HostScan {
 public:
  explicit HostScan(std::string_view s) : s_(s), n_(s.size()) {}

  // Throws Refusal; returns normally when the host accepts the document.
  void document() {
    if (s_.starts_with("\xEF\xBB\xBF")) throw Refusal{"Unexpected UTF-8 BOM (decode using utf-8-sig)", 0};
    std::size_t i = value(skip(0));
    i = skip(i);
    if (i != n_) throw Refusal{"Extra data", i};
  }

 private:
  std::size_t skip(std::size_t i) const {
    while (i < n_ && is_space(s_[i])) ++i;
    return i;
  }

  // One value at `i` and everything nested in it; returns the index after it.
  // Iterative: open containers are on `open`.
  std::size_t value(std::size_t i) {
    std::vector<char> open;  // the closing bracket of each open container
    for (;;) {
      // A value at i.
      bool member_next = false;
      if (i >= n_) throw Refusal{"Expecting value", i};
      const char c = s_[i];
      if (c == '[' || c == '{') {
        if (open.size() >= max_depth) throw Refusal{depth_reason(), i};
        const char close = c == '[' ? ']' : '}';
        i = skip(i + 1);
        if (i < n_ && s_[i] == close) {
          ++i;
        } else {
          open.push_back(close);
          if (close == ']') continue;  // its first item
          member_next = true;
        }
      } else if (c == '"') {
        i = string(i + 1);
      } else {
        i = scalar(i);
      }
      // After a value (or at a member's key): close containers, or go on.
      for (;;) {
        if (member_next) {
          i = member_key(i);
          break;
        }
        if (open.empty()) return i;
        i = skip(i);
        if (i < n_ && s_[i] == open.back()) {
          open.pop_back();
          ++i;
          continue;
        }
        if (i >= n_ || s_[i] != ',') throw Refusal{"Expecting ',' delimiter", i};
        i = skip(i + 1);
        if (open.back() == ']') break;
        member_next = true;
      }
    }
  }

  // A member's key and colon at `i`; returns where its value starts.
  std::size_t member_key(std::size_t i) {
    if (i >= n_ || s_[i] != '"') throw Refusal{"Expecting property name enclosed in double quotes", i};
    i = skip(string(i + 1));
    if (i >= n_ || s_[i] != ':') throw Refusal{"Expecting ':' delimiter", i};
    return skip(i + 1);
  }

  // The string whose opening quote is at i - 1; returns the index after it.
  std::size_t string(std::size_t i) {
    const std::size_t begin = i - 1;
    for (;;) {
      std::size_t at = i;
      while (at < n_ && s_[at] != '"' && s_[at] != '\\') {
        if (static_cast<unsigned char>(s_[at]) <= 0x1f) throw Refusal{"Invalid control character at", at};
        ++at;
      }
      if (at >= n_) throw Refusal{"Unterminated string starting at", begin};
      if (s_[at] == '"') return at + 1;
      std::size_t next = at + 1;  // after the backslash
      if (next == n_) throw Refusal{"Unterminated string starting at", begin};
      const char e = s_[next];
      if (e != 'u') {
        if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) throw Refusal{"Invalid \\escape", at};
        i = next + 1;
        continue;
      }
      // \uXXXX: errors point at the "u".
      std::size_t end = next + 5;
      if (end >= n_) throw Refusal{"Invalid \\uXXXX escape", next};
      for (std::size_t k = next + 1; k < end; ++k)
        if (!is_hex(s_[k])) throw Refusal{"Invalid \\uXXXX escape", next};
      const unsigned unit = hex4(s_, next + 1);
      if (unit >= 0xD800 && unit <= 0xDBFF && end + 6 < n_ && s_[end] == '\\' && s_[end + 1] == 'u') {
        for (std::size_t k = end + 2; k < end + 6; ++k)
          if (!is_hex(s_[k])) throw Refusal{"Invalid \\uXXXX escape", end + 1};
        const unsigned low = hex4(s_, end + 2);
        if (low >= 0xDC00 && low <= 0xDFFF) end += 6;
      }
      i = end;
    }
  }

  bool spelled(std::size_t i, std::string_view word) const { return s_.substr(i, word.size()) == word; }

  // Constants and numbers; anything else at i is "Expecting value" there.
  std::size_t scalar(std::size_t i) {
    const std::size_t start = i;
    // A constant counts only when the whole word is there; anything else
    // is read as a number.
    for (std::string_view word : {"null", "true", "false", "NaN", "Infinity", "-Infinity"})
      if (spelled(i, word)) return i + word.size();
    if (s_[i] == '-' && ++i >= n_) throw Refusal{"Expecting value", start};
    if (s_[i] >= '1' && s_[i] <= '9') {
      while (++i < n_ && is_digit(s_[i])) {
      }
    } else if (s_[i] == '0') {
      ++i;
    } else {
      throw Refusal{"Expecting value", start};
    }
    if (i + 1 < n_ && s_[i] == '.' && is_digit(s_[i + 1])) {
      i += 2;
      while (i < n_ && is_digit(s_[i])) ++i;
    }
    if (i + 1 < n_ && (s_[i] == 'e' || s_[i] == 'E')) {
      // An exponent without digits is not part of the number.
      const std::size_t e = i++;
      if (i + 1 < n_ && (s_[i] == '-' || s_[i] == '+')) ++i;
      while (i < n_ && is_digit(s_[i])) ++i;
      if (!is_digit(s_[i - 1])) i = e;
    }
    return i;
  }

  static const char* depth_reason() {
    static const std::string reason = "Nesting deeper than " + std::to_string(max_depth) + " levels";
    return reason.c_str();
  }

  std::string_view s_;
  std::size_t n_;
};

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
    HostScan(document).document();
  } catch (const Refusal& refusal) {
    return at_byte(document, refusal.reason, refusal.at);
  }
  return std::nullopt;
}

JsonDecodeError explain_refusal(std::string_view document, const JsonDecodeError& refused) {
  if (auto diagnosis = diagnose(document)) return std::move(*diagnosis);
  return at_byte(document, refused.reason(), refused.position());
}

}  // namespace quillon::json
