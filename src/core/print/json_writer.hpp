// The machine-readable output: decoded values written back as JSON, one line
// per configuration file. Values come out as the host's
// json.dumps(value, ensure_ascii=False) writes them: separators ", " and
// ": ", object members in their stored order, integers of any size as
// digits, reals as repr(float) or NaN/Infinity/-Infinity, text as UTF-8 with
// only the escapes JSON requires. Text is handed to the writer in chunks of
// about 64 KiB, so a large answer never sits in memory a second time.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "json/json_value.hpp"

namespace quillon {

// Writes `value` as JSON, without a line break.
void write_json(const json::Value& value, const std::function<void(std::string_view)>& write);

// A file to read and compare (--save): `value` as json.dumps(value, indent=2,
// sort_keys=True, ensure_ascii=False) writes it (members sorted by key in
// code-point order, each item on a line of its own indented two spaces a
// level, "," ending all but the last), then a line break.
void write_json_indented(const json::Value& value, const std::function<void(std::string_view)>& write);

// {"file": ..., "description": ..., "result": ...} and a line break; the
// description is null when absent. `file` and `description` are WTF-8.
void write_json_result_line(std::string_view file, std::optional<std::string_view> description,
                            const json::Value& result, const std::function<void(std::string_view)>& write);

// {"file": ..., "description": ..., "error": {"kind": ..., "message": ...}} and a line break;
// the file is null for a failure before any file ran (the first login).
void write_json_error_line(std::optional<std::string_view> file, std::optional<std::string_view> description,
                           std::string_view kind, std::string_view message,
                           const std::function<void(std::string_view)>& write);

}  // namespace quillon
