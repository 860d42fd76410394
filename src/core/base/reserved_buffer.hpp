// Bytes that never move: address space for a known most, reserved at once
// and filled in place, so that views into what came stay valid while more
// comes (a growing string moves its bytes, and views into them with it).
// Memory is taken a page at a time as the bytes are written, not when the
// space is reserved.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quillon {

class ReservedBuffer {
 public:
  // Room for `capacity` bytes, or nullopt when that much address space is
  // not to be had (an address-space limit, a system that refuses it).
  static std::optional<ReservedBuffer> reserve(std::size_t capacity);

  ReservedBuffer(ReservedBuffer&& other) noexcept;
  ReservedBuffer& operator=(ReservedBuffer&& other) noexcept;
  ReservedBuffer(const ReservedBuffer&) = delete;
  ReservedBuffer& operator=(const ReservedBuffer&) = delete;
  ~ReservedBuffer();

  // Appends `data`; false, adding nothing, when it does not fit.
  bool append(std::string_view data);
  std::string_view text() const { return {data_, size_}; }
  char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }

 private:
  ReservedBuffer(char* data, std::size_t capacity, std::size_t mapped)
      : data_(data), capacity_(capacity), mapped_(mapped) {}

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t mapped_ = 0;  // the whole pages reserved
};

}  // namespace quillon
