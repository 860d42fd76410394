// The buffer every printer writes through (the pretty printer, the JSON
// writer): raw pointers after one capacity check per piece, handed to the
// writer in pieces of about `flush_size` bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace quillon::print {

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
  // A long text in slices of whole code points, each written by
  // `escape(out, slice)` (which returns the end of what it wrote) into room
  // for `room(slice.size())` bytes, the buffer handed over between them: a
  // long text never sits in the buffer whole.
  template <typename Room, typename Escape>
  void put_sliced(std::string_view text, Room room, Escape escape) {
    constexpr std::size_t slice = 16 * 1024;
    while (!text.empty()) {
      std::size_t n = std::min(slice, text.size());
      while (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
      commit(escape(reserve(room(n)), text.substr(0, n)));
      text.remove_prefix(n);
      maybe_flush();
    }
  }

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
  const std::function<void(std::string_view)>& write_;
  std::string buffer_;
  std::size_t size_ = 0;
};

}  // namespace quillon::print
