#include "platform/curl_library.h"

#include <dlfcn.h>
#include <mutex>

namespace {

constexpr const char* kCurlSoname = "libcurl.so.4";

template <class Function>
bool Resolve(void* library, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(::dlsym(library, name));
  return *function != nullptr;
}

bool Load(CurlLibrary* curl) {
  void* library = ::dlopen(kCurlSoname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  const bool resolved =
      Resolve(library, "curl_global_init", &curl->globalInit) && Resolve(library, "curl_easy_init", &curl->easyInit) &&
      Resolve(library, "curl_easy_duphandle", &curl->easyDuphandle) &&
      Resolve(library, "curl_easy_cleanup", &curl->easyCleanup) &&
      Resolve(library, "curl_easy_setopt", &curl->easySetopt) &&
      Resolve(library, "curl_easy_getinfo", &curl->easyGetinfo) &&
      Resolve(library, "curl_easy_pause", &curl->easyPause) && Resolve(library, "curl_multi_init", &curl->multiInit) &&
      Resolve(library, "curl_multi_cleanup", &curl->multiCleanup) &&
      Resolve(library, "curl_multi_add_handle", &curl->multiAddHandle) &&
      Resolve(library, "curl_multi_remove_handle", &curl->multiRemoveHandle) &&
      Resolve(library, "curl_multi_perform", &curl->multiPerform) &&
      Resolve(library, "curl_multi_poll", &curl->multiPoll) &&
      Resolve(library, "curl_multi_info_read", &curl->multiInfoRead) &&
      Resolve(library, "curl_multi_wakeup", &curl->multiWakeup) && Resolve(library, "curl_url", &curl->url) &&
      Resolve(library, "curl_url_set", &curl->urlSet) && Resolve(library, "curl_url_get", &curl->urlGet) &&
      Resolve(library, "curl_url_cleanup", &curl->urlCleanup) && Resolve(library, "curl_free", &curl->free);
  // A library short of an entry point is not used, nor unloaded: its
  // initialisers have run.
  return resolved && curl->globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

}  // namespace

const CurlLibrary* Curl() {
  static CurlLibrary library{};
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] { loaded = Load(&library); });
  return loaded ? &library : nullptr;
}
