// The libcurl entry points the URL source and the location helpers use,
// loaded with the first URL. Most runs read local files only; linking
// libcurl would map it and its thirty-odd dependencies (TLS, Kerberos,
// LDAP) into every process and run their initialisers, a few milliseconds
// and several hundred page faults at each start.
#pragma once

#include <curl/curl.h>

struct CurlLibrary {
  decltype(&::curl_global_init) globalInit;
  decltype(&::curl_easy_init) easyInit;
  decltype(&::curl_easy_duphandle) easyDuphandle;
  decltype(&::curl_easy_cleanup) easyCleanup;
  decltype(&::curl_easy_setopt) easySetopt;
  decltype(&::curl_easy_getinfo) easyGetinfo;
  decltype(&::curl_easy_pause) easyPause;
  decltype(&::curl_multi_init) multiInit;
  decltype(&::curl_multi_cleanup) multiCleanup;
  decltype(&::curl_multi_add_handle) multiAddHandle;
  decltype(&::curl_multi_remove_handle) multiRemoveHandle;
  decltype(&::curl_multi_perform) multiPerform;
  decltype(&::curl_multi_poll) multiPoll;
  decltype(&::curl_multi_info_read) multiInfoRead;
  decltype(&::curl_multi_wakeup) multiWakeup;
  decltype(&::curl_url) url;
  decltype(&::curl_url_set) urlSet;
  decltype(&::curl_url_get) urlGet;
  decltype(&::curl_url_cleanup) urlCleanup;
  decltype(&::curl_free) free;
};

// The library, loaded and globally initialised once (thread-safe); nullptr
// when it or one of its entry points is missing. It stays loaded.
const CurlLibrary* Curl();
