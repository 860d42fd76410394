// One HTTPS POST of a form body per request, as the controller API needs it:
// no certificate or host-name check, no time limit, a new connection each time.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quillon {

class Transport {
 public:
  virtual ~Transport() = default;
  // Posts `form_body` (application/x-www-form-urlencoded) to `url`, used
  // verbatim, and returns the answer's body whatever its status. Throws
  // Error(ErrorKind::transport) when the request cannot be completed.
  // `check_interrupt` is called regularly while the request blocks; whatever
  // it throws aborts the request and reaches the caller unchanged.
  virtual std::string post(const std::string& url, const std::string& form_body,
                           const std::function<void()>& check_interrupt) = 0;
};

class CurlTransport : public Transport {
 public:
  CurlTransport();
  std::string post(const std::string& url, const std::string& form_body,
                   const std::function<void()>& check_interrupt) override;
};

// "https://" + address + "/v1/api"; the address is used as given.
std::string controller_api_url(std::string_view controller_ip);

}  // namespace quillon
