#include "cli/saved_results.hpp"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/atomic_file.hpp"
#include "base/errors.hpp"
#include "base/paths.hpp"
#include "base/read_file.hpp"
#include "diff/value_diff.hpp"
#include "json/json_decode.hpp"
#include "print/json_writer.hpp"
#include "print/repr.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

using diff::Difference;

// The saved result, or nothing when there is none.
std::optional<json::Document> load(const std::string& path, const std::function<void()>& check_interrupt) {
  std::string text;
  try {
    text = read_file(path, check_interrupt);
  } catch (const OsError& e) {
    if (e.error_number() == ENOENT) return std::nullopt;
    throw;
  }
  try {
    return json::decode_buffer(text);
  } catch (JsonDecodeError& e) {
    e.add_context("the saved result " + path + " is not JSON");
    throw;
  }
}

std::string text_line(std::string_view file, const Difference& d) {
  std::string line = unicode::escape_controls(file) + ": ";
  const std::string path = diff::path_text(d.path);
  switch (d.change) {
    case Difference::Change::changed:
      if (!path.empty()) line += path + ": ";  // the whole result when empty
      repr::append(line, d.before, /*sort_keys=*/true);
      line += " -> ";
      repr::append(line, d.after, /*sort_keys=*/true);
      break;
    case Difference::Change::added:
      line += "+ " + path + ": ";
      repr::append(line, d.after, /*sort_keys=*/true);
      break;
    case Difference::Change::removed:
      line += "- " + path;
      break;
  }
  return line + '\n';
}

// {"file": ..., "change": ..., "path": [...], "before": ..., "after": ...}
// and a line break; `file` is bytes, written as the host would write a
// name os.listdir gave it.
std::string json_line(std::string_view file, std::string_view change, const std::vector<diff::Step>& path,
                      const json::Value* before, const json::Value* after) {
  json::Arena arena;
  const std::string name = unicode::escape_invalid_utf8(file);
  std::vector<json::Value> steps;
  for (const diff::Step& step : path)
    steps.push_back(step.is_index ? json::Value::integer(static_cast<std::int64_t>(step.index))
                                  : json::Value::text(step.key));
  std::vector<json::Member> members{{arena.store_key("file"), json::Value::text(name)},
                                    {arena.store_key("change"), json::Value::text(change)},
                                    {arena.store_key("path"), arena.copy_array(steps)}};
  if (before) members.push_back({arena.store_key("before"), *before});
  if (after) members.push_back({arena.store_key("after"), *after});
  std::string line;
  write_json(arena.copy_object(members), [&line](std::string_view piece) { line += piece; });
  return line + '\n';
}

std::string json_line(std::string_view file, const Difference& d) {
  switch (d.change) {
    case Difference::Change::changed:
      return json_line(file, "changed", d.path, &d.before, &d.after);
    case Difference::Change::added:
      return json_line(file, "added", d.path, nullptr, &d.after);
    case Difference::Change::removed:
      return json_line(file, "removed", d.path, &d.before, nullptr);
  }
  return {};
}

}  // namespace

std::string saved_result_path(std::string_view dir, std::string_view file) { return join_path(dir, file) + ".json"; }

void save_result(const std::string& dir, std::string_view file, const json::Value& result,
                 const std::function<void()>& check_interrupt) {
  try {
    write_file_atomically(saved_result_path(dir, file), [&](const std::function<void(std::string_view)>& put) {
      write_json_indented(result, [&](std::string_view piece) {
        check_interrupt();
        put(piece);
      });
    });
  } catch (OsError& e) {
    e.add_file(std::string(file));
    throw;
  }
}

bool write_differences(const std::string& dir, std::string_view file, const json::Value& result, bool json,
                       const std::function<void(std::string_view)>& write,
                       const std::function<void()>& check_interrupt) {
  std::optional<json::Document> saved;
  try {
    saved = load(saved_result_path(dir, file), check_interrupt);
  } catch (Error& e) {
    if (e.kind() != ErrorKind::interrupted) e.add_file(std::string(file));
    throw;
  }
  if (!saved) {
    write(json ? json_line(file, "unsaved", {}, nullptr, nullptr)
               : unicode::escape_controls(file) + ": no saved result\n");
    return true;
  }
  const std::vector<Difference> differences = diff::compare(saved->root, result);
  for (const Difference& d : differences) write(json ? json_line(file, d) : text_line(file, d));
  return !differences.empty();
}

}  // namespace quillon
