// What the operator sees of the requests on standard error: with --verbose
// one line per HTTP exchange (redirects and retries included), and always a
// line before each retry. The password and the CID are shown as ***.
#pragma once

#include <chrono>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "client/form_encode.hpp"
#include "client/https_transport.hpp"

namespace quillon {

class RequestLog {
 public:
  using Sink = std::function<void(std::string_view line)>;  // one line, line end included

  RequestLog(bool verbose, Sink sink)
      : verbose_(verbose), sink_(std::move(sink)), start_(std::chrono::steady_clock::now()) {}

  // The observer for one post of `form` while running `file` (empty for the
  // login that checks the credentials before the walk).
  class Post : public RequestObserver {
   public:
    Post(const RequestLog& log, std::string_view file, std::span<const FormField> form);
    void exchanged(const Hop& hop) override;
    void retrying(std::string_view reason, int attempt, int retries, double delay) override;

   private:
    const RequestLog& log_;
    std::string file_;
    std::string shown_form_;  // the body as sent, secrets masked
  };

 private:
  bool verbose_;
  Sink sink_;
  std::chrono::steady_clock::time_point start_;
};

// The form body as it is sent, with the values of "password" and "CID" as ***.
std::string masked_form(std::span<const FormField> form);

}  // namespace quillon
