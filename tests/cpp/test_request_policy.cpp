// The transport's policy, driven without sockets: which answers are the
// answer, which requests are tried again, which redirects are followed.
#include "client/request_policy.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillon;
using Action = Decision::Action;

namespace {

const std::string url = "https://10.0.0.5/v1/api";

Outcome answered(long status, std::string location = {}, long long retry_after = -1) {
  Outcome o;
  o.status = status;
  o.location = std::move(location);
  o.retry_after = retry_after;
  return o;
}

Outcome failed(bool repeatable) {
  Outcome o;
  o.failed = true;
  o.repeatable = repeatable;
  o.reason = "connection refused";
  o.message = "Cannot reach " + url + ": Connection refused";
  return o;
}

TransportOptions with_retries(int retries) {
  TransportOptions o;
  o.retries = retries;
  o.retry_delay = 0.25;
  return o;
}

PostState state(PostKind kind = PostKind::query, int retries = 0, bool with_form = true, int redirects = 0) {
  return PostState{kind, url, with_form, redirects, retries};
}

std::string describe(const Decision& d) {
  switch (d.action) {
    case Action::answer:
      return "answer";
    case Action::follow:
      return std::string("follow ") + (d.with_form ? "POST " : "GET ") + d.url;
    case Action::retry:
      return "retry " + d.reason + " after " + std::to_string(d.delay);
    case Action::fail:
      return "fail " + d.message;
  }
  return "?";
}

}  // namespace

TEST(RequestPolicy, StatusesDecideOnlyWithRetriesAndOnlyWhatCannotHaveActed) {
  struct Case {
    long status;
    PostKind kind;
    int retries;  // --retry
    std::string expected;
  };
  const std::string query_refused = ": not sent again, as the query may have reached the controller";
  const Case cases[] = {
      // Without --retry the status is not looked at, as the host's client does not.
      {503, PostKind::query, 0, "answer"},
      {502, PostKind::login, 0, "answer"},
      {200, PostKind::query, 2, "answer"},
      {500, PostKind::query, 2, "answer"},
      {404, PostKind::login, 2, "answer"},
      {429, PostKind::query, 2, "retry HTTP 429 after 0.250000"},
      {503, PostKind::query, 2, "retry HTTP 503 after 0.250000"},
      {502, PostKind::query, 2, "fail HTTP 502 from " + url + query_refused},
      {504, PostKind::query, 2, "fail HTTP 504 from " + url + query_refused},
      {502, PostKind::login, 2, "retry HTTP 502 after 0.250000"},
      {504, PostKind::login, 2, "retry HTTP 504 after 0.250000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(describe(decide(answered(c.status), with_retries(c.retries), state(c.kind))), c.expected)
        << c.status << " retries " << c.retries;
}

TEST(RequestPolicy, RetriesThatRunOutAreAnErrorNeverTheErrorPage) {
  EXPECT_EQ(describe(decide(answered(503), with_retries(2), state(PostKind::query, 1))),
            "retry HTTP 503 after 0.250000");
  EXPECT_EQ(describe(decide(answered(503), with_retries(2), state(PostKind::query, 2))),
            "fail HTTP 503 from " + url + " after 3 tries");
  EXPECT_EQ(describe(decide(answered(504), with_retries(1), state(PostKind::login, 1))),
            "fail HTTP 504 from " + url + " after 2 tries");
  // A success after retries is the answer.
  EXPECT_EQ(describe(decide(answered(200), with_retries(1), state(PostKind::query, 1))), "answer");
}

TEST(RequestPolicy, RetryAfterWinsUpToAMinute) {
  const std::pair<long long, double> waits[] = {{-1, 0.25}, {0, 0}, {7, 7}, {60, 60}, {3600, 60}};
  for (const auto& [asked, waited] : waits) {
    const Decision d = decide(answered(429, {}, asked), with_retries(1), state());
    EXPECT_EQ(d.action, Action::retry);
    EXPECT_EQ(d.delay, waited) << asked;
  }
}

TEST(RequestPolicy, FailuresAreRetriedOnlyWhenNothingCanHaveLeft) {
  const std::string message = "Cannot reach " + url + ": Connection refused";
  EXPECT_EQ(describe(decide(failed(true), with_retries(2), state())), "retry connection refused after 0.250000");
  EXPECT_EQ(describe(decide(failed(true), with_retries(2), state(PostKind::query, 2))),
            "fail " + message + " (3 tries)");
  EXPECT_EQ(describe(decide(failed(true), with_retries(0), state())), "fail " + message);
  // Sent, maybe received: the same for a login, which is a request like any other here.
  EXPECT_EQ(describe(decide(failed(false), with_retries(2), state())), "fail " + message);
  EXPECT_EQ(describe(decide(failed(false), with_retries(2), state(PostKind::login))), "fail " + message);
}

TEST(RequestPolicy, RedirectsKeepTheFormAtItsOriginAndNeverLeaveHttps) {
  struct Case {
    long status;
    std::string location;
    bool with_form;  // the request that was redirected carried the form
    std::string expected;
  };
  const std::string refused = "fail Refused to follow the redirect from " + url + " to ";
  const std::string elsewhere = ": the form would go along to another scheme, host or port";
  const Case cases[] = {
      // As the host's client: 301/302/303 continue with a GET, anywhere over https.
      {301, "https://10.0.0.5/v1/moved", true, "follow GET https://10.0.0.5/v1/moved"},
      {302, "https://other.example/x", true, "follow GET https://other.example/x"},
      {303, "https://10.0.0.5:8443/x", true, "follow GET https://10.0.0.5:8443/x"},
      // 307 and 308 repeat the form: to the same scheme, host and port only.
      {307, "https://10.0.0.5/v1/moved", true, "follow POST https://10.0.0.5/v1/moved"},
      {308, "HTTPS://10.0.0.5:443/v1/moved", true, "follow POST HTTPS://10.0.0.5:443/v1/moved"},
      {307, "https://10.0.0.5:8443/v1/api", true, refused + "https://10.0.0.5:8443/v1/api" + elsewhere},
      {308, "https://10.0.0.6/v1/api", true, refused + "https://10.0.0.6/v1/api" + elsewhere},
      {307, "https://user@10.0.0.6/v1/api", true, refused + "https://user@10.0.0.6/v1/api" + elsewhere},
      // A GET already (after a 303): nothing goes along.
      {307, "https://other.example/x", false, "follow GET https://other.example/x"},
      // Never from https to plain http, with or without the form.
      {307, "http://10.0.0.5/v1/api", true, refused + "http://10.0.0.5/v1/api: it leaves https for plain http"},
      {302, "HTTP://10.0.0.5/v1/api", true, refused + "HTTP://10.0.0.5/v1/api: it leaves https for plain http"},
      {303, "http://other.example/", false, refused + "http://other.example/: it leaves https for plain http"},
      {302, "file:///etc/passwd", true,
       "fail Cannot follow the redirect from " + url + " to file:///etc/passwd: not an HTTP address"},
      // Outside text is escaped before it reaches a message.
      {307, "http://x/\x1b]0;owned\x07", true, refused + "http://x/\\x1b]0;owned\\x07: it leaves https for plain http"},
      {302, "", true, "answer"},  // no Location: the answer is the answer
      {304, "https://10.0.0.5/x", true, "answer"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(
        describe(decide(answered(c.status, c.location), TransportOptions{}, state(PostKind::login, 0, c.with_form))),
        c.expected)
        << c.status << " " << c.location;
}

TEST(RequestPolicy, RedirectsStopAfterThirty) {
  const Outcome moved = answered(302, "https://10.0.0.5/v1/api");
  EXPECT_EQ(decide(moved, {}, state(PostKind::query, 0, true, max_redirects - 1)).action, Action::follow);
  EXPECT_EQ(describe(decide(moved, {}, state(PostKind::query, 0, true, max_redirects))),
            "fail Too many redirects: more than 30, the last from " + url);
}

TEST(RequestPolicy, HostAndPortFillInTheSchemesPort) {
  EXPECT_EQ(host_and_port("https://10.0.0.5/v1/api"), "10.0.0.5:443");
  EXPECT_EQ(host_and_port("http://h/x"), "h:80");
  EXPECT_EQ(host_and_port("https://u:p@h:8443/x"), "h:8443");
  EXPECT_EQ(host_and_port("https://[::1]/x"), "[::1]:443");
  EXPECT_EQ(host_and_port("https://[::1]:9/x"), "[::1]:9");
}
