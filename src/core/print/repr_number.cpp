// repr of numbers: integers, and reals in the host's shortest round-trip
// form with its choice between positional and scientific notation.
#include <charconv>
#include <cmath>
#include <cstring>

#include "print/repr.hpp"

namespace quillon::repr {

char* write_integer(char* out, std::int64_t i) { return std::to_chars(out, out + max_integer_bytes, i).ptr; }

char* write_real(char* out, double d) {
  auto put = [&out](std::string_view s) {
    std::memcpy(out, s.data(), s.size());
    out += s.size();
  };
  if (std::isnan(d)) {
    put("nan");
    return out;
  }
  if (std::signbit(d)) *out++ = '-';
  if (std::isinf(d)) {
    put("inf");
    return out;
  }
  if (d == 0) {
    put("0.0");
    return out;
  }
  // The shortest round-trip digits ("d.ddde+XX"), then the host's choice of notation.
  char sci[32];
  char* sci_end = std::to_chars(sci, sci + sizeof sci, std::fabs(d), std::chars_format::scientific).ptr;
  const char* e = static_cast<const char*>(std::memchr(sci, 'e', static_cast<std::size_t>(sci_end - sci)));
  char digits[20];
  int n = 0;
  for (const char* c = sci; c < e; ++c)
    if (*c != '.') digits[n++] = *c;
  int exponent = 0;
  for (const char* c = e + 2; c < sci_end; ++c) exponent = exponent * 10 + (*c - '0');
  if (e[1] == '-') exponent = -exponent;

  if (exponent >= -4 && exponent <= 15) {
    int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
      put("0.");
      std::memset(out, '0', static_cast<std::size_t>(-point));
      out += -point;
      put({digits, static_cast<std::size_t>(n)});
    } else if (point >= n) {
      put({digits, static_cast<std::size_t>(n)});
      std::memset(out, '0', static_cast<std::size_t>(point - n));
      out += point - n;
      put(".0");
    } else {
      put({digits, static_cast<std::size_t>(point)});
      *out++ = '.';
      put({digits + point, static_cast<std::size_t>(n - point)});
    }
    return out;
  }
  *out++ = digits[0];
  if (n > 1) {
    *out++ = '.';
    put({digits + 1, static_cast<std::size_t>(n - 1)});
  }
  put(exponent < 0 ? "e-" : "e+");
  int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) *out++ = '0';
  return write_integer(out, magnitude);
}

}  // namespace quillon::repr
