// The help formatter's default width, found as the host finds the terminal
// size: COLUMNS if it is a positive integer, else the terminal on standard
// output, else 80 columns; two columns are kept free.
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "cli/command_line.hpp"
#include "text/decimal_digits.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

// int(text) as the host reads it: surrounding white space, a sign, decimal
// digits of any script, single underscores between digits. Saturates.
std::optional<long long> parse_host_int(std::string_view text) {
  if (unicode::first_invalid_utf8(text) != std::string_view::npos) return std::nullopt;
  text = unicode::strip(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  long long value = 0;
  bool digit_before = false;  // the previous character was a digit
  bool any = false;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = unicode::next(text, pos);
    if (cp == '_') {
      if (!digit_before) return std::nullopt;
      digit_before = false;
      continue;
    }
    const int digit = unicode::decimal_value(cp);
    if (digit < 0) return std::nullopt;
    value = value > (LLONG_MAX - digit) / 10 ? LLONG_MAX : value * 10 + digit;
    digit_before = any = true;
  }
  if (!any || !digit_before) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

int default_help_width() {
  long long columns = 0;
  if (const char* env = std::getenv("COLUMNS")) columns = parse_host_int(env).value_or(0);
  if (columns <= 0) {
    winsize size{};
    columns = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col ? size.ws_col : 80;
  }
  if (columns > INT_MAX) columns = INT_MAX;
  return static_cast<int>(columns - 2);
}

}  // namespace quillon
