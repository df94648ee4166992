#include "daredo/manifest.h"

#include "daredo/dar_edo.h"
#include "daredo/dar_edo_source_file.h"
#include "platform/code_page.h"
#include "platform/filter_interfaces.h"
#include "platform/task_memory.h"
#include "platform/url_location.h"

#include <climits>

namespace {

// As the C library's atol reads it: leading white space and a sign, digits
// up to the first other character, 0 without digits; saturated.
LONG ParseDecimal(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) return static_cast<LONG>(-value);
  return static_cast<LONG>(value > INT_MAX ? INT_MAX : value);
}

bool EqualsNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

DWORD TrackIdOf(const pugi::xml_node& element) {
  for (const pugi::xml_node child : element.children()) {
    if (child.type() != pugi::node_element || !EqualsNoCase(child.name(), "param")) continue;
    if (!EqualsNoCase(child.attribute("name").value(), "trackID")) continue;
    // A negative ID names no track of any file, as its unsigned value does.
    return static_cast<DWORD>(ParseDecimal(child.attribute("value").value()));
  }
  return 0;
}

}  // namespace

HRESULT SelectManifestMedia(const CXmlDocument& document, const char* elementName, const std::wstring& manifestLocation,
                            ManifestMedia* media) {
  if (elementName == nullptr || media == nullptr) return E_POINTER;
  LONG bestBitrate = 0;
  pugi::xml_node best;
  for (const pugi::xml_node& element : document.ElementsByTagName(elementName)) {
    const pugi::xml_attribute src = element.attribute("src");
    if (!src) continue;
    const pugi::xml_attribute bitrate = element.attribute("systemBitrate");
    if (!bitrate) continue;
    const LONG value = ParseDecimal(bitrate.value());
    if (value > bestBitrate) {
      bestBitrate = value;
      best = element;
    }
  }
  if (!best) return S_FALSE;
  const DWORD trackId = TrackIdOf(best);
  if (trackId == 0) return S_FALSE;
  const char* src = best.attribute("src").value();
  std::wstring relative;
  AppendCodePageAsWide(CP_UTF8, src, std::char_traits<char>::length(src), &relative);
  std::wstring location;
  const HRESULT hr = CombineLocation(manifestLocation, relative, &location);
  if (FAILED(hr)) return hr;
  media->location = std::move(location);
  media->trackId = trackId;
  return S_OK;
}

HRESULT ListManifestMedia(const CXmlDocument& document, const std::wstring& manifestLocation,
                          std::vector<ManifestMedia>* media) {
  if (media == nullptr) return E_POINTER;
  media->clear();
  for (const char* name : kManifestElements) {
    ManifestMedia chosen;
    const HRESULT hr = SelectManifestMedia(document, name, manifestLocation, &chosen);
    if (FAILED(hr)) return hr;
    if (hr == S_OK) media->push_back(std::move(chosen));
  }
  return S_OK;
}

HRESULT CDarEdo::OpenManifestSources(IPin* upstream) {
  if (upstream == nullptr) return E_POINTER;
  PIN_INFO info{};
  HRESULT hr = upstream->QueryPinInfo(&info);
  if (FAILED(hr)) return hr;
  const ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
  if (!filter) return E_UNEXPECTED;
  ComPtr<IFileSourceFilter> fileSource;
  if (FAILED(filter.As(IID_IFileSourceFilter, fileSource)) || !fileSource) return E_NOINTERFACE;
  LPOLESTR name = nullptr;
  hr = fileSource->GetCurFile(&name, nullptr);
  if (FAILED(hr)) return hr;
  if (name == nullptr) return E_UNEXPECTED;
  std::wstring manifest;
  try {
    manifest = name;
  } catch (const std::bad_alloc&) {
    CoTaskMemFree(name);
    return E_OUTOFMEMORY;
  }
  CoTaskMemFree(name);

  CXmlDocument document;
  bool parsed = false;
  RETURN_IF_FAILED(document.Load(manifest, &parsed));
  if (!parsed) return E_UNEXPECTED;
  for (const char* element : kManifestElements) {
    ManifestMedia media;
    hr = SelectManifestMedia(document, element, manifest, &media);
    if (FAILED(hr)) return hr;
    if (hr != S_OK) continue;
    std::unique_ptr<CDarEdoSource> source;
    RETURN_IF_FAILED(CreateManifestSource(media.location, media.trackId, &source));
    m_sources.push_back(std::move(source));
    m_sourceLocations.push_back(std::move(media.location));
  }
  return S_OK;
}
