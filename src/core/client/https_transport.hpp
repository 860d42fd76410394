// One HTTPS POST of a form body per request, as the controller API needs it.
// By default: no certificate or host-name check, no time limit, no retry, a
// new connection each time. Operators may opt into time limits, retries of
// transient failures, certificate checks and connection reuse. Redirects are
// always followed the way the host's HTTP client follows them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

struct TransportOptions {
  std::optional<double> connect_timeout;  // seconds, TLS included; none: no limit
  std::optional<double> max_time;         // seconds, one try with its redirects; none: no limit
  int retries = 0;                        // transient failures repeated at most this often
  double retry_delay = 1.0;               // seconds; a Retry-After (capped at 60 s) wins
  std::optional<std::string> cacert;      // PEM file: check chain and host name against it
  bool verify = false;                    // check chain and host name against the system store
  bool reuse_connections = false;         // keep-alive and TLS session reuse between posts
};

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
  std::string body;
  long status = 0;
  std::string url;  // after redirects
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Posts `form_body` (application/x-www-form-urlencoded) to `url`, used
  // verbatim, and returns the final answer whatever its status. Throws
  // Error(ErrorKind::transport) when the request cannot be completed.
  // `check_interrupt` is called regularly while the request blocks (and while
  // waiting to retry); whatever it throws aborts the request and reaches the
  // caller unchanged. `observer` may be null.
  virtual Response post(const std::string& url, const std::string& form_body,
                        const std::function<void()>& check_interrupt, RequestObserver* observer = nullptr) = 0;
  // The run's options, known only once the command line is resolved; given
  // before the first post. Transports without options ignore them.
  virtual void configure(const TransportOptions& /*options*/) {}
};

// Not safe to share between threads: with reuse_connections it holds one
// connection, used by one post at a time.
class CurlTransport : public Transport {
 public:
  explicit CurlTransport(TransportOptions options = {});
  ~CurlTransport() override;
  CurlTransport(CurlTransport&&) noexcept;
  CurlTransport& operator=(CurlTransport&&) noexcept;

  Response post(const std::string& url, const std::string& form_body, const std::function<void()>& check_interrupt,
                RequestObserver* observer = nullptr) override;
  void configure(const TransportOptions& options) override;

  const TransportOptions& options() const { return options_; }

 private:
  struct Handles;  // the kept handles when connections are reused
  TransportOptions options_;
  std::unique_ptr<Handles> kept_;
};

// "https://" + address + "/v1/api"; the address is used as given.
std::string controller_api_url(std::string_view controller_ip);

}  // namespace quillon
