// Byte classes eight at a time: a 64-bit word of text in which the bytes of
// a class are flagged by their high bit. Words are loaded little endian, so
// the lowest flag is the earliest byte in the text. The zero-byte test
// borrows across bytes: only the lowest flag of a word is exact, which is all
// a scan for the first such byte needs. And the scan every printer's text
// writer is built on: the run of bytes up to the first of a class, 16 at a
// time with SSE2 where there is SSE2.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon::byte_scan {

constexpr std::uint64_t ones = 0x0101010101010101u;
constexpr std::uint64_t highs = 0x8080808080808080u;

inline std::uint64_t load(const char* p) {
  std::uint64_t x;
  std::memcpy(&x, p, 8);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  return x;
}

inline void store(char* p, std::uint64_t x) {
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  std::memcpy(p, &x, 8);
}

constexpr std::uint64_t broadcast(unsigned char c) { return ones * c; }

// Bytes that are zero (lowest flag exact).
constexpr std::uint64_t zero_bytes(std::uint64_t x) { return (x - ones) & ~x & highs; }
// Bytes equal to `c` (lowest flag exact).
constexpr std::uint64_t bytes_equal(std::uint64_t x, unsigned char c) { return zero_bytes(x ^ broadcast(c)); }
// Bytes below `c`, for c <= 0x80 (lowest flag exact).
constexpr std::uint64_t bytes_below(std::uint64_t x, unsigned char c) { return (x - broadcast(c)) & ~x & highs; }
// Bytes of 0x80 and above (all flags exact).
constexpr std::uint64_t high_bytes(std::uint64_t x) { return x & highs; }
// UTF-8 continuation bytes, 10xxxxxx (all flags exact).
constexpr std::uint64_t continuation_bytes(std::uint64_t x) { return x & ~(x << 1) & highs; }

// Index in its word of the first flagged byte; `flags` is not zero.
inline std::size_t first(std::uint64_t flags) { return static_cast<std::size_t>(std::countr_zero(flags)) / 8; }
// Number of flagged bytes, for classes whose flags are all exact: one
// multiply sums the bytes into the top one (no popcount instruction needed).
constexpr std::size_t count(std::uint64_t flags) { return static_cast<std::size_t>(((flags >> 7) * ones) >> 56); }

// UTF-8 continuation bytes among `n`: `n` minus the number of code points.
inline std::size_t count_continuation_bytes(const char* p, std::size_t n) {
  std::size_t total = 0, i = 0;
  for (; i + 8 <= n; i += 8) total += count(continuation_bytes(load(p + i)));
  for (; i < n; ++i) total += (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80;
  return total;
}

// The end of the run of `s` from `pos` that holds no byte of `Stop`'s class;
// with `copy`, the run is also copied to `out`, which is moved past it (a
// whole block may be stored past the run's end: `out` has 16 bytes of room
// beyond it). Stop has:
//   __m128i flags16(__m128i bytes) const;     // 0xFF for each byte of the class (SSE2)
//   std::uint64_t flags8(std::uint64_t) const; // lowest flag exact; zero bytes are of the class
//   bool stops(unsigned char byte) const;
template <bool copy, typename Stop>
std::size_t run_until(std::string_view s, std::size_t pos, char*& out, const Stop& stop) {
  const std::size_t n = s.size();
  const char* in = s.data();
#if defined(__SSE2__)
  for (; n - pos >= 16; pos += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + pos));
    if constexpr (copy) _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stop.flags16(v)))) {
      const auto k = static_cast<std::size_t>(std::countr_zero(mask));
      if constexpr (copy) out += k;
      return pos + k;
    }
    if constexpr (copy) out += 16;
  }
#endif
  if (n >= 8) {
    while (pos < n) {
      // The last word overlaps bytes already scanned; they are shifted out,
      // and the zeros shifted in stop the run at the end.
      const std::size_t at = std::min(pos, n - 8), back = pos - at;
      const std::uint64_t x = load(in + at) >> (8 * back);
      const std::uint64_t flags = stop.flags8(x);
      if constexpr (copy) store(out, x);
      const std::size_t plain = flags != 0 ? first(flags) : 8 - back;
      pos += plain;
      if constexpr (copy) out += plain;
      if (flags != 0) return pos;
    }
    return pos;
  }
  for (; pos < n && !stop.stops(static_cast<unsigned char>(in[pos])); ++pos)
    if constexpr (copy) *out++ = in[pos];
  return pos;
}

}  // namespace quillon::byte_scan
