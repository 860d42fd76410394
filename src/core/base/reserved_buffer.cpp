#include "base/reserved_buffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace quillon {

std::optional<ReservedBuffer> ReservedBuffer::reserve(std::size_t capacity) {
  static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  if (capacity == 0 || capacity > SIZE_MAX - page) return std::nullopt;
  const std::size_t mapped = (capacity + page - 1) / page * page;
  // Not counted against the system's commit until written: a server that
  // announces much and sends little costs address space only.
  void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return std::nullopt;
  return ReservedBuffer(static_cast<char*>(p), capacity, mapped);
}

ReservedBuffer::ReservedBuffer(ReservedBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

ReservedBuffer& ReservedBuffer::operator=(ReservedBuffer&& other) noexcept {
  if (this != &other) {
    this->~ReservedBuffer();
    new (this) ReservedBuffer(std::move(other));
  }
  return *this;
}

ReservedBuffer::~ReservedBuffer() {
  if (data_ != nullptr) ::munmap(data_, mapped_);
}

bool ReservedBuffer::append(std::string_view data) {
  if (data.size() > capacity_ - size_) return false;
  if (data.empty()) return true;
  std::memcpy(data_ + size_, data.data(), data.size());
  size_ += data.size();
  return true;
}

}  // namespace quillon
