#include "client/https_transport.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "base/errors.hpp"
#include "client/curl_library.hpp"
#include "json/json_decode.hpp"

namespace quillon {
namespace {

struct EasyDeleter {
  void operator()(CURL* h) const { curl_library().easy_cleanup(h); }
};
struct MultiDeleter {
  void operator()(CURLM* h) const { curl_library().multi_cleanup(h); }
};
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

struct Sink {
  explicit Sink(CURL* h) : easy(h) {}
  CURL* easy;
  std::string body;
  bool reserved = false;
  std::exception_ptr failure;
};

// Grows the body geometrically (std::string does); reserves the announced
// length once, within reason, so a large answer is not copied repeatedly,
// with the decoder's padding to spare so that it decodes in place.
size_t write_body(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  size_t n = size * count;
  try {
    if (!sink->reserved) {
      sink->reserved = true;
      curl_off_t announced = -1;
      if (curl_library().easy_getinfo(sink->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
          announced > 0) {
        constexpr curl_off_t cap = curl_off_t{1} << 30;
        sink->body.reserve(static_cast<size_t>(announced < cap ? announced : cap) + json::padding_bytes);
      }
    }
    sink->body.append(data, n);
  } catch (...) {
    sink->failure = std::current_exception();
    return 0;  // aborts the transfer; the failure is rethrown afterwards
  }
  return n;
}

// A request body that can be read once only. On a kept connection that dies
// before an answer, libcurl sends the request again on a new one, and only a
// body it cannot rewind stops that: the query may already have reached the
// controller and changed something there.
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

// The client refuses a URL whose host part holds white space or control
// characters; white space elsewhere is percent-encoded, as the host does.
std::string checked_url(const std::string& url) {
  std::size_t authority = url.find("://");
  authority = authority == std::string::npos ? 0 : authority + 3;
  std::size_t path = url.find_first_of("/?#", authority);
  if (path == std::string::npos) path = url.size();
  if (authority == path) throw Error(ErrorKind::transport, "Invalid URL " + url + ": No host supplied");
  for (std::size_t i = 0; i < path; ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c == 0x7f)
      throw Error(ErrorKind::transport,
                  "Invalid URL " + url + ": the host part holds white space or control characters");
  }
  std::string out = url.substr(0, path);
  static constexpr char hex[] = "0123456789ABCDEF";
  for (std::size_t i = path; i < url.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c >= 0x7f) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
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

// "2", "0.5": seconds as an operator would have typed them.
std::string seconds_text(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", seconds);
  return buffer;
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// "host:port" of a URL, the port filled in from the scheme when absent.
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
  return std::string(authority) + (starts_with_nocase(url, "http://") ? ":80" : ":443");
}

bool is_redirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool is_transient_status(long status) { return status == 429 || status == 502 || status == 503 || status == 504; }

// What one request of the chain looks like: a redirect may turn the POST
// into a GET without body.
struct Request {
  std::string url;     // as shown in messages
  std::string target;  // as put on the wire
  bool post = true;
};

// One exchange's outcome: an answer, or a failure and whether the request
// may be repeated because nothing of it can have reached the server.
struct Outcome {
  long status = 0;
  std::string body;
  std::string location;        // where a redirect points, resolved
  long long retry_after = -1;  // seconds the server asked to wait; -1: no hint
  bool failed = false;
  bool repeatable = false;
  bool time_limit = false;  // --max-time or --connect-timeout was hit
  std::string reason;       // short, for the retry note
  std::string message;      // the whole error
};

class Exchanger {
 public:
  Exchanger(const TransportOptions& options, const std::function<void()>& check_interrupt)
      : options_(options), check_interrupt_(check_interrupt) {}

  // `budget`: seconds left of --max-time for this try, when there is one.
  Outcome run(CURL* h, CURLM* multi, const Request& request, const std::string& form_body,
              std::optional<double> budget) {
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    if (request.post) {
      headers.reset(curl_library().slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded"));
      // No "Expect: 100-continue" round trip before the body.
      if (!headers || !curl_library().slist_append(headers.get(), "Expect:")) throw std::bad_alloc();
    }
    Sink sink(h);
    char reason[CURL_ERROR_SIZE] = {0};
    set(h, CURLOPT_URL, request.target.c_str());
    OneWayBody one_way{form_body};
    if (request.post) {
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
    const bool check = options_.verify || options_.cacert;
    // Unless asked to check it, the controller's certificate is taken as it is.
    set(h, CURLOPT_SSL_VERIFYPEER, check ? 1L : 0L);
    set(h, CURLOPT_SSL_VERIFYHOST, check ? 2L : 0L);
    if (options_.cacert) {
      // Exactly the given CAs: no system directory besides them.
      set(h, CURLOPT_CAINFO, options_.cacert->c_str());
      set(h, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    if (!options_.reuse_connections) {
      // Every request on a connection of its own.
      set(h, CURLOPT_FRESH_CONNECT, 1L);
      set(h, CURLOPT_FORBID_REUSE, 1L);
    }
    set(h, CURLOPT_ACCEPT_ENCODING, "");
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

    CURLcode result = perform(h, multi, request.url);
    if (sink.failure) std::rethrow_exception(sink.failure);

    Outcome out;
    if (result == CURLE_OK) {
      out.status = info(h, CURLINFO_RESPONSE_CODE, 0L);
      out.body = std::move(sink.body);
      if (const char* location = info<char*>(h, CURLINFO_REDIRECT_URL, nullptr)) out.location = location;
      curl_off_t after = info<curl_off_t>(h, CURLINFO_RETRY_AFTER, 0);
      // libcurl reports 0 for an absent or unreadable hint, negative for a
      // date already past.
      if (after != 0) out.retry_after = std::max<curl_off_t>(after, 0);
      return out;
    }
    out.failed = true;
    describe_failure(h, result, reason, request, budget, out);
    return out;
  }

 private:
  CURLcode perform(CURL* h, CURLM* multi, const std::string& url) {
    Attached attached(multi, h);
    for (;;) {
      int running = 0;
      CURLMcode m = curl_library().multi_perform(multi, &running);
      if (m != CURLM_OK)
        throw Error(ErrorKind::transport, "Cannot reach " + url + ": " + curl_library().multi_strerror(m));
      if (running == 0) break;
      // Wakes at least every 100 ms so an interrupt is noticed promptly even
      // while the server sends nothing.
      m = curl_library().multi_poll(multi, nullptr, 0, 100, nullptr);
      if (m != CURLM_OK)
        throw Error(ErrorKind::transport, "Cannot reach " + url + ": " + curl_library().multi_strerror(m));
      if (check_interrupt_) check_interrupt_();
    }
    CURLcode result = CURLE_OK;
    int queued = 0;
    while (CURLMsg* msg = curl_library().multi_info_read(multi, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) result = msg->data.result;
    }
    return result;
  }

  void describe_failure(CURL* h, CURLcode result, const char* reason, const Request& request,
                        std::optional<double> budget, Outcome& out) {
    const std::string detail = reason[0] != '\0' ? reason : curl_library().easy_strerror(result);
    long os_errno = info(h, CURLINFO_OS_ERRNO, 0L);
    // Until the TLS handshake is done (or the request has started on a
    // reused connection) no byte of the request can have left.
    const bool plain = starts_with_nocase(request.target, "http://");
    const bool connected = info<curl_off_t>(h, CURLINFO_APPCONNECT_TIME_T, 0) > 0 ||
                           info<curl_off_t>(h, CURLINFO_PRETRANSFER_TIME_T, 0) > 0 ||
                           (plain && info<curl_off_t>(h, CURLINFO_CONNECT_TIME_T, 0) > 0);
    switch (result) {
      case CURLE_OPERATION_TIMEDOUT: {
        // While connecting, whichever limit was the nearer one hit.
        const bool connect_limit =
            !connected && options_.connect_timeout && (!budget || *options_.connect_timeout <= *budget);
        out.time_limit = true;
        const std::string limit = connect_limit ? "--connect-timeout " + seconds_text(*options_.connect_timeout)
                                                : "--max-time " + seconds_text(options_.max_time.value_or(0));
        if (connected) {
          out.message = "No complete answer from " + request.url + " within " + limit + " s";
        } else {
          out.reason = "no connection within " + limit + " s";
          out.message = "Cannot reach " + request.url + ": " + out.reason;
          out.repeatable = true;
        }
        return;
      }
      case CURLE_PEER_FAILED_VERIFICATION:
        out.message = "the certificate of " + host_and_port(request.target) + " was not accepted: " + detail;
        return;
      case CURLE_SEND_FAIL_REWIND:  // see OneWayBody
        out.message = "No answer from " + request.url +
                      ": the connection closed after the request was sent; not sent again, as it may have reached "
                      "the controller";
        return;
      case CURLE_SSL_CACERT_BADFILE:
        out.message =
            "Cannot use the CA certificates in " + options_.cacert.value_or("the system store") + ": " + detail;
        return;
      case CURLE_COULDNT_RESOLVE_HOST:
        out.reason = "could not resolve host";
        out.repeatable = !connected;
        break;
      case CURLE_COULDNT_CONNECT:
        out.reason = os_errno != 0 ? std::generic_category().message(static_cast<int>(os_errno)) : "cannot connect";
        if (!out.reason.empty())
          out.reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(out.reason[0])));
        out.repeatable = !connected;
        break;
      case CURLE_SSL_CONNECT_ERROR:
        out.reason = "TLS handshake failed";
        out.repeatable = !connected;
        break;
      default:
        break;
    }
    out.message = "Cannot reach " + request.url + ": " + detail;
    if (os_errno != 0) out.message += " (" + std::generic_category().message(static_cast<int>(os_errno)) + ")";
  }

  const TransportOptions& options_;
  const std::function<void()>& check_interrupt_;
};

// Waits in short slices so that an interrupt is noticed promptly.
void pause(double seconds, const std::function<void()>& check_interrupt) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    if (check_interrupt) check_interrupt();
    const auto now = Clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(100)));
  }
}

constexpr int max_redirects = 30;
constexpr double max_retry_after = 60;

}  // namespace

struct CurlTransport::Handles {
  std::unique_ptr<CURL, EasyDeleter> easy;
  std::unique_ptr<CURLM, MultiDeleter> multi;
};

// libcurl (and with it TLS) starts on the first request, so that --help and
// usage errors stay quick.
CurlTransport::CurlTransport(TransportOptions options) : options_(std::move(options)) {}
CurlTransport::~CurlTransport() = default;
CurlTransport::CurlTransport(CurlTransport&&) noexcept = default;
CurlTransport& CurlTransport::operator=(CurlTransport&&) noexcept = default;

void CurlTransport::configure(const TransportOptions& options) {
  options_ = options;
  kept_.reset();  // a kept connection was made under the old options
}

Response CurlTransport::post(const std::string& url, const std::string& form_body,
                             const std::function<void()>& check_interrupt, RequestObserver* observer) {
  using Clock = std::chrono::steady_clock;
  Request request{url, checked_url(url), true};
  Exchanger exchanger(options_, check_interrupt);
  int redirects = 0;
  int attempt = 0;
  auto try_started = Clock::now();
  for (;;) {
    // With reused connections the handles (and so the connection cache and
    // TLS sessions) outlive the post; otherwise each exchange has its own.
    Handles fresh;
    Handles* handles = &fresh;
    if (options_.reuse_connections) {
      if (!kept_) kept_ = std::make_unique<Handles>();
      handles = kept_.get();
    }
    if (!handles->easy)
      handles->easy.reset(curl_library().easy_init());
    else
      curl_library().easy_reset(handles->easy.get());
    if (!handles->multi) handles->multi.reset(curl_library().multi_init());
    if (!handles->easy || !handles->multi) throw Error(ErrorKind::transport, "Cannot start libcurl");

    std::optional<double> budget;
    if (options_.max_time)
      budget = *options_.max_time - std::chrono::duration<double>(Clock::now() - try_started).count();
    const auto started = Clock::now();
    Outcome out = exchanger.run(handles->easy.get(), handles->multi.get(), request, form_body, budget);
    if (observer)
      observer->exchanged(Hop{request.post ? "POST" : "GET", request.url, out.status, out.body.size(),
                              std::chrono::duration<double>(Clock::now() - started).count()});

    std::string retry_reason;
    double delay = options_.retry_delay;
    if (out.failed) {
      if (!out.repeatable || attempt >= options_.retries) {
        if (out.time_limit) throw Error(ErrorKind::transport, out.message);
        throw Error(ErrorKind::transport, out.message);
      }
      retry_reason = out.reason;
    } else if (is_redirect(out.status) && !out.location.empty()) {
      if (redirects == max_redirects)
        throw Error(ErrorKind::transport,
                    "Too many redirects: more than " + std::to_string(max_redirects) + " from " + url);
      if (!starts_with_nocase(out.location, "http://") && !starts_with_nocase(out.location, "https://"))
        throw Error(ErrorKind::transport,
                    "Cannot follow the redirect from " + request.url + " to " + out.location + ": not an HTTP address");
      ++redirects;
      // As the host client does: only 307 and 308 repeat the POST; the
      // others continue with a GET without body.
      if (out.status != 307 && out.status != 308) request.post = false;
      request.url = request.target = out.location;
      continue;
    } else if (is_transient_status(out.status) && attempt < options_.retries) {
      retry_reason = "HTTP " + std::to_string(out.status);
      if (out.retry_after >= 0) delay = std::min(static_cast<double>(out.retry_after), max_retry_after);
    } else {
      return Response{std::move(out.body), out.status, std::move(request.url)};
    }
    ++attempt;
    if (observer) observer->retrying(retry_reason, attempt, options_.retries, delay);
    pause(delay, check_interrupt);
    try_started = Clock::now();
  }
}

std::string controller_api_url(std::string_view controller_ip) {
  std::string url = "https://";
  url += controller_ip;
  url += "/v1/api";
  return url;
}

}  // namespace quillon
