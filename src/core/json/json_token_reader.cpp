#include "json/json_token_reader.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "base/errors.hpp"
#include "text/unicode.hpp"

namespace quillon::json::detail {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits of a \u escape at text[pos], or -1.
long read_hex4(std::string_view text, std::size_t pos) {
  if (pos + 4 > text.size()) return -1;
  long v = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    int h = hex_value(text[pos + i]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool matches(std::string_view text, std::size_t pos, std::string_view word) {
  return text.substr(pos, word.size()) == word;
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

}  // namespace

std::size_t read_string(std::string_view text, std::size_t pos, std::string& out) {
  const std::size_t begin = pos - 1;
  const std::size_t n = text.size();
  while (true) {
    std::size_t run = pos;
    while (run < n) {
      unsigned char c = static_cast<unsigned char>(text[run]);
      if (c == '"' || c == '\\' || c < 0x20) break;
      ++run;
    }
    out.append(text.data() + pos, run - pos);
    pos = run;
    if (pos >= n) throw JsonDecodeError("Unterminated string starting at", begin);
    char c = text[pos];
    if (c == '"') return pos + 1;
    if (c != '\\') throw JsonDecodeError("Invalid control character in string", pos);
    if (pos + 1 >= n) throw JsonDecodeError("Unterminated string starting at", begin);
    char e = text[pos + 1];
    switch (e) {
      case '"':
        out += '"';
        break;
      case '\\':
        out += '\\';
        break;
      case '/':
        out += '/';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        long cp = read_hex4(text, pos + 2);
        if (cp < 0) throw JsonDecodeError("Invalid \\uXXXX escape", pos + 1);
        pos += 6;
        // A high surrogate pairs with an immediately following low one;
        // otherwise each stays a lone surrogate, as the host keeps it.
        if (cp >= 0xD800 && cp <= 0xDBFF && pos + 1 < n && text[pos] == '\\' && text[pos + 1] == 'u') {
          long low = read_hex4(text, pos + 2);
          if (low < 0) throw JsonDecodeError("Invalid \\uXXXX escape", pos + 1);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            pos += 6;
          }
        }
        unicode::append(out, static_cast<char32_t>(cp));
        continue;
      }
      default:
        throw JsonDecodeError("Invalid \\escape", pos);
    }
    pos += 2;
  }
}

std::size_t read_scalar(std::string_view text, std::size_t pos, Value& out) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const std::size_t start = pos;
  const std::size_t n = text.size();
  if (pos >= n) throw JsonDecodeError("Expecting value", pos);
  switch (text[pos]) {
    case 'n':
      if (!matches(text, pos, "null")) break;
      out = Value::null();
      return pos + 4;
    case 't':
      if (!matches(text, pos, "true")) break;
      out = Value::boolean(true);
      return pos + 4;
    case 'f':
      if (!matches(text, pos, "false")) break;
      out = Value::boolean(false);
      return pos + 5;
    case 'N':
      if (!matches(text, pos, "NaN")) break;
      out = Value::real(std::numeric_limits<double>::quiet_NaN());
      return pos + 3;
    case 'I':
      if (!matches(text, pos, "Infinity")) break;
      out = Value::real(inf);
      return pos + 8;
    case '-':
      if (matches(text, pos, "-Infinity")) {
        out = Value::real(-inf);
        return pos + 9;
      }
      break;
    default:
      break;
  }
  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][-+]?[0-9]+)?
  const bool negative = text[pos] == '-';
  if (negative) ++pos;
  if (pos >= n || !is_digit(text[pos])) throw JsonDecodeError("Expecting value", start);
  if (text[pos] == '0')
    ++pos;
  else
    while (pos < n && is_digit(text[pos])) ++pos;
  const std::size_t int_end = pos;
  if (pos + 1 < n && text[pos] == '.' && is_digit(text[pos + 1])) {
    pos += 2;
    while (pos < n && is_digit(text[pos])) ++pos;
  }
  const std::size_t mantissa_end = pos;
  if (pos < n && (text[pos] == 'e' || text[pos] == 'E')) {
    std::size_t p = pos + 1;
    if (p < n && (text[p] == '+' || text[p] == '-')) ++p;
    if (p < n && is_digit(text[p])) {
      while (p < n && is_digit(text[p])) ++p;
      pos = p;
    }
  }
  std::string_view token = text.substr(start, pos - start);
  if (pos == int_end) {
    std::string_view digits = text.substr(start + negative, int_end - start - negative);
    if (digits.size() <= 19) {
      std::uint64_t magnitude = 0;
      for (char c : digits) magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
      if (!negative && magnitude <= std::uint64_t(INT64_MAX)) {
        out = Value::integer(static_cast<std::int64_t>(magnitude));
        return pos;
      }
      if (negative && magnitude <= std::uint64_t(INT64_MAX) + 1) {
        out = Value::integer(static_cast<std::int64_t>(0 - magnitude));
        return pos;
      }
    }
    out = Value::big_integer(token);
    return pos;
  }
  double d = 0;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), d);
  if (ec == std::errc::result_out_of_range) {
    d = overflows(text.substr(start, mantissa_end - start), text.substr(mantissa_end, pos - mantissa_end)) ? inf : 0.0;
    if (negative) d = -d;
  } else if (ec != std::errc() || end != token.data() + token.size()) {
    throw JsonDecodeError("Invalid number", start);
  }
  out = Value::real(d);
  return pos;
}

}  // namespace quillon::json::detail
