#include "json/json_value.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace quillon::json {

std::uint32_t Value::checked_size(std::size_t n) {
  if (n > max_size) throw std::length_error("JSON value too large (over 4 GiB or 2^32 elements)");
  return static_cast<std::uint32_t>(n);
}

const Member* Value::find(std::string_view key) const {
  for (const Member& m : members())
    if (m.key() == key) return &m;
  return nullptr;
}

void* Arena::allocate(std::size_t bytes, std::size_t align) {
  std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(next_) % align) % align;
  if (next_ == nullptr || bytes + pad > left_) {
    // Large requests get a chunk of their own so that small ones keep packing.
    std::size_t size = std::max(bytes + align, chunk_size_);
    chunks_.push_back(std::make_unique_for_overwrite<std::byte[]>(size));
    reserved_ += size;
    if (size == chunk_size_ && chunk_size_ < (std::size_t{16} << 20)) chunk_size_ *= 2;
    next_ = chunks_.back().get();
    left_ = size;
    pad = (align - reinterpret_cast<std::uintptr_t>(next_) % align) % align;
  }
  std::byte* p = next_ + pad;
  next_ = p + bytes;
  left_ -= bytes + pad;
  return p;
}

std::string_view Arena::copy(std::string_view s) {
  if (s.empty()) return {};
  char* p = allocate_array<char>(s.size());
  std::memcpy(p, s.data(), s.size());
  return {p, s.size()};
}

Key Arena::store_key(std::string_view text) {
  if (text.empty()) return Key();
  const std::uint32_t n = Value::checked_size(text.size());
  char* p = allocate_array<char>(sizeof n + text.size());
  std::memcpy(p, &n, sizeof n);
  std::memcpy(p + sizeof n, text.data(), text.size());
  return Key(p + sizeof n);
}

Value Arena::copy_array(std::span<const Value> items) {
  if (items.empty()) return Value::array(nullptr, 0);
  Value* p = allocate_array<Value>(items.size());
  std::uninitialized_copy(items.begin(), items.end(), p);
  return Value::array(p, items.size());
}

Value Arena::copy_object(std::span<const Member> members) {
  if (members.empty()) return Value::object(nullptr, 0);
  Member* p = allocate_array<Member>(members.size());
  std::uninitialized_copy(members.begin(), members.end(), p);
  return Value::object(p, members.size());
}

std::string& Arena::keep(std::string&& buffer) {
  const std::size_t bytes = buffer.capacity();
  auto kept = std::make_shared<std::string>(std::move(buffer));
  std::string& out = *kept;
  keep(std::move(kept), bytes);
  return out;
}

void Arena::keep(std::shared_ptr<const void> owner, std::size_t bytes) {
  reserved_ += bytes;
  kept_.push_back(std::move(owner));
}

void Arena::absorb(Arena&& other) {
  for (auto& c : other.chunks_) chunks_.push_back(std::move(c));
  for (auto& k : other.kept_) kept_.push_back(std::move(k));
  reserved_ += other.reserved_;
  other.chunks_.clear();
  other.kept_.clear();
  other.next_ = nullptr;
  other.left_ = 0;
  other.reserved_ = 0;
}

}  // namespace quillon::json
