// Feeds arbitrary text to the manifest selection as the filter runs it: the
// XML parse, then the video and audio selections against a URL base and a
// local base, which resolve each chosen src.
#include "daredo/manifest.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CXmlDocument document;
  if (!document.LoadText(data, size)) return 0;
  std::vector<ManifestMedia> media;
  ListManifestMedia(document, L"http://127.0.0.1:1/presentation/a.ism", &media);
  ListManifestMedia(document, L"/srv/presentation/a.ism", &media);
  return 0;
}
