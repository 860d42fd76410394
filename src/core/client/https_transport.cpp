#include "client/https_transport.hpp"

#include <curl/curl.h>

#include <climits>
#include <exception>
#include <memory>
#include <system_error>

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

}  // namespace

// libcurl (and with it TLS) starts on the first request, so that --help and
// usage errors stay quick.
CurlTransport::CurlTransport() = default;

std::string CurlTransport::post(const std::string& url, const std::string& form_body,
                                const std::function<void()>& check_interrupt) {
  const std::string target = checked_url(url);
  std::unique_ptr<CURL, EasyDeleter> easy(curl_library().easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_library().multi_init());
  if (!easy || !multi) throw Error(ErrorKind::transport, "Cannot start libcurl");

  std::unique_ptr<curl_slist, SlistDeleter> headers(
      curl_library().slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded"));
  // No "Expect: 100-continue" round trip before the body.
  if (!headers || !curl_library().slist_append(headers.get(), "Expect:")) throw std::bad_alloc();

  Sink sink(easy.get());
  char reason[CURL_ERROR_SIZE] = {0};
  CURL* h = easy.get();
  set(h, CURLOPT_URL, target.c_str());
  set(h, CURLOPT_POST, 1L);
  set(h, CURLOPT_POSTFIELDS, form_body.data());
  set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form_body.size()));
  set(h, CURLOPT_HTTPHEADER, headers.get());
  // The controller's certificate is taken as it is.
  set(h, CURLOPT_SSL_VERIFYPEER, 0L);
  set(h, CURLOPT_SSL_VERIFYHOST, 0L);
  // Every request on a connection of its own.
  set(h, CURLOPT_FRESH_CONNECT, 1L);
  set(h, CURLOPT_FORBID_REUSE, 1L);
  set(h, CURLOPT_ACCEPT_ENCODING, "");
  // No time limit. libcurl caps connecting at 300 s unless told otherwise;
  // its largest accepted value (about 24 days) stands in for "never".
  set(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(INT_MAX / 1000));
  set(h, CURLOPT_ERRORBUFFER, reason);
  set(h, CURLOPT_WRITEFUNCTION, &write_body);
  set(h, CURLOPT_WRITEDATA, &sink);

  CURLcode result = CURLE_OK;
  {
    Attached attached(multi.get(), h);
    for (;;) {
      int running = 0;
      CURLMcode m = curl_library().multi_perform(multi.get(), &running);
      if (m != CURLM_OK)
        throw Error(ErrorKind::transport, "Cannot reach " + url + ": " + curl_library().multi_strerror(m));
      if (running == 0) break;
      // Wakes at least every 100 ms so an interrupt is noticed promptly even
      // while the server sends nothing.
      m = curl_library().multi_poll(multi.get(), nullptr, 0, 100, nullptr);
      if (m != CURLM_OK)
        throw Error(ErrorKind::transport, "Cannot reach " + url + ": " + curl_library().multi_strerror(m));
      if (check_interrupt) check_interrupt();
    }
    int queued = 0;
    while (CURLMsg* msg = curl_library().multi_info_read(multi.get(), &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) result = msg->data.result;
    }
  }
  if (sink.failure) std::rethrow_exception(sink.failure);
  if (result != CURLE_OK) {
    std::string message =
        "Cannot reach " + url + ": " + (reason[0] != '\0' ? reason : curl_library().easy_strerror(result));
    long os_errno = 0;
    if (curl_library().easy_getinfo(h, CURLINFO_OS_ERRNO, &os_errno) == CURLE_OK && os_errno != 0)
      message += " (" + std::generic_category().message(static_cast<int>(os_errno)) + ")";
    throw Error(ErrorKind::transport, message);
  }
  return std::move(sink.body);
}

std::string controller_api_url(std::string_view controller_ip) {
  std::string url = "https://";
  url += controller_ip;
  url += "/v1/api";
  return url;
}

}  // namespace quillon
