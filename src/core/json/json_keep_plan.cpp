#include "json/json_keep_plan.hpp"

#include <algorithm>
#include <bit>

namespace quillon::json {
namespace {

// Keys that differ in length, first or last byte (as the keys of a record
// usually do) land apart, so that an answer's key that is not read is
// mostly told so by one empty slot.
std::uint32_t slot_hash(std::string_view key) {
  if (key.empty()) return 0;
  const auto first = static_cast<unsigned char>(key.front()), last = static_cast<unsigned char>(key.back());
  const std::uint32_t h = static_cast<std::uint32_t>(key.size()) * 0x9E3779B1u ^ (first << 8 | last) * 0x85EBCA6Bu;
  return h ^ (h >> 15);
}

}  // namespace

const KeepPlan::Node KeepPlan::whole_;

const KeepPlan& KeepPlan::everything() {
  static const KeepPlan plan;
  return plan;
}

const KeepPlan::Member* KeepPlan::Node::member(std::string_view key) const {
  if (table_.empty()) return nullptr;
  const std::size_t mask = table_.size() - 1;
  for (std::size_t i = slot_hash(key) & mask;; i = (i + 1) & mask) {
    const std::uint32_t at = table_[i];
    if (at == 0) return nullptr;
    const Member& m = members_[at - 1];
    if (m.key.size() == key.size() && m.key == key) return &m;
  }
}

void KeepPlan::Node::index(std::uint32_t position) {
  const std::size_t mask = table_.size() - 1;
  std::size_t i = slot_hash(members_[position].key) & mask;
  while (table_[i] != 0) i = (i + 1) & mask;
  table_[i] = position + 1;
}

KeepPlan::Node& KeepPlan::add() { return nodes_.emplace_back(); }

void KeepPlan::add_member(Node& node, std::string_view key, const Node* read) {
  if (read == nullptr || node.member(key) != nullptr) return;
  const auto position = static_cast<std::uint32_t>(node.members_.size());
  node.members_.push_back({std::string(key), read, position, members_++});
  // At most a quarter full.
  if (4 * node.members_.size() > node.table_.size()) {
    node.table_.assign(std::bit_ceil(std::max<std::size_t>(16, 8 * node.members_.size())), 0);
    for (std::uint32_t i = 0; i < node.members_.size(); ++i) node.index(i);
  } else {
    node.index(position);
  }
}

}  // namespace quillon::json
