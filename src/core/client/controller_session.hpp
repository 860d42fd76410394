// The controller session: the login that yields a CID, and the query runner
// that turns one configuration file (simple or compound) into requests and a
// narrowed result. It talks to the controller only through a Transport and
// knows nothing of front ends: a refused login is an exception the caller
// decides about.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "client/form_encode.hpp"
#include "client/https_transport.hpp"
#include "client/request_log.hpp"
#include "client/run_settings.hpp"
#include "json/json_value.hpp"

namespace quillon {

// How deep compound queries may nest before the run is stopped.
constexpr std::size_t max_compound_depth = 100;

// The controller's login answer held no usable CID (not JSON, not an object,
// or no "CID" member). The run driver prints "Login failed" and ends with 1.
// `reason` says more when the answer was no login answer at all (an HTTP
// error status, not JSON), as when a proxy answered; a plain refusal has
// none. what() is "Login failed", followed by ": " and the reason if any.
class LoginRefused : public std::runtime_error {
 public:
  explicit LoginRefused(std::string reason = {})
      : std::runtime_error(reason.empty() ? "Login failed" : "Login failed: " + reason), reason_(std::move(reason)) {}
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

class ControllerSession {
 public:
  // `check_interrupt` is called while requests block; what it throws ends them.
  ControllerSession(Transport& transport, const RunSettings& settings, std::function<void()> check_interrupt = {})
      : transport_(transport), settings_(settings), check_interrupt_(std::move(check_interrupt)) {}

  // Logs in and returns the answer's "CID" member (with the arena it points
  // into). Throws LoginRefused for an unusable answer; a transport failure
  // throws its own error.
  json::Document login();

  // Runs one configuration file: reads it, logs in for its own CID, posts the
  // query (for a compound query, first the file it names and then one query
  // per element of that result) and returns the narrowed answer. An Error
  // on the way names the file (a compound query's chain of files), and says
  // which answer was not JSON or which filter step failed; running out of
  // memory is such an Error too (ErrorKind::memory).
  json::Document run_query_file(const std::string& path);

  // Parallel runs: runs query(k, transport) for every k < count, as many at
  // once as it can, each on a transport of its own, and rethrows the failure
  // of the lowest k. Without it, compound elements are posted one by one.
  using ElementRunner =
      std::function<void(std::size_t count, const std::function<void(std::size_t, Transport&)>& query)>;
  void run_elements_with(ElementRunner runner) { element_runner_ = std::move(runner); }

  // Where requests are traced and retries noted; none by default.
  void log_requests_to(const RequestLog* log) { log_ = log; }

 private:
  struct OpenFile {
    unsigned long long device, inode;
    std::string path;
  };
  json::Document run_query(const std::string& path, std::string_view name, std::vector<OpenFile>& chain);
  json::Document run_query_unnamed(const std::string& path, std::vector<OpenFile>& chain);
  Response post(Transport& transport, std::span<const FormField> form, PostKind kind,
                const json::KeepPlan* decode = nullptr);
  json::Value query(Transport& transport, const std::vector<FormField>& form, const std::vector<std::string>& filters,
                    json::Arena& into);
  // Between the long steps of a query (decoding, filtering), which also call
  // check_interrupt as they go, so Ctrl-C is prompt.
  void interrupt_point();

  Transport& transport_;
  const RunSettings& settings_;
  std::function<void()> check_interrupt_;
  ElementRunner element_runner_;
  const RequestLog* log_ = nullptr;
  std::string file_;  // the file being run, as the operator knows it
};

}  // namespace quillon
