// What a post does after each exchange with the server: hand the answer
// back, follow a redirect, wait and try again, or give up with an error.
// The rules are one pure function of what the exchange gave, the run's
// options and how far the post has got, so each is tested without a socket
// (the libcurl exchange itself is in https_transport.cpp).
//
// The rules, in short:
// - Without --retry every answer is the answer, whatever its status.
// - A request is tried again only when it cannot have reached the
//   controller (no connection could be made), or when the answer was 429
//   or 503; a login also after 502 and 504, which a proxy answers when it
//   may have passed the request on. With --retry, an answer of one of
//   those statuses that is not tried again ends the post with an error:
//   an error page is never taken for a result.
// - Redirects follow the host's client (307 and 308 repeat the form,
//   the others continue with a GET without it), except that https is never
//   left for plain http and the form never goes to another origin.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The operator's options for every request of a run.
struct TransportOptions {
  std::optional<double> connect_timeout;  // seconds, TLS included; none: no limit
  std::optional<double> max_time;         // seconds, one try with its redirects; none: no limit
  int retries = 0;                        // transient failures repeated at most this often
  double retry_delay = 1.0;               // seconds; a Retry-After (capped at 60 s) wins
  std::optional<std::string> cacert;      // PEM file: check chain and host name against it
  bool verify = false;                    // check chain and host name against the system store
  bool reuse_connections = false;         // keep-alive and TLS session reuse between posts
  std::optional<long long> max_filesize;  // largest answer accepted, in bytes after decompression
};

// A login may be sent again after an answer that shows a proxy passed it
// on; a query may change state on the controller, and is not.
enum class PostKind { query, login };

// What one exchange gave, as the transport saw it.
struct Outcome {
  long status = 0;             // the answer's HTTP status; 0 when none came
  std::string location;        // a redirect's target, resolved against the request
  long long retry_after = -1;  // seconds the server asked to wait; -1: no hint
  bool failed = false;         // no complete answer came
  bool repeatable = false;     // failed before any byte of the request can have left
  std::string reason;          // failed: what went wrong in a few words, for the retry note
  std::string message;         // failed: the whole error
};

// How far a post has got when an exchange ends.
struct PostState {
  PostKind kind = PostKind::query;
  std::string url;        // of the exchange that just ended
  bool with_form = true;  // it carried the form (a POST; a redirect may have made it a GET)
  int redirects = 0;      // followed before it
  int retries = 0;        // tries before it of the same request
};

struct Decision {
  enum class Action { answer, follow, retry, fail } action = Action::answer;
  std::string url;         // follow: where to
  bool with_form = false;  // follow: whether the form goes along
  std::string reason;      // retry: for the note on standard error
  double delay = 0;        // retry: seconds to wait first
  std::string message;     // fail: the error
};

Decision decide(const Outcome& outcome, const TransportOptions& options, const PostState& state);

inline constexpr int max_redirects = 30;
inline constexpr double max_retry_after = 60;  // seconds

// "host:port" of an http or https URL, the port filled in from the scheme.
std::string host_and_port(std::string_view url);

}  // namespace quillon
