// --save and --compare: each file's result kept as JSON in a directory, as
// DIR/<file name>.json, and how a result differs from the one kept there,
// one line per difference, as the operator reads it or as JSON for tools.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "json/json_value.hpp"

namespace quillon {

// DIR/<file>.json.
std::string saved_result_path(std::string_view dir, std::string_view file);

// Writes `result` to DIR/<file>.json as json.dumps(result, indent=2,
// sort_keys=True, ensure_ascii=False) does, whole or not at all, replacing
// an earlier one. `check_interrupt` runs between pieces; what it throws
// leaves the earlier file as it was.
void save_result(const std::string& dir, std::string_view file, const json::Value& result,
                 const std::function<void()>& check_interrupt);

// Compares `result` with the one saved for `file` in `dir` and writes each
// difference as a line through `write`; returns whether there was any (a
// file without a saved result is one). Lines, `file` being escaped text:
//   gateways.cfg: [2].state: 'up' -> 'down'      a value changed
//   gateways.cfg: + [4]: {'gw_name': ...}         an element or member added
//   gateways.cfg: - [1]                           one removed (its saved place)
//   gateways.cfg: no saved result
// With `json`, one object a line instead: {"file", "change" ("changed",
// "added", "removed" or "unsaved"), "path" (keys and indices), "before",
// "after"}, where before and after are the values themselves, each present
// only where the change has one.
bool write_differences(const std::string& dir, std::string_view file, const json::Value& result, bool json,
                       const std::function<void(std::string_view)>& write,
                       const std::function<void()>& check_interrupt);

}  // namespace quillon
