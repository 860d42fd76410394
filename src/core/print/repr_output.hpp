// The pretty printer's output: the output buffer with the host's repr of
// scalars, keys and line breaks, and the rendered keys of recent objects kept
// for reuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "json/json_value.hpp"
#include "print/output_buffer.hpp"
#include "print/repr.hpp"
#include "text/byte_scan.hpp"

namespace quillon::print {

// Code points in UTF-8 bytes: the width of repr text.
inline std::int64_t width_of(const char* p, std::size_t n) {
  return static_cast<std::int64_t>(n - byte_scan::count_continuation_bytes(p, n));
}

// Whether UTF-8 bytes are at most `room` code points wide; most are ASCII
// and narrower in bytes already.
inline bool fits(const char* p, std::size_t n, std::int64_t room) {
  return static_cast<std::int64_t>(n) <= room || width_of(p, n) <= room;
}

class ReprOutput : public OutputBuffer {
 public:
  using OutputBuffer::OutputBuffer;

  void put_line_break(std::int64_t indent) {
    std::size_t n = static_cast<std::size_t>(indent);
    char* p = reserve(n + 1);
    *p = '\n';
    std::memset(p + 1, ' ', n);
    commit(p + n + 1);
  }
  void put_scalar(const json::Value& v) { commit(repr::write_scalar(reserve(repr::max_scalar_bytes(v)), v)); }
  // "'key': "; returns its width.
  inline std::int64_t put_key(std::string_view key);
  void put_text(std::string_view s) { commit(repr::write_text(reserve(repr::max_text_bytes(s.size())), s)); }
  // The same, but a long text goes out in slices, with the buffer handed over between them.
  void put_text_streamed(std::string_view s);

 private:
  // Rendered keys by the identity of their text: objects of one shape share
  // their key strings, so most keys are rendered once per print.
  struct KeyText {
    static constexpr std::size_t longest = 15;  // whose rendering fits `text`
    const char* key = nullptr;
    std::size_t size = SIZE_MAX;  // matches no key, the empty one at nullptr included
    std::uint32_t bytes = 0;
    std::int32_t width = 0;
    char text[repr::max_text_bytes(longest) + 2];
  };
  static constexpr std::size_t key_slots = 256;

  std::vector<KeyText> keys_ = std::vector<KeyText>(key_slots);
};

inline std::int64_t ReprOutput::put_key(std::string_view key) {
  if (key.size() > KeyText::longest) {
    std::size_t before = size();
    put_text(key);
    put(": ");
    return width_of(data() + before, size() - before);
  }
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(key.data());
  KeyText& k = keys_[((address * 0x9E3779B97F4A7C15u) >> 56) % key_slots];
  if (k.key != key.data() || k.size != key.size()) {
    char* end = repr::write_text(k.text, key);
    *end++ = ':';
    *end++ = ' ';
    k.key = key.data();
    k.size = key.size();
    k.bytes = static_cast<std::uint32_t>(end - k.text);
    k.width = static_cast<std::int32_t>(width_of(k.text, k.bytes));
  }
  char* p = reserve(sizeof k.text);
  std::memcpy(p, k.text, sizeof k.text);
  commit(p + k.bytes);
  return k.width;
}

}  // namespace quillon::print
