#include "client/https_transport.hpp"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

#include "base/errors.hpp"
#include "client/curl_exchange.hpp"
#include "client/curl_library.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

struct EasyDeleter {
  void operator()(CURL* h) const { curl_library().easy_cleanup(h); }
};
struct MultiDeleter {
  void operator()(CURLM* h) const { curl_library().multi_cleanup(h); }
};

// The client refuses a URL whose host part holds white space or control
// characters; white space elsewhere is percent-encoded, as the host does.
std::string checked_url(const std::string& url) {
  std::size_t authority = url.find("://");
  authority = authority == std::string::npos ? 0 : authority + 3;
  std::size_t path = url.find_first_of("/?#", authority);
  if (path == std::string::npos) path = url.size();
  const std::string shown = unicode::escape_controls(url);
  if (authority == path) throw Error(ErrorKind::transport, "Invalid URL " + shown + ": No host supplied");
  for (std::size_t i = 0; i < path; ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c == 0x7f)
      throw Error(ErrorKind::transport,
                  "Invalid URL " + shown + ": the host part holds white space or control characters");
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

// A --cacert file that cannot serve ends the run before any connection:
// libcurl would find out only once connected, and each connection reads it
// again. Scans a bounded start of it, so /dev/zero cannot hold the run.
void check_ca_file(const std::string& path) {
  auto refuse = [&](const std::string& why) {
    return Error(ErrorKind::transport,
                 "Cannot use the CA certificates in " + unicode::escape_controls(path) + ": " + why);
  };
  struct File {
    int fd;
    ~File() {
      if (fd >= 0) ::close(fd);
    }
  } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  const int fd = file.fd;
  if (fd < 0) throw refuse(std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) throw refuse(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw refuse(std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) throw refuse("not a regular file");
  constexpr std::size_t scanned = std::size_t{64} << 20;
  std::string text;
  char buffer[65536];
  for (std::size_t taken = 0; taken < scanned;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw refuse(std::strerror(errno));
    if (n == 0) break;
    taken += static_cast<std::size_t>(n);
    text.append(buffer, static_cast<std::size_t>(n));
    // PEM: "-----BEGIN CERTIFICATE-----", or its TRUSTED and X509 forms.
    for (std::size_t at = 0; (at = text.find("-----BEGIN ", at)) != std::string::npos; ++at) {
      const std::string_view label = std::string_view(text).substr(at + 11, 28);
      if (label.starts_with("CERTIFICATE-----") || label.starts_with("TRUSTED CERTIFICATE-----") ||
          label.starts_with("X509 CERTIFICATE-----"))
        return;
    }
    if (text.size() > 64) text.erase(0, text.size() - 64);  // a label may straddle two reads
  }
  throw refuse("it holds no certificate (PEM, \"-----BEGIN CERTIFICATE-----\")");
}

}  // namespace

struct CurlTransport::Handles {
  std::unique_ptr<CURL, EasyDeleter> easy;
  std::unique_ptr<CURLM, MultiDeleter> multi;
  bool keep_alive = false;  // the last answer said its connection stays open
};

// libcurl (and with it TLS) starts on the first request, so that --help and
// usage errors stay quick.
CurlTransport::CurlTransport(TransportOptions options) { configure(options); }
CurlTransport::~CurlTransport() = default;
CurlTransport::CurlTransport(CurlTransport&&) noexcept = default;
CurlTransport& CurlTransport::operator=(CurlTransport&&) noexcept = default;

void CurlTransport::configure(const TransportOptions& options) {
  if (options.cacert) check_ca_file(*options.cacert);
  options_ = options;
  kept_.reset();  // a kept connection was made under the old options
}

Response CurlTransport::post(const std::string& url, const std::string& form_body,
                             const std::function<void()>& check_interrupt, RequestObserver* observer, PostKind kind,
                             const json::KeepPlan* decode) {
  using Clock = std::chrono::steady_clock;
  Request request{url, checked_url(url), true};
  PostState state{kind, url, true, 0, 0};
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
    Exchange made = exchange(handles->easy.get(), handles->multi.get(), request, form_body, options_, check_interrupt,
                             budget, !handles->keep_alive, decode);
    handles->keep_alive = made.keep_alive;
    const Outcome& out = made.outcome;
    if (observer)
      observer->exchanged(Hop{request.with_form ? "POST" : "GET", request.url, out.status, made.body.size(),
                              std::chrono::duration<double>(Clock::now() - started).count()});

    state.url = request.url;
    state.with_form = request.with_form;
    const Decision next = decide(out, options_, state);
    switch (next.action) {
      case Decision::Action::answer:
        if (decode != nullptr)
          return Response{{}, out.status, std::move(request.url), std::make_unique<AnswerBody>(std::move(made.body))};
        return Response{made.body.take(), out.status, std::move(request.url), nullptr};
      case Decision::Action::fail:
        throw Error(ErrorKind::transport, next.message);
      case Decision::Action::follow:
        ++state.redirects;
        request = Request{next.url, next.url, next.with_form};
        continue;
      case Decision::Action::retry:
        ++state.retries;
        if (observer) observer->retrying(next.reason, state.retries, options_.retries, next.delay);
        pause(next.delay, check_interrupt);
        try_started = Clock::now();
        break;
    }
  }
}

std::string controller_api_url(std::string_view controller_ip) {
  std::string url = "https://";
  url += controller_ip;
  url += "/v1/api";
  return url;
}

}  // namespace quillon
