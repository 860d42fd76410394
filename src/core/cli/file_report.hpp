// How each configuration file's outcome reaches standard output: the printed
// form (description before the query, the pretty-printed result and two
// empty lines after it) or, with --json, one JSON line per file (its result
// or its error); with --compare, instead of the result, how it differs from
// the saved one; with --save, the result is also kept. Both walks, one at a
// time and parallel, report through it.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "base/errors.hpp"
#include "cli/front_end.hpp"
#include "client/run_settings.hpp"
#include "json/json_value.hpp"

namespace quillon {

class FileReport {
 public:
  FileReport(FrontEnd& front_end, const RunSettings& settings) : front_end_(front_end), settings_(settings) {}

  // A file's description (with its line end), once it is read; printed now
  // in the printed form, kept for the line with --json.
  void description(const std::optional<std::string>& text);
  // The file's narrowed result (`file` is its base name); ends its report,
  // which is written out, and then saves the result.
  void result(std::string_view file, const json::Value& value);
  // The failure that ends the run at this file, before it travels on: with
  // --json, the file's error line, written out.
  void failure(std::string_view file, const std::exception_ptr& failure);
  // Whether --compare found a difference in a file reported so far.
  bool differs() const { return differs_; }

 private:
  std::optional<std::string_view> description_text() const;
  void write(std::string_view chunk);

  FrontEnd& front_end_;
  const RunSettings& settings_;
  std::optional<std::string> description_;
  bool differs_ = false;
};

// The host's name for the kind of a failure ("KeyError", "LoginFailed", ...)
// and its message, as the JSON error line gives them.
std::pair<std::string, std::string> describe_failure(const std::exception_ptr& failure);

// The host's name for the class it raises for `error` ("FileNotFoundError").
std::string_view host_kind_name(const Error& error);
// The host's str() of that exception.
std::string host_message(const Error& error);
// A failure that ends the run, as the operator reads it after "error: ":
// where (the file chain, then what was being done), the host's kind of
// error, and what failed in the operator's words, e.g.
//   gateways.cfg: filters "results, vpc_id": step "vpc_id": KeyError: no key 'vpc_id' in a result
std::string describe_for_operator(const Error& error);

}  // namespace quillon
