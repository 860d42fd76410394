// The host decoder's rules: a lead byte with the continuation ranges it
// allows (no overlong forms, no surrogates, nothing past U+10FFFF).
#include "text/utf8_diagnosis.hpp"

namespace quillon::unicode {

Utf8Fault diagnose_utf8(std::string_view b, std::size_t start) {
  unsigned char c = static_cast<unsigned char>(b[start]);
  if (c < 0xC2 || c > 0xF4) return {start, start + 1, "invalid start byte"};
  int n = c <= 0xDF ? 1 : c <= 0xEF ? 2 : 3;
  unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  std::size_t k = 1;
  for (; k <= static_cast<std::size_t>(n) && start + k < b.size(); ++k) {
    unsigned char t = static_cast<unsigned char>(b[start + k]);
    if (k == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) break;
  }
  if (start + k >= b.size()) return {start, b.size(), "unexpected end of data"};
  return {start, start + k, "invalid continuation byte"};
}

}  // namespace quillon::unicode
