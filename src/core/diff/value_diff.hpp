// What changed between a saved result and the current one, for --compare:
// a list of differences, each with a path into the value. Objects are
// compared key by key (their order never matters: the printer sorts them).
// Lists are matched element to element the way an operator reads them:
// - records (objects) by an identifying member, when every record of both
//   lists has one with a distinct scalar value: `name`, then `id`, then a
//   key ending in `_id`, then one ending in `_name`, then `object` (the
//   compound queries' shape); so a reordered list is no change, and one
//   record inserted is one addition, not every later record changed;
// - distinct scalars (a list of names) by their value, for the same reason;
// - anything else by position.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_value.hpp"

namespace quillon::diff {

// One step of a path: an index into a list or a key of an object.
struct Step {
  bool is_index;
  std::size_t index;     // is_index
  std::string_view key;  // !is_index
};

struct Difference {
  enum class Change { changed, added, removed };
  Change change;
  // Into the current value; for a removed element, its place in the saved one.
  std::vector<Step> path;
  json::Value before;  // changed, removed
  json::Value after;   // changed, added
};

// Every difference, in the current value's order: objects by sorted key,
// lists by current position, with each list's removed elements after its
// changed and added ones.
std::vector<Difference> compare(const json::Value& saved, const json::Value& current);

// Whether two values are the same result: same kind, same printed scalars
// (so NaN equals NaN and 1 differs from 1.0), same keys and items.
bool same(const json::Value& a, const json::Value& b);

// `[2].state`, `gw.tags[0]`, `['key with space']`: keys that are names are
// written after a dot (none before the first), others as their repr.
std::string path_text(const std::vector<Step>& path);

}  // namespace quillon::diff
