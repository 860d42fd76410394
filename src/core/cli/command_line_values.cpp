#include "cli/command_line_values.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "text/ascii_case.hpp"
#include "text/decimal_digits.hpp"
#include "text/unicode.hpp"

namespace quillon::command_line {
namespace {

// The text stripped of white space, with digits of every script as ASCII
// digits and underscores checked (each between two digits) and removed.
// Nothing when a character is neither ASCII nor a digit.
std::optional<std::string> ascii_number(std::string_view text) {
  if (unicode::first_invalid_utf8(text) != std::string_view::npos) return std::nullopt;
  text = unicode::strip(text);
  std::string out;
  bool after_digit = false, after_underscore = false;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = unicode::next(text, pos);
    const int digit = unicode::decimal_value(cp);
    if (cp == '_') {
      if (!after_digit) return std::nullopt;
      after_digit = false;
      after_underscore = true;
      continue;
    }
    if (after_underscore && digit < 0) return std::nullopt;
    if (digit < 0 && cp > 0x7f) return std::nullopt;
    out += digit >= 0 ? static_cast<char>('0' + digit) : static_cast<char>(cp);
    after_digit = digit >= 0;
    after_underscore = false;
  }
  if (after_underscore) return std::nullopt;
  return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether digits[.digits][e[sign]digits] (with digits on at least one side
// of the point) spells a number too large for a double rather than too
// small; only asked when the conversion found it out of range.
bool overflows(std::string_view number) {
  const std::size_t e = number.find_first_of("eE");
  const std::string_view mantissa = number.substr(0, e);
  long long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = number.substr(e + 1);
    const bool negative = digits[0] == '-';
    if (digits[0] == '-' || digits[0] == '+') digits.remove_prefix(1);
    for (char c : digits) exponent = std::min<long long>(exponent * 10 + (c - '0'), LLONG_MAX / 20);
    if (negative) exponent = -exponent;
  }
  // The decimal exponent of the first significant digit.
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return false;
  const long long position =
      first < point ? static_cast<long long>(point - first) - 1 : -static_cast<long long>(first - point);
  return exponent + position > 0;
}

}  // namespace

std::optional<long long> host_int(std::string_view text) {
  std::optional<std::string> ascii = ascii_number(text);
  if (!ascii) return std::nullopt;
  std::string_view digits = *ascii;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  long long value = 0;
  for (char c : digits) {
    if (!is_digit(c)) return std::nullopt;
    const int digit = c - '0';
    value = value > (LLONG_MAX - digit) / 10 ? LLONG_MAX : value * 10 + digit;
  }
  return negative ? -value : value;
}

std::optional<double> host_float(std::string_view text) {
  std::optional<std::string> ascii = ascii_number(text);
  if (!ascii) return std::nullopt;
  std::string_view number = *ascii;
  bool negative = false;
  if (!number.empty() && (number[0] == '+' || number[0] == '-')) {
    negative = number[0] == '-';
    number.remove_prefix(1);
  }
  if (ascii::equals_ignoring_case(number, "inf") || ascii::equals_ignoring_case(number, "infinity"))
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  if (ascii::equals_ignoring_case(number, "nan")) return std::numeric_limits<double>::quiet_NaN();

  // digits[.digits][(e|E)[sign]digits], with a digit before or after the point.
  std::size_t pos = 0, mantissa_digits = 0;
  while (pos < number.size() && is_digit(number[pos])) ++pos, ++mantissa_digits;
  if (pos < number.size() && number[pos] == '.')
    for (++pos; pos < number.size() && is_digit(number[pos]);) ++pos, ++mantissa_digits;
  if (mantissa_digits == 0) return std::nullopt;
  if (pos < number.size() && (number[pos] == 'e' || number[pos] == 'E')) {
    ++pos;
    if (pos < number.size() && (number[pos] == '+' || number[pos] == '-')) ++pos;
    const std::size_t exponent_start = pos;
    while (pos < number.size() && is_digit(number[pos])) ++pos;
    if (pos == exponent_start) return std::nullopt;
  }
  if (pos != number.size()) return std::nullopt;

  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range)
    value = overflows(number) ? std::numeric_limits<double>::infinity() : 0.0;
  else if (error != std::errc() || end != number.data() + number.size())
    return std::nullopt;
  return negative ? -value : value;
}

std::optional<std::string> refuse_file_name(std::string_view text) {
  if (text.empty()) return "must not be empty";
  return std::nullopt;
}

}  // namespace quillon::command_line
