#include "client/curl_exchange.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>
#include <system_error>

#include "base/errors.hpp"
#include "base/version.hpp"
#include "client/answer_body.hpp"
#include "client/curl_library.hpp"
#include "text/ascii_case.hpp"
#include "text/seconds_text.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

// The host's client's defaults: TLS 1.2 at least, and its interpreter's
// cipher string, which leaves out key exchange without forward secrecy,
// SHA-1 MACs and other weak suites (TLS 1.3 suites are all acceptable).
constexpr const char* host_cipher_list =
    "@SECLEVEL=2:ECDH+AESGCM:ECDH+CHACHA20:ECDH+AES:DHE+AES:!aNULL:!eNULL:!aDSS:!SHA1:!AESCCM";
// Exactly the encodings the host's client offers: an answer cannot arrive
// in one it would not accept.
constexpr const char* host_encodings = "gzip, deflate";

struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_library().slist_free_all(l); }
};

// Keeps the easy handle in the multi handle for as long as the transfer runs.
class Attached {
 public:
  Attached(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
    if (curl_library().multi_add_handle(multi, easy) != CURLM_OK)
      throw Error(ErrorKind::transport, "Cannot start the request");
  }
  ~Attached() { curl_library().multi_remove_handle(multi_, easy_); }
  Attached(const Attached&) = delete;
  Attached& operator=(const Attached&) = delete;

 private:
  CURLM* multi_;
  CURL* easy_;
};

// What libcurl hands over of one answer.
struct Sink {
  Sink(CURL* h, AnswerBody&& answer) : easy(h), body(std::move(answer)) {}
  CURL* easy;
  AnswerBody body;
  bool over_limit = false;
  bool keep_alive = false;  // the answer said the connection stays open
  std::exception_ptr failure;
};

size_t write_body(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const size_t n = size * count;
  try {
    curl_off_t announced = -1;
    if (curl_library().easy_getinfo(sink->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK)
      announced = -1;
    if (!sink->body.append(std::string_view(data, n), announced)) {
      sink->over_limit = true;
      return 0;  // aborts the transfer
    }
  } catch (...) {
    sink->failure = std::current_exception();
    return 0;  // aborts the transfer; the failure is rethrown afterwards
  }
  return n;
}

// Whether the server said it keeps the connection open: a server that says
// nothing may close it right after answering, and a request sent on it then
// may or may not have reached the server, which cannot be told apart.
size_t read_header(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::string_view line(data, size * count);
  if (ascii::starts_with_ignoring_case(line, "http/"))
    sink->keep_alive = false;  // the status line of a new answer
  else if (ascii::starts_with_ignoring_case(line, "keep-alive:") ||
           (ascii::starts_with_ignoring_case(line, "connection:") && ascii::contains_ignoring_case(line, "keep-alive")))
    sink->keep_alive = true;
  return size * count;
}

// A request body that can be read once only. On a kept connection that dies
// before an answer, libcurl sends the request again on a new one, and only a
// body it cannot rewind stops that once a byte of it has left: the query may
// already have reached the controller and changed something there.
struct OneWayBody {
  std::string_view rest;
};

size_t read_body(char* buffer, size_t size, size_t count, void* user) {
  auto* body = static_cast<OneWayBody*>(user);
  const size_t n = std::min(size * count, body->rest.size());
  std::memcpy(buffer, body->rest.data(), n);
  body->rest.remove_prefix(n);
  return n;
}

void set(CURL* easy, CURLoption option, auto value) {
  CURLcode status = curl_library().easy_setopt(easy, option, value);
  if (status != CURLE_OK)
    throw Error(ErrorKind::transport,
                std::string("Cannot set up the request: ") + curl_library().easy_strerror(status));
}

template <typename T>
T info(CURL* easy, CURLINFO what, T fallback) {
  T value = fallback;
  return curl_library().easy_getinfo(easy, what, &value) == CURLE_OK ? value : fallback;
}

// libcurl takes 0 ms as "no limit", so a limit is at least 1 ms; its
// largest accepted value stands in for anything longer.
long milliseconds(double seconds) {
  if (!(seconds > 0.001)) return 1;
  if (!(seconds * 1000 < INT_MAX)) return INT_MAX;
  return static_cast<long>(std::llround(seconds * 1000));
}

class Exchanger {
 public:
  Exchanger(const TransportOptions& options, const std::function<void()>& check_interrupt)
      : options_(options), check_interrupt_(check_interrupt) {}

  // `budget`: seconds left of --max-time for this try, when there is one;
  // `fresh`: on a new connection even when a kept one is at hand.
  Exchange run(CURL* h, CURLM* multi, const Request& request, const std::string& form_body,
               std::optional<double> budget, bool fresh, const json::KeepPlan* decode) {
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    if (request.with_form) {
      headers.reset(curl_library().slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded"));
      // No "Expect: 100-continue" round trip before the body.
      if (!headers || !curl_library().slist_append(headers.get(), "Expect:")) throw std::bad_alloc();
    }
    // Each exchange's body is its own: a redirect or a retry starts afresh.
    Sink sink(h, decode != nullptr ? AnswerBody(options_.max_filesize, *decode, check_interrupt_)
                                   : AnswerBody(options_.max_filesize));
    char reason[CURL_ERROR_SIZE] = {0};
    static const std::string user_agent = "quillon/" + std::string(quillon_version());
    set(h, CURLOPT_URL, request.target.c_str());
    OneWayBody one_way{form_body};
    if (request.with_form) {
      set(h, CURLOPT_POST, 1L);
      if (options_.reuse_connections) {
        set(h, CURLOPT_READFUNCTION, &read_body);
        set(h, CURLOPT_READDATA, &one_way);
      } else {
        set(h, CURLOPT_POSTFIELDS, form_body.data());
      }
      set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form_body.size()));
      set(h, CURLOPT_HTTPHEADER, headers.get());
    } else {
      set(h, CURLOPT_HTTPGET, 1L);
    }
    set(h, CURLOPT_USERAGENT, user_agent.c_str());
    set(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(h, CURLOPT_ACCEPT_ENCODING, host_encodings);
    set(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    set(h, CURLOPT_SSL_CIPHER_LIST, host_cipher_list);
    const bool check = options_.verify || options_.cacert;
    // Unless asked to check it, the controller's certificate is taken as it is.
    set(h, CURLOPT_SSL_VERIFYPEER, check ? 1L : 0L);
    set(h, CURLOPT_SSL_VERIFYHOST, check ? 2L : 0L);
    if (options_.cacert) {
      // Exactly the given CAs: no system directory besides them.
      set(h, CURLOPT_CAINFO, options_.cacert->c_str());
      set(h, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    // Every request on a connection of its own, unless connections are kept.
    set(h, CURLOPT_FRESH_CONNECT, fresh || !options_.reuse_connections ? 1L : 0L);
    set(h, CURLOPT_FORBID_REUSE, options_.reuse_connections ? 0L : 1L);
    // libcurl caps connecting at 300 s unless told otherwise; its largest
    // accepted value (about 24 days) stands in for "never".
    if (options_.connect_timeout)
      set(h, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(*options_.connect_timeout));
    else
      set(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(INT_MAX / 1000));
    if (budget) set(h, CURLOPT_TIMEOUT_MS, milliseconds(*budget));
    set(h, CURLOPT_ERRORBUFFER, reason);
    set(h, CURLOPT_WRITEFUNCTION, &write_body);
    set(h, CURLOPT_WRITEDATA, &sink);
    set(h, CURLOPT_HEADERFUNCTION, &read_header);
    set(h, CURLOPT_HEADERDATA, &sink);

    CURLcode result = perform(h, multi, request.url);
    if (sink.failure) std::rethrow_exception(sink.failure);

    Exchange out;
    out.outcome.status = info(h, CURLINFO_RESPONSE_CODE, 0L);
    if (result == CURLE_OK) {
      out.body = std::move(sink.body);
      out.keep_alive = sink.keep_alive;
      if (const char* location = info<char*>(h, CURLINFO_REDIRECT_URL, nullptr)) out.outcome.location = location;
      curl_off_t after = info<curl_off_t>(h, CURLINFO_RETRY_AFTER, 0);
      // libcurl reports 0 for an absent or unreadable hint, negative for a
      // date already past.
      if (after != 0) out.outcome.retry_after = std::max<curl_off_t>(after, 0);
      return out;
    }
    out.outcome.failed = true;
    describe_failure(h, result, reason, request, budget, sink, out.outcome);
    return out;
  }

 private:
  CURLcode perform(CURL* h, CURLM* multi, const std::string& url) {
    Attached attached(multi, h);
    auto fail = [&](CURLMcode m) {
      return Error(ErrorKind::transport,
                   "Cannot reach " + unicode::escape_controls(url) + ": " + curl_library().multi_strerror(m));
    };
    for (;;) {
      int running = 0;
      CURLMcode m = curl_library().multi_perform(multi, &running);
      if (m != CURLM_OK) throw fail(m);
      if (running == 0) break;
      // Wakes at least every 100 ms so an interrupt is noticed promptly even
      // while the server sends nothing.
      m = curl_library().multi_poll(multi, nullptr, 0, 100, nullptr);
      if (m != CURLM_OK) throw fail(m);
      if (check_interrupt_) check_interrupt_();
    }
    CURLcode result = CURLE_OK;
    int queued = 0;
    while (CURLMsg* msg = curl_library().multi_info_read(multi, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) result = msg->data.result;
    }
    return result;
  }

  // Says what happened as far as it is known: no connection, a connection
  // but no answer, or an answer that broke off.
  void describe_failure(CURL* h, CURLcode result, const char* reason, const Request& request,
                        std::optional<double> budget, const Sink& sink, Outcome& out) {
    const std::string url = unicode::escape_controls(request.url);
    const std::string detail =
        unicode::escape_controls(reason[0] != '\0' ? reason : curl_library().easy_strerror(result));
    long os_errno = info(h, CURLINFO_OS_ERRNO, 0L);
    // Until the TLS handshake is done (or the request has started on a
    // reused connection) no byte of the request can have left.
    const bool plain = ascii::starts_with_ignoring_case(request.target, "http://");
    const bool connected = info<curl_off_t>(h, CURLINFO_APPCONNECT_TIME_T, 0) > 0 ||
                           info<curl_off_t>(h, CURLINFO_PRETRANSFER_TIME_T, 0) > 0 ||
                           (plain && info<curl_off_t>(h, CURLINFO_CONNECT_TIME_T, 0) > 0);
    switch (result) {
      case CURLE_OPERATION_TIMEDOUT: {
        // While connecting, whichever limit was the nearer one hit.
        const bool connect_limit =
            !connected && options_.connect_timeout && (!budget || *options_.connect_timeout <= *budget);
        const std::string limit = connect_limit ? "--connect-timeout " + seconds_text(*options_.connect_timeout)
                                                : "--max-time " + seconds_text(options_.max_time.value_or(0));
        if (connected) {
          out.message = "No complete answer from " + url + " within " + limit;
        } else {
          out.reason = "no connection within " + limit;
          out.message = "Cannot reach " + url + ": " + out.reason;
          out.repeatable = true;
        }
        return;
      }
      case CURLE_PEER_FAILED_VERIFICATION:
        out.message = "the certificate of " + unicode::escape_controls(host_and_port(request.target)) +
                      " was not accepted: " + detail;
        return;
      case CURLE_SEND_FAIL_REWIND:  // see OneWayBody
        out.message = "No answer from " + url +
                      ": the connection closed after the request was sent; not sent again, as it may have reached "
                      "the controller";
        return;
      case CURLE_SSL_CACERT_BADFILE:
        out.message = "Cannot use the CA certificates in " +
                      unicode::escape_controls(options_.cacert.value_or("the system store")) + ": " + detail;
        return;
      case CURLE_WRITE_ERROR:
        if (!sink.over_limit) break;
        out.message =
            "The answer of " + url + " is over --max-filesize " + std::to_string(*options_.max_filesize) + " bytes";
        return;
      case CURLE_COULDNT_RESOLVE_HOST:
        out.reason = "could not resolve host";
        out.repeatable = !connected;
        break;
      case CURLE_COULDNT_CONNECT:
        out.reason = os_errno != 0 ? std::generic_category().message(static_cast<int>(os_errno)) : "cannot connect";
        if (!out.reason.empty()) out.reason[0] = ascii::lower(out.reason[0]);
        out.repeatable = !connected;
        break;
      case CURLE_SSL_CONNECT_ERROR:
        out.reason = "TLS handshake failed";
        out.repeatable = !connected;
        out.message = "Cannot reach " + url + ": the TLS handshake failed: " + detail;
        return;
      default:
        break;
    }
    if (out.status != 0) {
      const auto received = info<curl_off_t>(h, CURLINFO_SIZE_DOWNLOAD_T, 0);
      out.message = url + " answered HTTP " + std::to_string(out.status) + ", but the answer broke off after " +
                    std::to_string(received) + " bytes: " + detail;
      return;
    }
    out.message = (connected ? "No answer from " : "Cannot reach ") + url + ": " + detail;
    if (os_errno != 0) out.message += " (" + std::generic_category().message(static_cast<int>(os_errno)) + ")";
  }

  const TransportOptions& options_;
  const std::function<void()>& check_interrupt_;
};

}  // namespace

Exchange exchange(CURL* easy, CURLM* multi, const Request& request, const std::string& form_body,
                  const TransportOptions& options, const std::function<void()>& check_interrupt,
                  std::optional<double> budget, bool fresh, const json::KeepPlan* decode) {
  return Exchanger(options, check_interrupt).run(easy, multi, request, form_body, budget, fresh, decode);
}

}  // namespace quillon
