// What of an answer its filters will read, known before the answer comes
// (filter/keep_plan.hpp works it out), so that the decoder builds only that
// and validates the rest without building it. The filters then run on the
// smaller tree with the same result, errors included: every value a step
// looks at is built, with its kind, and every key a step looks up is there
// or missing just as in the answer. Values a step passes on are built whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::json {

class KeepPlan {
 public:
  struct Node;
  // A member that is read, and what of its value.
  struct Member {
    std::string key;
    const Node* read;
    std::uint32_t slot;  // its place among its node's members
    std::uint32_t id;    // its place among the plan's members
  };
  // What is read of one value that the filters step into. Kept whole: the
  // node whole(). Read of nothing: nullptr.
  struct Node {
    // When the value is an object: the member `key` if it is read; the
    // members that are not are left out of the object.
    const Member* member(std::string_view key) const;
    std::size_t member_count() const { return members_.size(); }
    // When it is an array: what is read of each item (nullptr: nothing, the
    // items are left out).
    const Node* items = nullptr;

   private:
    friend class KeepPlan;
    void index(std::uint32_t position);
    std::vector<Member> members_;
    // Open addressing by length, first and last byte: members_ positions
    // plus one, zero for an empty slot.
    std::vector<std::uint32_t> table_;
  };

  // A plan that keeps everything.
  KeepPlan() = default;
  static const KeepPlan& everything();
  KeepPlan(const KeepPlan&) = delete;
  KeepPlan& operator=(const KeepPlan&) = delete;
  KeepPlan(KeepPlan&&) = default;
  KeepPlan& operator=(KeepPlan&&) = default;

  static const Node* whole() { return &whole_; }
  // What is read of the answer itself.
  const Node* root() const { return root_; }
  // How many members the plan's nodes read in all (their ids are below).
  std::size_t member_count() const { return members_; }

  // Building a plan: a new node (stable address) and the root.
  Node& add();
  // Adds member `key` to `node` unless `read` is nullptr (a key already
  // there keeps its first node).
  void add_member(Node& node, std::string_view key, const Node* read);
  void set_root(const Node* root) { root_ = root; }

 private:
  static const Node whole_;
  std::deque<Node> nodes_;
  const Node* root_ = &whole_;
  std::uint32_t members_ = 0;
};

}  // namespace quillon::json
