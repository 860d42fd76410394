// Builds JSON values bottom-up into an Arena without recursion: items and
// members collect on reusable scratch stacks and each finished container is
// copied into the arena once. Objects keep a key's first position and its
// last value, as host dicts do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "json/json_value.hpp"

namespace quillon::json {

// See key_print in json_tree_builder.cpp.
struct KeyPrint {
  std::uint64_t head = 0, tail = 0;
  std::size_t size = 0;
  bool operator==(const KeyPrint&) const = default;
};

class TreeBuilder {
 public:
  explicit TreeBuilder(Arena& arena) : arena_(arena) {}

  // Open containers: the one items are added to is the innermost.
  std::size_t depth() const { return depth_; }
  bool in_object() const { return depth_ > 0 && frames_[depth_ - 1].object; }

  void open_array() { open(false); }
  void open_object() { open(true); }
  // The key of the next value added to the open object. It need only stay
  // valid until that value is added (or its container closed): it is copied
  // into the arena when it is not a repeat.
  void key(std::string_view k) { key_ = {k, Key(), no_slot}; }
  // The same for an object whose keys are all given this way: each of at
  // most 64 keys, stored once in the arena, with its own number below 64,
  // so that only a repeated key is looked for.
  void known_key(Key k, unsigned slot) { key_ = {{}, k, slot}; }
  // Adds a value whose own data already lives in the arena (or is static).
  void add(Value v);
  // Finishes the innermost container and adds it to its parent.
  void close();

  // The value once every container is closed.
  Value root() const { return root_; }

 private:
  // A large object's member in its hash index: part of the key's hash and
  // the member's position plus one (zero: an empty slot).
  struct IndexEntry {
    std::uint32_t tag = 0, position = 0;
  };
  static constexpr unsigned no_slot = 64;
  struct PendingKey {
    std::string_view text;
    Key stored;  // with a slot
    unsigned slot = no_slot;
  };
  struct Frame {
    bool object = false;
    std::uint64_t id = 0;             // objects opened later have larger ids
    std::size_t start = 0;            // first item or member on the scratch stack
    std::uint64_t known = 0;          // the slots of known keys added
    PendingKey key;                   // this container's key in its parent object
    std::vector<IndexEntry> index;    // of a large object's members, open addressing
    std::vector<std::uint32_t> tags;  // the tag of each of its members, for growing the index
  };

  // Where a recently added key went: the canonical copy of the key, the
  // object it was last added to and its position there. Each add of a key
  // stamps its slot with the innermost open object, and only objects nested
  // in an open one are opened after it; so a slot holding the key with an
  // older object's id proves the key is not yet in the current object, and
  // one with the current id says where it is. Anything else is looked up.
  struct KeySlot {
    Key key;
    KeyPrint print;
    std::uint64_t object = 0;
    std::size_t position = 0;
  };
  static constexpr std::size_t not_found = SIZE_MAX;

  void open(bool object);
  void add_member(Frame& f, std::string_view key, Value v);
  void add_known(Frame& f, Key key, unsigned slot, Value v);
  std::size_t find_member(const Frame& f, std::string_view key, std::uint32_t tag) const;
  std::size_t append_member(Frame& f, Key stored_key, Value v, std::uint32_t tag);
  void insert(Frame& f, std::size_t position);
  void rebuild_index(Frame& f, std::size_t capacity);

  Arena& arena_;
  std::vector<Frame> frames_;  // frames_[0, depth_) are open; the rest are kept for reuse
  std::size_t depth_ = 0;
  std::vector<Value> items_;
  std::vector<Member> members_;
  PendingKey key_;
  Value root_;
  std::uint64_t objects_opened_ = 0;
  // Answers repeat the same few keys in every object: each is stored once,
  // and its slot usually settles whether it repeats within an object.
  std::vector<KeySlot> recent_keys_;
};

}  // namespace quillon::json
