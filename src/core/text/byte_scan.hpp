// Byte classes eight at a time: a 64-bit word of text in which the bytes of
// a class are flagged by their high bit. Words are loaded little endian, so
// the lowest flag is the earliest byte in the text. The zero-byte test
// borrows across bytes: only the lowest flag of a word is exact, which is all
// a scan for the first such byte needs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

}  // namespace quillon::byte_scan
