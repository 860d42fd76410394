// repr of whole values: scalars by the writers of repr_number.cpp and
// repr_text.cpp, containers by an iterative walk.
#include "print/repr.hpp"

#include <vector>

namespace quillon::repr {

void append_scalar(std::string& out, const json::Value& v) {
  std::size_t old = out.size();
  out.resize(old + max_scalar_bytes(v));
  char* end = write_scalar(out.data() + old, v);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

namespace {

// One open container of the walk; `order` is where its member order starts
// in the shared order buffer (objects with sorted keys only).
struct Frame {
  const json::Value* value;
  std::size_t next;
  std::size_t order;
};

}  // namespace

void append(std::string& out, const json::Value& value, bool sort_keys) {
  if (!value.is_array() && !value.is_object()) {
    append_scalar(out, value);
    return;
  }
  // Iterative, so that nesting depth is bounded by memory, not the stack.
  std::vector<Frame> stack;
  std::vector<std::uint32_t> order;
  auto open = [&](const json::Value& v) {
    if (v.size() == 0) {
      out += v.is_array() ? "[]" : "{}";
      return;
    }
    out += v.is_array() ? '[' : '{';
    std::size_t at = order.size();
    if (v.is_object() && sort_keys) append_key_order(v.members(), order);
    stack.push_back({&v, 0, at});
  };
  open(value);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const json::Value& v = *f.value;
    if (f.next == v.size()) {
      out += v.is_array() ? ']' : '}';
      order.resize(f.order);
      stack.pop_back();
      continue;
    }
    if (f.next > 0) out += ", ";
    const json::Value* child;
    if (v.is_array()) {
      child = &v.items()[f.next];
    } else {
      const json::Member& m = v.members()[sort_keys ? order[f.order + f.next] : f.next];
      append_text(out, m.key());
      out += ": ";
      child = &m.value;
    }
    ++f.next;  // `f` may dangle once a child is pushed
    if (child->is_array() || child->is_object())
      open(*child);
    else
      append_scalar(out, *child);
  }
}

}  // namespace quillon::repr
