#include "input_location.h"

#include "tool_common.h"

#include "daredo/manifest.h"
#include "platform/code_page.h"
#include "platform/media_guids.h"
#include "platform/url_location.h"
#include "platform/url_source_filter.h"
#include "platform/win32_error.h"
#include "platform/xml_document.h"

#include <algorithm>

bool IsUrlInput(const std::string& input) { return IsUrlLocation(WideFromUtf8(input)); }

bool IsManifestInput(const std::string& input) {
  static constexpr char kExtension[] = ".ism";
  constexpr size_t length = sizeof kExtension - 1;
  if (input.size() < length) return false;
  return std::equal(input.end() - length, input.end(), kExtension,
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; });
}

CLSID SourceFilterClassFor(const std::string& input) { return IsUrlInput(input) ? CLSID_URLReader : CLSID_AsyncReader; }

// The file source opens names as paths, so a "file://" location loses its
// scheme here; the manifest's media then resolve against that path.
std::wstring SourceFilterNameFor(const std::string& input) {
  const std::wstring name = WideFromUtf8(input);
  return IsUrlLocation(name) ? name : LocalPathOfLocation(name);
}

HRESULT ListInputMedia(const std::string& input, std::vector<InputMedia>* media) {
  media->clear();
  if (!IsManifestInput(input)) {
    media->push_back({input, 0});
    return S_OK;
  }
  const std::wstring manifest = SourceFilterNameFor(input);
  CXmlDocument document;
  bool parsed = false;
  HRESULT hr = document.Load(manifest, &parsed);
  if (FAILED(hr)) return hr;
  if (!parsed) return E_UNEXPECTED;
  std::vector<ManifestMedia> selected;
  hr = ListManifestMedia(document, manifest, &selected);
  if (FAILED(hr)) return hr;
  for (const ManifestMedia& chosen : selected) media->push_back({Utf8FromWide(chosen.location), chosen.trackId});
  return S_OK;
}

HRESULT OpenInput(const std::string& input, IAsyncReader** out) {
  std::vector<InputMedia> media;
  const HRESULT hr = ListInputMedia(input, &media);
  if (FAILED(hr)) return hr;
  // A manifest that selects nothing has no tracks to show.
  if (media.empty()) return VFW_E_INVALID_FILE_FORMAT;
  return OpenLocation(WideFromUtf8(media.front().location), out);
}
