#include "client/curl_library.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "base/errors.hpp"

namespace quillon {
namespace {

CURLMcode poll_by_waiting(CURLM* multi, curl_waitfd extra[], unsigned extra_count, int timeout_ms, int* ready) {
  int count = 0;
  const CURLMcode status = curl_library().multi_wait(multi, extra, extra_count, timeout_ms, &count);
  // curl_multi_wait returns at once when it has no descriptor to wait on
  // (while a name is resolved): wait a little, as curl's documentation
  // advises, rather than spin.
  if (status == CURLM_OK && count == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout_ms, 10)));
  if (ready != nullptr) *ready = count;
  return status;
}

CurlLibrary load() {
  void* handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    // Not bundled with the program: name the library so the user knows what to install.
    const char* reason = ::dlerror();
    throw Error(ErrorKind::transport, std::string("Cannot load libcurl.so.4 (install the system's libcurl): ") +
                                          (reason != nullptr ? reason : "not found"));
  }
  auto symbol = [handle](const char* name) {
    void* address = ::dlsym(handle, name);
    if (address == nullptr) throw Error(ErrorKind::transport, std::string("libcurl lacks ") + name);
    return address;
  };
  CurlLibrary api;
  auto bind = [&](auto& slot, const char* name) {
    slot = reinterpret_cast<std::decay_t<decltype(slot)>>(symbol(name));
  };
  bind(api.global_init, "curl_global_init");
  bind(api.easy_init, "curl_easy_init");
  bind(api.easy_cleanup, "curl_easy_cleanup");
  bind(api.easy_reset, "curl_easy_reset");
  bind(api.easy_setopt, "curl_easy_setopt");
  bind(api.easy_getinfo, "curl_easy_getinfo");
  bind(api.easy_strerror, "curl_easy_strerror");
  bind(api.multi_init, "curl_multi_init");
  bind(api.multi_cleanup, "curl_multi_cleanup");
  bind(api.multi_add_handle, "curl_multi_add_handle");
  bind(api.multi_remove_handle, "curl_multi_remove_handle");
  bind(api.multi_perform, "curl_multi_perform");
  bind(api.multi_wait, "curl_multi_wait");
  if (void* poll = ::dlsym(handle, "curl_multi_poll"))
    api.multi_poll = reinterpret_cast<decltype(api.multi_poll)>(poll);
  else
    api.multi_poll = &poll_by_waiting;
  bind(api.multi_info_read, "curl_multi_info_read");
  bind(api.multi_strerror, "curl_multi_strerror");
  bind(api.slist_append, "curl_slist_append");
  bind(api.slist_free_all, "curl_slist_free_all");
  bind(api.version_info, "curl_version_info");
  if (const curl_version_info_data* found = api.version_info(CURLVERSION_NOW);
      found == nullptr || found->version_num < oldest_curl)
    throw Error(ErrorKind::transport, std::string("libcurl 7.61 or newer is needed; libcurl.so.4 here is ") +
                                          (found != nullptr && found->version != nullptr ? found->version : "older"));
  CURLcode status = api.global_init(CURL_GLOBAL_DEFAULT);
  if (status != CURLE_OK)
    throw Error(ErrorKind::transport, std::string("Cannot start libcurl: ") + api.easy_strerror(status));
  return api;
}

}  // namespace

const CurlLibrary& curl_library() {
  static const CurlLibrary api = load();
  return api;
}

}  // namespace quillon
