#include "json/json_tree_builder.hpp"

#include <cstring>

#include "json/key_hash.hpp"

namespace quillon::json {
namespace {

// Objects up to this size find repeated keys by a linear scan; larger ones
// get a hash index so that huge objects stay linear overall.
constexpr std::size_t linear_scan_limit = 16;

// A key's length and bytes enough to tell keys of up to 16 bytes apart
// without reading their text: the first and last eight (overlapping in
// shorter keys), or first and last four, or the first, middle and last byte.
KeyPrint key_print(std::string_view k) {
  const char* p = k.data();
  const std::size_t n = k.size();
  std::uint64_t head = 0, tail = 0;
  if (n >= 8) {
    std::memcpy(&head, p, 8);
    std::memcpy(&tail, p + n - 8, 8);
  } else if (n >= 4) {
    std::uint32_t first, last;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    head = first | (std::uint64_t{last} << 32);
  } else if (n > 0) {
    head = std::uint64_t{static_cast<unsigned char>(p[0])} | std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8 |
           std::uint64_t{static_cast<unsigned char>(p[n - 1])} << 16;
  }
  return {head, tail, n};
}

std::size_t slot_of(const KeyPrint& k) {
  const std::uint64_t h = (k.head * 0x9E3779B97F4A7C15u) ^ (k.tail * 0xC2B2AE3D27D4EB4Fu) ^ k.size;
  return static_cast<std::size_t>(h ^ (h >> 29));
}

// The part of a key's hash an index entry keeps: enough for any object that
// fits in memory, and most keys that are not the one looked for differ in it.
std::uint32_t hash_tag(std::string_view k) { return static_cast<std::uint32_t>(key_hash(k)); }

constexpr std::size_t recent_keys_size = 1024;  // a power of two
constexpr std::size_t recent_key_max_length = 64;

}  // namespace

void TreeBuilder::open(bool object) {
  if (depth_ == frames_.size()) frames_.emplace_back();
  Frame& f = frames_[depth_++];
  f.object = object;
  f.id = object ? ++objects_opened_ : 0;
  f.start = object ? members_.size() : items_.size();
  f.key = key_;
  f.known = 0;
  f.index.clear();
  f.tags.clear();
}

void TreeBuilder::add(Value v) {
  if (depth_ == 0) {
    root_ = v;
    return;
  }
  Frame& f = frames_[depth_ - 1];
  if (!f.object)
    items_.push_back(v);
  else if (key_.slot != no_slot)
    add_known(f, key_.stored, key_.slot, v);
  else
    add_member(f, key_.text, v);
}

void TreeBuilder::add_known(Frame& f, Key key, unsigned slot, Value v) {
  const std::uint64_t bit = std::uint64_t{1} << slot;
  if ((f.known & bit) == 0) {
    f.known |= bit;
    members_.push_back({key, v});
    return;
  }
  // A repeat: the last value wins at the first place.
  for (std::size_t i = f.start;; ++i) {
    if (members_[i].key_handle == key) {
      members_[i].value = v;
      return;
    }
  }
}

void TreeBuilder::close() {
  Frame& f = frames_[--depth_];
  Value v;
  if (f.object) {
    v = arena_.copy_object(std::span<const Member>(members_).subspan(f.start));
    members_.resize(f.start);
  } else {
    v = arena_.copy_array(std::span<const Value>(items_).subspan(f.start));
    items_.resize(f.start);
  }
  key_ = f.key;
  add(v);
}

void TreeBuilder::add_member(Frame& f, std::string_view key, Value v) {
  KeySlot* slot = nullptr;
  if (key.size() <= recent_key_max_length) {
    if (recent_keys_.empty()) recent_keys_.resize(recent_keys_size);
    const KeyPrint print = key_print(key);
    slot = &recent_keys_[slot_of(print) & (recent_keys_size - 1)];
    if (!(slot->print == print) || (key.size() > 16 && slot->key.text() != key)) {
      slot->key = arena_.store_key(key);
      slot->print = print;
      slot->object = 0;  // unknown: looked up below
    } else if (slot->object == f.id) {
      members_[f.start + slot->position].value = v;
      return;
    }
  }
  const bool known_new = slot != nullptr && slot->object != 0 && slot->object < f.id;
  // Large objects look keys up by their hash, which every key of an answer
  // may share only by chance: it is of the whole key, with a secret.
  const std::uint32_t tag = members_.size() - f.start >= linear_scan_limit ? hash_tag(key) : 0;
  std::size_t position = known_new ? not_found : find_member(f, key, tag);
  if (position != not_found)
    members_[f.start + position].value = v;
  else
    position = append_member(f, slot != nullptr ? slot->key : arena_.store_key(key), v, tag);
  if (slot != nullptr) {
    slot->object = f.id;
    slot->position = position;
  }
}

std::size_t TreeBuilder::find_member(const Frame& f, std::string_view key, std::uint32_t tag) const {
  const Member* members = members_.data() + f.start;
  const std::size_t n = members_.size() - f.start;
  if (n < linear_scan_limit) {
    for (std::size_t i = 0; i < n; ++i)
      if (members[i].key() == key) return i;
    return not_found;
  }
  const std::size_t mask = f.index.size() - 1;
  for (std::size_t slot = tag & mask;; slot = (slot + 1) & mask) {
    const IndexEntry entry = f.index[slot];
    if (entry.position == 0) return not_found;
    if (entry.tag == tag && members[entry.position - 1].key() == key) return entry.position - 1;
  }
}

std::size_t TreeBuilder::append_member(Frame& f, Key stored_key, Value v, std::uint32_t tag) {
  const std::size_t n = members_.size() - f.start;
  members_.push_back({stored_key, v});
  if (n + 1 == linear_scan_limit) {
    for (std::size_t i = 0; i < n + 1; ++i) f.tags.push_back(hash_tag(members_[f.start + i].key()));
    rebuild_index(f, 4 * linear_scan_limit);
  } else if (n + 1 > linear_scan_limit) {
    f.tags.push_back(tag);
    insert(f, n);
    if (2 * (n + 1) > f.index.size()) rebuild_index(f, 2 * f.index.size());
  }
  return n;
}

void TreeBuilder::insert(Frame& f, std::size_t position) {
  const std::size_t mask = f.index.size() - 1;
  const std::uint32_t tag = f.tags[position];
  std::size_t slot = tag & mask;
  while (f.index[slot].position != 0) slot = (slot + 1) & mask;
  f.index[slot] = {tag, static_cast<std::uint32_t>(position + 1)};
}

void TreeBuilder::rebuild_index(Frame& f, std::size_t capacity) {
  f.index.assign(capacity, IndexEntry{});
  for (std::size_t i = 0; i < f.tags.size(); ++i) insert(f, i);
}

}  // namespace quillon::json
