// Object members in key order: code-point order of the keys, as the printer
// writes them and repr with sorted keys does.
#include "print/key_order.hpp"

#include <algorithm>

namespace quillon::repr {

void append_key_order(std::span<const json::Member> members, std::vector<std::uint32_t>& order) {
  const auto begin = static_cast<std::ptrdiff_t>(order.size());
  for (std::uint32_t i = 0; i < members.size(); ++i) order.push_back(i);
  // WTF-8 byte order is code-point order, lone surrogates included.
  auto by_key = [&](std::uint32_t a, std::uint32_t b) { return members[a].key() < members[b].key(); };
  auto lo = order.begin() + begin, hi = order.end();
  if (hi - lo <= 16) {
    // Records are small objects: insertion sort beats the merge sort's set-up.
    for (auto it = lo; it != hi; ++it)
      for (auto j = it; j != lo && by_key(*j, *(j - 1)); --j) std::iter_swap(j, j - 1);
  } else {
    std::stable_sort(lo, hi, by_key);
  }
}

}  // namespace quillon::repr
