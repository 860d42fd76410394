// Key order of objects for the printer: the sorted member indices of the
// objects it has open, on one stack, with the orders of recent objects kept
// for reuse.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "json/json_value.hpp"
#include "print/repr.hpp"

namespace quillon::print {

// The key orders of the open objects, on a stack. The records of an answer
// repeat the same keys, and the decoder and the filter store each key's text
// once, so an object whose keys are the very same strings as a recent
// object's reuses that object's sorted order.
class KeyOrders {
 public:
  // Pushes the member indices of `members` in key order; returns where they start.
  std::size_t push(std::span<const json::Member> members) {
    std::size_t begin = stack_.size();
    for (const Recent& r : recent_) {
      if (r.members.size() == members.size() && same_keys(r.members, members)) {
        stack_.insert(stack_.end(), r.order.begin(), r.order.end());
        return begin;
      }
    }
    repr::append_key_order(members, stack_);
    Recent& r = recent_[next_];
    next_ = (next_ + 1) % recent_.size();
    r.members = members;
    r.order.assign(stack_.begin() + static_cast<std::ptrdiff_t>(begin), stack_.end());
    return begin;
  }
  void pop_to(std::size_t begin) { stack_.resize(begin); }
  std::size_t size() const { return stack_.size(); }
  std::uint32_t operator[](std::size_t i) const { return stack_[i]; }

 private:
  struct Recent {
    std::span<const json::Member> members;
    std::vector<std::uint32_t> order;
  };
  static bool same_keys(std::span<const json::Member> a, std::span<const json::Member> b) {
    for (std::size_t i = 0; i < a.size(); ++i)
      if (!(a[i].key_handle == b[i].key_handle)) return false;
    return !a.empty();
  }

  std::vector<std::uint32_t> stack_;
  std::array<Recent, 4> recent_{};
  std::size_t next_ = 0;
};

}  // namespace quillon::print
