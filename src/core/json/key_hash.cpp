#include "json/key_hash.hpp"

#include <bit>
#include <chrono>
#include <cstdint>
#include <exception>
#include <random>

#include "text/byte_scan.hpp"

namespace quillon::json {
namespace {

struct Secret {
  std::uint64_t k0, k1;
};

const Secret& secret() {
  static const Secret s = []() -> Secret {
    try {
      std::random_device random;  // the system's random source
      auto word = [&] { return std::uint64_t{random()} << 32 | random(); };
      return Secret{word(), word()};
    } catch (const std::exception&) {
      // None to be had: the clock and where this process's code and stack
      // landed still make a secret an answer cannot know in advance.
      const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
      int on_stack = 0;
      return Secret{now * 0x9E3779B97F4A7C15u ^ reinterpret_cast<std::uintptr_t>(&on_stack),
                    std::rotl(now, 29) ^ reinterpret_cast<std::uintptr_t>(&secret)};
    }
  }();
  return s;
}

struct State {
  std::uint64_t v0, v1, v2, v3;
  void round() {
    v0 += v1, v1 = std::rotl(v1, 13), v1 ^= v0, v0 = std::rotl(v0, 32);
    v2 += v3, v3 = std::rotl(v3, 16), v3 ^= v2;
    v0 += v3, v3 = std::rotl(v3, 21), v3 ^= v0;
    v2 += v1, v1 = std::rotl(v1, 17), v1 ^= v2, v2 = std::rotl(v2, 32);
  }
  void absorb(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

// The last 0 to 7 bytes, little endian.
std::uint64_t tail(const char* p, std::size_t n) {
  std::uint64_t m = 0;
  for (std::size_t i = 0; i < n; ++i) m |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  return m;
}

}  // namespace

std::uint64_t key_hash(std::string_view key) {
  const Secret& k = secret();
  State s{k.k0 ^ 0x736f6d6570736575u, k.k1 ^ 0x646f72616e646f6du, k.k0 ^ 0x6c7967656e657261u,
          k.k1 ^ 0x7465646279746573u};
  const char* p = key.data();
  const std::size_t n = key.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) s.absorb(byte_scan::load(p + i));
  s.absorb(tail(p + i, n - i) | std::uint64_t{n} << 56);
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace quillon::json
