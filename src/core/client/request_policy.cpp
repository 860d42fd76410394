#include "client/request_policy.hpp"

#include <algorithm>

#include "text/ascii_case.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

bool is_http(std::string_view url) { return ascii::starts_with_ignoring_case(url, "http://"); }
bool is_https(std::string_view url) { return ascii::starts_with_ignoring_case(url, "https://"); }

bool is_redirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// What a busy or restarting controller, or a proxy in front of it, answers.
bool is_transient(long status) { return status == 429 || status == 502 || status == 503 || status == 504; }

// 429 and 503 say the request was not acted on; a 502 or 504 from a proxy
// may come after the controller received it.
bool may_repeat(long status, PostKind kind) {
  return status == 429 || status == 503 || (kind == PostKind::login && (status == 502 || status == 504));
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii::lower(c);
  return out;
}

// Scheme, host and port, as compared for "the same origin".
std::string origin(std::string_view url) {
  const std::size_t colon = url.find(':');
  return lower(url.substr(0, colon)) + "://" + lower(host_and_port(url));
}

Decision fail(std::string message) {
  Decision d;
  d.action = Decision::Action::fail;
  d.message = std::move(message);
  return d;
}

Decision retry(std::string reason, double delay) {
  Decision d;
  d.action = Decision::Action::retry;
  d.reason = std::move(reason);
  d.delay = delay;
  return d;
}

Decision redirect(const Outcome& outcome, const PostState& state) {
  const std::string from = unicode::escape_controls(state.url), to = unicode::escape_controls(outcome.location);
  if (state.redirects >= max_redirects)
    return fail("Too many redirects: more than " + std::to_string(max_redirects) + ", the last from " + from);
  if (!is_http(outcome.location) && !is_https(outcome.location))
    return fail("Cannot follow the redirect from " + from + " to " + to + ": not an HTTP address");
  const std::string refused = "Refused to follow the redirect from " + from + " to " + to + ": ";
  if (is_https(state.url) && is_http(outcome.location)) return fail(refused + "it leaves https for plain http");
  // As the host's client does: 307 and 308 repeat the request, form and
  // all; the others continue with a GET without it.
  const bool repeats_form = (outcome.status == 307 || outcome.status == 308) && state.with_form;
  if (repeats_form && origin(state.url) != origin(outcome.location))
    return fail(refused + "the form would go along to another scheme, host or port");
  Decision d;
  d.action = Decision::Action::follow;
  d.url = outcome.location;
  d.with_form = repeats_form;
  return d;
}

}  // namespace

Decision decide(const Outcome& outcome, const TransportOptions& options, const PostState& state) {
  const int tries = state.retries + 1;
  if (outcome.failed) {
    if (outcome.repeatable && state.retries < options.retries) return retry(outcome.reason, options.retry_delay);
    return fail(tries > 1 ? outcome.message + " (" + std::to_string(tries) + " tries)" : outcome.message);
  }
  if (is_redirect(outcome.status) && !outcome.location.empty()) return redirect(outcome, state);
  // Without --retry the status is not looked at, as the host's client does not.
  if (options.retries == 0 || !is_transient(outcome.status)) return Decision{};
  const std::string status = "HTTP " + std::to_string(outcome.status);
  const std::string url = unicode::escape_controls(state.url);
  if (!may_repeat(outcome.status, state.kind))
    return fail(status + " from " + url + ": not sent again, as the query may have reached the controller");
  if (state.retries >= options.retries)
    return fail(status + " from " + url + " after " + std::to_string(tries) + " tries");
  const double delay = outcome.retry_after >= 0 ? std::min(static_cast<double>(outcome.retry_after), max_retry_after)
                                                : options.retry_delay;
  return retry(status, delay);
}

std::string host_and_port(std::string_view url) {
  std::size_t start = url.find("://");
  start = start == std::string_view::npos ? 0 : start + 3;
  std::size_t end = url.find_first_of("/?#", start);
  std::string_view authority = url.substr(start, end == std::string_view::npos ? url.npos : end - start);
  if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  std::size_t colon = authority.rfind(':');
  std::size_t bracket = authority.rfind(']');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket))
    return std::string(authority);
  return std::string(authority) + (is_http(url) ? ":80" : ":443");
}

}  // namespace quillon
