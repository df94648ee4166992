#include "platform/url_location.h"

#include "platform/code_page.h"
#include "platform/curl_library.h"
#include "platform/file_byte_source.h"
#include "platform/url_byte_source.h"
#include "platform/win32_error.h"

#include <memory>

namespace {

// Room for a combined location, terminator included.
constexpr size_t kCombinedLocationChars = 1024;
// Spaces and other unencoded text in a manifest's src stay as written.
constexpr unsigned kUrlFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE;

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  size_t i = 0;
  for (; prefix[i] != L'\0'; ++i) {
    if (i >= text.size()) return false;
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string Utf8(const std::wstring& text) {
  std::string out;
  AppendWideAsCodePage(CP_UTF8, text.data(), text.size(), &out);
  return out;
}

// A scheme: letters, digits, '+', '-', '.' up to a ':', beginning with a
// letter; more than one character, so that "C:" stays a path.
bool HasScheme(const std::wstring& location) {
  const size_t colon = location.find(L':');
  if (colon == std::wstring::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    const wchar_t c = location[i];
    const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    if (!letter && (i == 0 || !((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.'))) return false;
  }
  return true;
}

struct UrlDeleter {
  void operator()(CURLU* url) const { Curl()->urlCleanup(url); }
};

HRESULT CombineUrls(const std::wstring& base, const std::wstring& relative, std::wstring* out) {
  if (Curl() == nullptr) return INET_E_DOWNLOAD_FAILURE;
  std::unique_ptr<CURLU, UrlDeleter> url(Curl()->url());
  if (!url) return E_OUTOFMEMORY;
  if (Curl()->urlSet(url.get(), CURLUPART_URL, Utf8(base).c_str(), kUrlFlags) != CURLUE_OK ||
      Curl()->urlSet(url.get(), CURLUPART_URL, Utf8(relative).c_str(), kUrlFlags) != CURLUE_OK) {
    return HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_URL);
  }
  char* combined = nullptr;
  if (Curl()->urlGet(url.get(), CURLUPART_URL, &combined, 0) != CURLUE_OK) {
    return HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_URL);
  }
  out->clear();
  AppendCodePageAsWide(CP_UTF8, combined, std::char_traits<char>::length(combined), out);
  Curl()->free(combined);
  return S_OK;
}

}  // namespace

bool IsUrlLocation(const std::wstring& location) {
  return StartsWithNoCase(location, L"http:") || StartsWithNoCase(location, L"https:") ||
         StartsWithNoCase(location, L"ftp:");
}

std::wstring LocalPathOfLocation(const std::wstring& location) {
  return StartsWithNoCase(location, L"file://") ? location.substr(7) : location;
}

HRESULT OpenLocation(const std::wstring& location, IAsyncReader** out) {
  if (IsUrlLocation(location)) return CUrlByteSource::Open(Utf8(location), out);
  return CFileByteSource::Open(Utf8(LocalPathOfLocation(location)), out);
}

HRESULT CombineLocation(const std::wstring& base, const std::wstring& relative, std::wstring* out) {
  if (out == nullptr) return E_POINTER;
  std::wstring combined;
  if (HasScheme(base)) {
    const HRESULT hr = CombineUrls(base, relative, &combined);
    if (FAILED(hr)) return hr;
  } else if (HasScheme(relative) || (!relative.empty() && relative[0] == L'/')) {
    combined = relative;
  } else {
    const size_t slash = base.rfind(L'/');
    combined = slash == std::wstring::npos ? relative : base.substr(0, slash + 1) + relative;
  }
  if (combined.size() >= kCombinedLocationChars) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  *out = std::move(combined);
  return S_OK;
}
