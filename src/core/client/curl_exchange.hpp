// One HTTP exchange through libcurl: the request put on the wire (headers,
// the TLS floor, certificate checks, time limits, kept connections), the
// answer taken in (memory that follows the bytes, --max-filesize), and a
// failure told as far as it is known: no connection, a connection but no
// answer, or an answer that broke off. What comes next is for the policy
// (request_policy.hpp) and the post's loop (https_transport.cpp).
#pragma once

#include <curl/curl.h>

#include <functional>
#include <optional>
#include <string>

#include "client/answer_body.hpp"
#include "client/request_policy.hpp"
#include "json/json_keep_plan.hpp"

namespace quillon {

// One request of a post's chain: a redirect may turn the POST into a GET
// without the form.
struct Request {
  std::string url;     // as shown in messages
  std::string target;  // as put on the wire
  bool with_form = true;
};

struct Exchange {
  Outcome outcome;
  AnswerBody body;          // the whole answer, when it came
  bool keep_alive = false;  // the answer said its connection stays open
};

// Makes one exchange on `easy`, driven through `multi` (which keeps its
// connections when options.reuse_connections). `budget`: seconds left of
// --max-time for this try; `fresh`: on a new connection even when a kept
// one is at hand; `decode`: the body is decoded as it arrives, building what
// the plan reads. Throws what `check_interrupt` throws, and std::bad_alloc.
Exchange exchange(CURL* easy, CURLM* multi, const Request& request, const std::string& form_body,
                  const TransportOptions& options, const std::function<void()>& check_interrupt,
                  std::optional<double> budget, bool fresh, const json::KeepPlan* decode);

}  // namespace quillon
