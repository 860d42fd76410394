// The module's side of the front-end interface: sys.argv, sys.stdout and the
// printer's stream, input(), getpass.getpass(), SystemExit, pending signals.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <utility>

#include "cli/front_end.hpp"
#include "client/https_transport.hpp"

namespace quillon::host {

class HostFrontEnd : public FrontEnd {
 public:
  // `result_stream` is where printed results go (the stream pp holds).
  explicit HostFrontEnd(nanobind::object result_stream = nanobind::none());

  std::vector<std::string> arguments() override;
  void print(std::string_view text) override;
  void print_description(std::string_view text) override;
  void write_result(std::string_view text) override;
  void flush() override;
  void write_usage(std::string_view text, bool to_error) override;
  std::string ask_line(std::string_view prompt) override;
  std::string ask_password(std::string_view prompt) override;
  [[noreturn]] void exit(int status) override;
  void note(std::string_view line) override;
  void check_interrupt() override;
  bool wait_unlocked(const std::function<bool()>& wait) override;

 private:
  nanobind::object result_stream_;
  std::string pending_;  // bytes of a character split between two result chunks
};

// Lets other threads (and signal handlers) run while a request blocks.
// The observer is called without the host lock: it must take it itself
// before touching host objects.
class HostTransport : public Transport {
 public:
  explicit HostTransport(TransportOptions options = {}) : curl_(std::move(options)) {}
  Response post(const std::string& url, const std::string& form_body, const std::function<void()>& check_interrupt,
                RequestObserver* observer = nullptr) override;
  void configure(const TransportOptions& options) override { curl_.configure(options); }

 private:
  CurlTransport curl_;
};

}  // namespace quillon::host
