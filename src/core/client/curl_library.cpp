#include "client/curl_library.hpp"

#include <dlfcn.h>

#include <string>

#include "base/errors.hpp"

namespace quillon {
namespace {

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
  bind(api.multi_poll, "curl_multi_poll");
  bind(api.multi_info_read, "curl_multi_info_read");
  bind(api.multi_strerror, "curl_multi_strerror");
  bind(api.slist_append, "curl_slist_append");
  bind(api.slist_free_all, "curl_slist_free_all");
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
