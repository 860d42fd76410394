// The runs behind repr(str) and the printer's text measuring: printable
// ASCII that repr shows as itself, found by the byte scan of
// text/byte_scan.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/byte_scan.hpp"

namespace quillon::repr {

// Stops at anything but printable ASCII, at a backslash and at `a`, `b`
// and `c` (quotes, or a character the caller stops at).
struct NotPlainAscii {
  char a, b, c;

#if defined(__SSE2__)
  __m128i flags16(__m128i v) const {
    const __m128i below = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));  // signed: bytes >= 0x80 are below too
    const __m128i marks = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(a)),
                     _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(b)), _mm_cmpeq_epi8(v, _mm_set1_epi8(c)))));
    return _mm_or_si128(below, marks);
  }
#endif
  std::uint64_t flags8(std::uint64_t x) const {
    using namespace byte_scan;
    return bytes_below(x, 0x20) | high_bytes(x) | bytes_equal(x, 0x7F) | bytes_equal(x, '\\') |
           bytes_equal(x, static_cast<unsigned char>(a)) | bytes_equal(x, static_cast<unsigned char>(b)) |
           bytes_equal(x, static_cast<unsigned char>(c));
  }
  bool stops(unsigned char byte) const {
    return byte < 0x20 || byte >= 0x7F || byte == '\\' || byte == static_cast<unsigned char>(a) ||
           byte == static_cast<unsigned char>(b) || byte == static_cast<unsigned char>(c);
  }
};

// Copies the run at `pos` that holds neither q1 nor q2; the output has room
// for 4 bytes per input byte and 16 more.
inline void copy_plain(std::string_view s, std::size_t& pos, char*& out, char q1, char q2) {
  pos = byte_scan::run_until<true>(s, pos, out, NotPlainAscii{q1, q2, q2});
}

// End of the run from `pos` that holds no quote of either kind and no `also`.
inline std::size_t plain_run_end(std::string_view s, std::size_t pos, char also) {
  char* unused = nullptr;
  return byte_scan::run_until<false>(s, pos, unused, NotPlainAscii{'\'', '"', also});
}

}  // namespace quillon::repr
