// The scanners behind repr(str) and the printer's text measuring: runs of
// printable ASCII that repr shows as themselves, found 16 bytes at a time
// with SSE2 where there is SSE2, else eight at a time, else byte by byte.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/byte_scan.hpp"

namespace quillon::repr {

// Printable ASCII that is neither a backslash nor q1/q2.
inline bool plain_ascii(unsigned char b, char q1, char q2) {
  return b >= 0x20 && b < 0x7F && b != '\\' && b != static_cast<unsigned char>(q1) &&
         b != static_cast<unsigned char>(q2);
}

// Flags the bytes of `x` that end a plain run (lowest flag exact).
inline std::uint64_t special_bytes(std::uint64_t x, char q1, char q2) {
  using namespace byte_scan;
  return bytes_equal(x, '\\') | bytes_equal(x, static_cast<unsigned char>(q1)) |
         bytes_equal(x, static_cast<unsigned char>(q2)) | bytes_equal(x, 0x7F) | bytes_below(x, 0x20) | high_bytes(x);
}

// Copies the run of printable ASCII at `pos` that holds neither backslash nor
// q1/q2, 16 or 8 bytes at a time where it can; the output has room for 4
// bytes per input byte and 16 more, so a whole block may be stored before the
// run's end is known.
inline void copy_plain(std::string_view s, std::size_t& pos, char*& out, char q1, char q2) {
  const std::size_t n = s.size();
  const char* in = s.data();
#if defined(__SSE2__)
  const __m128i below = _mm_set1_epi8(0x20);  // signed: bytes >= 0x80 are below too
  const __m128i del = _mm_set1_epi8(0x7F), backslash = _mm_set1_epi8('\\');
  const __m128i quote1 = _mm_set1_epi8(q1), quote2 = _mm_set1_epi8(q2);
  while (n - pos >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + pos));
    __m128i special = _mm_or_si128(
        _mm_or_si128(_mm_cmplt_epi8(v, below), _mm_cmpeq_epi8(v, del)),
        _mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_or_si128(_mm_cmpeq_epi8(v, quote1), _mm_cmpeq_epi8(v, quote2))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask != 0) {
      unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
      pos += k;
      out += k;
      return;
    }
    pos += 16;
    out += 16;
  }
#endif
  if (n >= 8) {
    while (pos < n) {
      // The last word of a text overlaps what is done: its first `back` bytes were plain.
      std::size_t at = std::min(pos, n - 8), back = pos - at;
      std::uint64_t x = byte_scan::load(in + at);
      x >>= 8 * back;  // the bytes shifted in are zero, so flagged: the run cannot pass the end
      std::uint64_t special = special_bytes(x, q1, q2);
      byte_scan::store(out, x);
      std::size_t plain = special ? byte_scan::first(special) : 8 - back;
      pos += plain;
      out += plain;
      if (special) return;
    }
    return;
  }
  while (pos < n && plain_ascii(static_cast<unsigned char>(in[pos]), q1, q2)) *out++ = in[pos++];
}

// End of the run from `pos` of printable ASCII that repr(str) shows as
// itself and that holds no quote of either kind and no `also` character.
inline std::size_t plain_run_end(std::string_view s, std::size_t pos, char also) {
  const std::size_t n = s.size();
  const char* in = s.data();
#if defined(__SSE2__)
  const __m128i below = _mm_set1_epi8(0x20), del = _mm_set1_epi8(0x7F), backslash = _mm_set1_epi8('\\');
  const __m128i single = _mm_set1_epi8('\''), dbl = _mm_set1_epi8('"'), extra = _mm_set1_epi8(also);
  for (; n - pos >= 16; pos += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + pos));
    __m128i special = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(v, below), _mm_cmpeq_epi8(v, del)), _mm_cmpeq_epi8(v, backslash)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, single), _mm_cmpeq_epi8(v, dbl)), _mm_cmpeq_epi8(v, extra)));
    if (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special)))
      return pos + static_cast<std::size_t>(__builtin_ctz(mask));
  }
#endif
  if (n >= 8) {
    while (pos < n) {
      // As in copy_plain: the last word overlaps bytes already known to be plain.
      std::size_t at = std::min(pos, n - 8), back = pos - at;
      std::uint64_t x = byte_scan::load(in + at) >> (8 * back);
      std::uint64_t special = special_bytes(x, '\'', '"') | byte_scan::bytes_equal(x, static_cast<unsigned char>(also));
      if (special) return pos + byte_scan::first(special);
      pos += 8 - back;
    }
    return pos;
  }
  while (pos < n && plain_ascii(static_cast<unsigned char>(in[pos]), '\'', '"') && in[pos] != also) ++pos;
  return pos;
}

}  // namespace quillon::repr
