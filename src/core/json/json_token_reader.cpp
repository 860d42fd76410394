#include "json/json_token_reader.hpp"

#include <charconv>
#include <cstdint>
#include <limits>

#include "base/errors.hpp"
#include "json/json_decode.hpp"
#include "text/unicode.hpp"

namespace quillon::json::detail {
namespace {

bool is_hex(char c) { return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

// The four hex digits at text[at], or -1 unless there are four.
long hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  long v = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    if (!is_hex(c)) return -1;
    v = v * 16 + (is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return v;
}

// Whether a real too large or too small for a double is too large: the
// decimal exponent of its first significant digit decides.
bool overflows(std::string_view mantissa, std::string_view exponent) {
  long long lead = 0;
  bool found = false;
  std::size_t point = mantissa.find('.');
  if (point == std::string_view::npos) point = mantissa.size();
  for (std::size_t i = 0; i < mantissa.size() && !found; ++i) {
    char c = mantissa[i];
    if (c >= '1' && c <= '9') {
      found = true;
      lead = i < point ? static_cast<long long>(point - i - 1) : -static_cast<long long>(i - point);
    }
  }
  if (!found) return false;
  long long exp = 0;
  bool negative = false;
  for (char c : exponent) {
    if (c == '-')
      negative = true;
    else if (is_digit(c) && exp < 1000000000)
      exp = exp * 10 + (c - '0');
  }
  return lead + (negative ? -exp : exp) >= 0;
}

constexpr std::string_view constants[] = {"null", "true", "false", "NaN", "Infinity", "-Infinity"};

}  // namespace

std::size_t read_string(std::string_view text, std::size_t pos, std::string* out) {
  const std::size_t begin = pos - 1, n = text.size();
  for (;;) {
    std::size_t at = pos;
    while (at < n && text[at] != '"' && text[at] != '\\') {
      if (static_cast<unsigned char>(text[at]) <= 0x1f) throw JsonDecodeError("Invalid control character at", at);
      ++at;
    }
    if (out != nullptr) out->append(text.data() + pos, at - pos);
    if (at >= n) throw JsonDecodeError("Unterminated string starting at", begin);
    if (text[at] == '"') return at + 1;
    const std::size_t next = at + 1;  // after the backslash
    if (next == n) throw JsonDecodeError("Unterminated string starting at", begin);
    const char e = text[next];
    if (e != 'u') {
      constexpr std::string_view escapes = "\"\\/bfnrt", meanings = "\"\\/\b\f\n\r\t";
      const std::size_t k = escapes.find(e);
      if (k == std::string_view::npos) throw JsonDecodeError("Invalid \\escape", at);
      if (out != nullptr) *out += meanings[k];
      pos = next + 1;
      continue;
    }
    // \uXXXX, with text after it: errors point at the "u". A high surrogate
    // pairs with a low one escaped right after it; otherwise each stays alone.
    std::size_t end = next + 5;
    long unit = end < n ? hex4(text, next + 1) : -1;
    if (unit < 0) throw JsonDecodeError("Invalid \\uXXXX escape", next);
    if (unit >= 0xD800 && unit <= 0xDBFF && end + 6 < n && text[end] == '\\' && text[end + 1] == 'u') {
      const long low = hex4(text, end + 2);
      if (low < 0) throw JsonDecodeError("Invalid \\uXXXX escape", end + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        end += 6;
      }
    }
    if (out != nullptr) unicode::append(*out, static_cast<char32_t>(unit));
    pos = end;
  }
}

std::size_t scan_scalar(std::string_view text, std::size_t pos) {
  const std::size_t start = pos, n = text.size();
  // A constant counts only when the whole word is there; anything else is
  // read as a number.
  for (std::string_view word : constants)
    if (text.substr(pos, word.size()) == word) return pos + word.size();
  if (pos < n && text[pos] == '-') ++pos;
  if (pos < n && text[pos] >= '1' && text[pos] <= '9') {
    while (++pos < n && is_digit(text[pos])) {
    }
  } else if (pos < n && text[pos] == '0') {
    ++pos;
  } else {
    throw JsonDecodeError("Expecting value", start);
  }
  if (pos + 1 < n && text[pos] == '.' && is_digit(text[pos + 1])) {
    pos += 2;
    while (pos < n && is_digit(text[pos])) ++pos;
  }
  if (pos + 1 < n && (text[pos] == 'e' || text[pos] == 'E')) {
    // An exponent without digits is not part of the number.
    const std::size_t e = pos++;
    if (pos + 1 < n && (text[pos] == '-' || text[pos] == '+')) ++pos;
    while (pos < n && is_digit(text[pos])) ++pos;
    if (!is_digit(text[pos - 1])) pos = e;
  }
  return pos;
}

std::size_t read_scalar(std::string_view text, std::size_t pos, Value& out) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const std::size_t end = scan_scalar(text, pos);
  const std::string_view token = text.substr(pos, end - pos);
  switch (token[0]) {
    case 'n':
      out = Value::null();
      return end;
    case 't':
    case 'f':
      out = Value::boolean(token[0] == 't');
      return end;
    case 'N':
      out = Value::real(std::numeric_limits<double>::quiet_NaN());
      return end;
    case 'I':
      out = Value::real(inf);
      return end;
    default:
      if (token == "-Infinity") {
        out = Value::real(-inf);
        return end;
      }
  }
  const bool negative = token[0] == '-';
  const std::size_t fraction = token.find_first_of(".eE");
  if (fraction == std::string_view::npos) {
    const std::string_view digits = token.substr(negative);
    if (digits.size() <= 19) {
      std::uint64_t magnitude = 0;
      for (char c : digits) magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
      if (magnitude <= std::uint64_t{INT64_MAX} + negative) {
        out =
            Value::integer(negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude));
        return end;
      }
    }
    out = Value::big_integer(token);
    return end;
  }
  double d = 0;
  const auto [stop, ec] = std::from_chars(token.data(), token.data() + token.size(), d);
  if (ec == std::errc::result_out_of_range) {
    const std::size_t exponent = token.find_first_of("eE");
    const std::size_t mantissa_end = exponent == std::string_view::npos ? token.size() : exponent;
    d = overflows(token.substr(0, mantissa_end), token.substr(mantissa_end)) ? inf : 0.0;
    if (negative) d = -d;
  } else if (ec != std::errc() || stop != token.data() + token.size()) {
    throw JsonDecodeError("Invalid number", pos);  // not reached: the token is a number
  }
  out = Value::real(d);
  return end;
}

void refuse_depth(std::size_t at) {
  throw JsonDecodeError("Nesting deeper than " + std::to_string(max_depth) + " levels", at);
}

}  // namespace quillon::json::detail
