// The printer's output buffer: written through raw pointers after one
// capacity check per piece, handed over in pieces of about 64 KiB, with the
// rendered keys of recent objects kept for reuse.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_value.hpp"
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

// The output buffer, written through raw pointers after one capacity check
// per piece, and handed over in pieces of about `flush_size` bytes.
class OutputBuffer {
 public:
  static constexpr std::size_t flush_size = 64 * 1024;

  explicit OutputBuffer(const std::function<void(std::string_view)>& write) : write_(write) {
    buffer_.resize(flush_size + 4096);
  }

  // A pointer to at least `n` writable bytes at the end; `commit` says how far they were used.
  char* reserve(std::size_t n) {
    if (buffer_.size() - size_ < n) buffer_.resize(std::max(2 * buffer_.size(), size_ + n));
    return buffer_.data() + size_;
  }
  void commit(char* end) { size_ = static_cast<std::size_t>(end - buffer_.data()); }

  void put(char c) {
    *reserve(1) = c;
    ++size_;
  }
  void put(std::string_view s) {
    std::memcpy(reserve(s.size()), s.data(), s.size());
    size_ += s.size();
  }
  void put_line_break(std::int64_t indent) {
    std::size_t n = static_cast<std::size_t>(indent);
    char* p = reserve(n + 1);
    *p = '\n';
    std::memset(p + 1, ' ', n);
    size_ += n + 1;
  }
  void put_scalar(const json::Value& v) { commit(repr::write_scalar(reserve(repr::max_scalar_bytes(v)), v)); }
  // "'key': "; returns its width.
  inline std::int64_t put_key(std::string_view key);
  void put_text(std::string_view s) { commit(repr::write_text(reserve(repr::max_text_bytes(s.size())), s)); }
  // The same, but a long text goes out in slices, with the buffer handed over between them.
  void put_text_streamed(std::string_view s);

  std::size_t size() const { return size_; }
  const char* data() const { return buffer_.data(); }
  void truncate(std::size_t size) { size_ = size; }
  void flush() {
    if (size_ != 0) write_(std::string_view(buffer_.data(), size_));
    size_ = 0;
  }
  void maybe_flush() {
    if (size_ >= flush_size) flush();
  }

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

  const std::function<void(std::string_view)>& write_;
  std::string buffer_;
  std::size_t size_ = 0;
  std::vector<KeyText> keys_ = std::vector<KeyText>(key_slots);
};

inline std::int64_t OutputBuffer::put_key(std::string_view key) {
  if (key.size() > KeyText::longest) {
    std::size_t before = size_;
    put_text(key);
    put(": ");
    return width_of(buffer_.data() + before, size_ - before);
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
  std::memcpy(reserve(sizeof k.text), k.text, sizeof k.text);
  size_ += k.bytes;
  return k.width;
}

}  // namespace quillon::print
