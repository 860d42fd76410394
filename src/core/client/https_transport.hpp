// One HTTPS POST of a form body per request, as the controller API needs it.
// By default: no certificate or host-name check, no time limit, no retry, a
// new connection each time. Operators may opt into time limits, retries of
// transient failures, certificate checks, a size limit and connection reuse.
// Always: TLS 1.2 or later with the cipher suites the host's client accepts,
// HTTP/1.1, the encodings the host's client offers, and redirects as the
// host's client follows them, except that the form stays at its origin
// (request_policy.hpp has those rules).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "client/answer_body.hpp"
#include "client/request_policy.hpp"
#include "json/json_keep_plan.hpp"

namespace quillon {

// One HTTP exchange; a redirect or a retry makes several per post.
struct Hop {
  std::string method;  // "POST", or "GET" after a 301/302/303
  std::string url;
  long status = 0;        // 0 when no answer came
  std::size_t bytes = 0;  // answer body size
  double seconds = 0;     // this exchange's duration
};

// Told about each exchange and each retry, for a request trace. Called on the
// thread that posts, while the request is in progress.
class RequestObserver {
 public:
  virtual ~RequestObserver() = default;
  virtual void exchanged(const Hop&) {}
  // Before waiting `delay` seconds for try `attempt` (1-based) of `retries`.
  virtual void retrying(std::string_view /*reason*/, int /*attempt*/, int /*retries*/, double /*delay*/) {}
};

struct Response {
  std::string body;  // unless `decoding` holds it
  long status = 0;
  std::string url;  // after redirects
  // A post asked to decode: the answer, decoded as far as it could be while
  // it arrived; its decode() gives the document.
  std::unique_ptr<AnswerBody> decoding;
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Posts `form_body` (application/x-www-form-urlencoded) to `url`, used
  // verbatim, and returns the final answer. Throws Error(ErrorKind::transport)
  // when the request cannot be completed or the policy refuses the answer.
  // `check_interrupt` is called regularly while the request blocks (and while
  // waiting to retry); whatever it throws aborts the request and reaches the
  // caller unchanged. `observer` may be null. With `decode`, the answer's
  // body may come decoded as JSON (Response::decoding), with what the plan
  // reads; the plan must outlive the response.
  virtual Response post(const std::string& url, const std::string& form_body,
                        const std::function<void()>& check_interrupt, RequestObserver* observer = nullptr,
                        PostKind kind = PostKind::query, const json::KeepPlan* decode = nullptr) = 0;
  // The run's options, known only once the command line is resolved; given
  // before the first post. Transports without options ignore them.
  virtual void configure(const TransportOptions& /*options*/) {}
};

// Not safe to share between threads: with reuse_connections it holds one
// connection, used by one post at a time.
class CurlTransport : public Transport {
 public:
  // Throws Error(ErrorKind::transport) when the --cacert file cannot serve.
  explicit CurlTransport(TransportOptions options = {});
  ~CurlTransport() override;
  CurlTransport(CurlTransport&&) noexcept;
  CurlTransport& operator=(CurlTransport&&) noexcept;

  // With `decode`, the final answer always comes in Response::decoding:
  // only that exchange's body counts, each exchange's decoded afresh.
  Response post(const std::string& url, const std::string& form_body, const std::function<void()>& check_interrupt,
                RequestObserver* observer = nullptr, PostKind kind = PostKind::query,
                const json::KeepPlan* decode = nullptr) override;
  // Checks the --cacert file now, before any connection is made.
  void configure(const TransportOptions& options) override;

 private:
  struct Handles;  // the kept handles when connections are reused
  TransportOptions options_;
  std::unique_ptr<Handles> kept_;
};

// "https://" + address + "/v1/api"; the address is used as given.
std::string controller_api_url(std::string_view controller_ip);

}  // namespace quillon
