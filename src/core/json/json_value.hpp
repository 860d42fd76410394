// Decoded JSON values: small trivially copyable handles into an Arena.
//
// A Value never owns memory. Everything it points at (text bytes, array
// items, object members) lives in an Arena that must outlive it. This keeps
// building cheap (no per-node heap allocation), makes copying a subtree a
// 16-byte copy (filters pass the input's own values on), and makes
// destroying any value, however deep, a matter of freeing arena chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::json {

enum class Kind : std::uint8_t {
  null,
  boolean,
  integer,      // fits in int64_t
  big_integer,  // decimal digits (with a leading '-' when negative), beyond int64_t
  real,         // double, inf and nan included
  text,         // WTF-8: UTF-8 that may also hold lone surrogates
  array,
  object,
};

struct Member;

class Value {
 public:
  constexpr Value() : kind_(Kind::null), size_(0), integer_(0) {}

  static constexpr Value null() { return Value(); }
  static Value boolean(bool b) {
    Value v(Kind::boolean, 0);
    v.integer_ = b ? 1 : 0;
    return v;
  }
  static Value integer(std::int64_t i) {
    Value v(Kind::integer, 0);
    v.integer_ = i;
    return v;
  }
  static Value real(double d) {
    Value v(Kind::real, 0);
    v.real_ = d;
    return v;
  }
  // The views must stay valid as long as the value is used (arena or static).
  static Value big_integer(std::string_view digits) { return chars(Kind::big_integer, digits); }
  static Value text(std::string_view wtf8) { return chars(Kind::text, wtf8); }
  static Value array(const Value* items, std::size_t n) {
    Value v(Kind::array, checked_size(n));
    v.items_ = items;
    return v;
  }
  static Value object(const Member* members, std::size_t n) {
    Value v(Kind::object, checked_size(n));
    v.members_ = members;
    return v;
  }

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::null; }
  bool is_array() const { return kind_ == Kind::array; }
  bool is_object() const { return kind_ == Kind::object; }
  bool is_text() const { return kind_ == Kind::text; }

  bool as_bool() const { return integer_ != 0; }
  std::int64_t as_integer() const { return integer_; }
  double as_real() const { return real_; }
  // Text bytes (WTF-8) for text, the decimal digits for a big integer.
  std::string_view as_chars() const { return {chars_, size_}; }
  std::span<const Value> items() const { return {items_, size_}; }
  std::span<const Member> members() const;
  std::size_t size() const { return size_; }

  // The member named `key` of an object, or nullptr. Linear: objects are
  // looked up a handful of times per filter step, never in a loop over keys.
  const Member* find(std::string_view key) const;

  static constexpr std::size_t max_size = 0xffffffffu;
  // `n` as a size, or std::length_error beyond max_size.
  static std::uint32_t checked_size(std::size_t n);

 private:
  constexpr Value(Kind k, std::uint32_t n) : kind_(k), size_(n), integer_(0) {}
  static Value chars(Kind k, std::string_view s) {
    Value v(k, checked_size(s.size()));
    v.chars_ = s.data();
    return v;
  }

  Kind kind_;
  std::uint32_t size_;
  union {
    std::int64_t integer_;
    double real_;
    const char* chars_;
    const Value* items_;
    const Member* members_;
  };
};

// An object key: its WTF-8 text stored once, its length just before it
// (Arena::store_key), so that a member takes 24 bytes, not 32. Answers repeat
// the same few keys in millions of records, and the decoder stores each once:
// equal handles mean equal keys.
class Key {
 public:
  Key() : chars_(empty_ + sizeof(std::uint32_t)) {}  // the empty key

  std::string_view text() const {
    std::uint32_t n;
    std::memcpy(&n, chars_ - sizeof n, sizeof n);
    return {chars_, n};
  }
  std::size_t size() const { return text().size(); }
  bool operator==(Key other) const { return chars_ == other.chars_; }

 private:
  friend class Arena;
  explicit Key(const char* chars) : chars_(chars) {}
  static constexpr char empty_[sizeof(std::uint32_t) + 1] = {};
  const char* chars_;
};

struct Member {
  Key key_handle;
  Value value;

  std::string_view key() const { return key_handle.text(); }
};

static_assert(sizeof(Value) == 16);
static_assert(sizeof(Member) == 24);

inline std::span<const Member> Value::members() const { return {members_, size_}; }

// Bump allocator for values. Chunks are never moved, so views into an arena
// stay valid while the arena (or an arena that absorbed it) lives. It can
// also keep a whole buffer alive, so that values may point into the text
// they were decoded from instead of copying it.
class Arena {
 public:
  Arena() = default;
  Arena(Arena&&) noexcept = default;
  Arena& operator=(Arena&&) noexcept = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  void* allocate(std::size_t bytes, std::size_t align);
  template <typename T>
  T* allocate_array(std::size_t n) {
    return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
  }
  std::string_view copy(std::string_view s);
  // `text` as an object key (see Key).
  Key store_key(std::string_view text);
  Value copy_array(std::span<const Value> items);
  Value copy_object(std::span<const Member> members);
  // Takes `buffer` over; the returned string (and views into its bytes)
  // stays put for the arena's life.
  std::string& keep(std::string&& buffer);
  // Keeps `owner` (and the `bytes` it holds) alive for the arena's life.
  void keep(std::shared_ptr<const void> owner, std::size_t bytes);

  // Takes over the chunks of `other`; values in it stay valid.
  void absorb(Arena&& other);
  std::size_t bytes_reserved() const { return reserved_; }

 private:
  std::vector<std::unique_ptr<std::byte[]>> chunks_;
  std::vector<std::shared_ptr<const void>> kept_;
  std::byte* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t chunk_size_ = 64 * 1024;
  std::size_t reserved_ = 0;
};

// A value together with everything it points into.
struct Document {
  Arena arena;
  Value root;
};

}  // namespace quillon::json
