// libcurl, loaded when the first request is made rather than when the
// program starts: loading it pulls in TLS and some thirty libraries, which
// would cost --help, usage errors and every run that fails early several
// milliseconds for nothing.
#pragma once

#include <curl/curl.h>

namespace quillon {

struct CurlLibrary {
  decltype(&::curl_global_init) global_init;
  decltype(&::curl_easy_init) easy_init;
  decltype(&::curl_easy_cleanup) easy_cleanup;
  decltype(&::curl_easy_reset) easy_reset;
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
  decltype(&::curl_easy_strerror) easy_strerror;
  decltype(&::curl_multi_init) multi_init;
  decltype(&::curl_multi_cleanup) multi_cleanup;
  decltype(&::curl_multi_add_handle) multi_add_handle;
  decltype(&::curl_multi_remove_handle) multi_remove_handle;
  decltype(&::curl_multi_perform) multi_perform;
  // curl_multi_poll where the library has it (7.66 and newer), else
  // curl_multi_wait that sleeps out the timeout when there is nothing to
  // wait on, as curl_multi_poll does (older systems, such as RHEL 8's 7.61).
  decltype(&::curl_multi_poll) multi_poll;
  decltype(&::curl_multi_wait) multi_wait;
  decltype(&::curl_multi_info_read) multi_info_read;
  decltype(&::curl_multi_strerror) multi_strerror;
  decltype(&::curl_slist_append) slist_append;
  decltype(&::curl_slist_free_all) slist_free_all;
  decltype(&::curl_version_info) version_info;
};

// The oldest libcurl the transport works with: the transfer times it reads
// to tell what may have reached the controller came in 7.61.
inline constexpr unsigned oldest_curl = 0x073D00;

// The loaded library, initialised once; an Error of kind transport when it
// cannot be loaded.
const CurlLibrary& curl_library();

}  // namespace quillon
