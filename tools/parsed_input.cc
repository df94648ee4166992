#include "parsed_input.h"

#include "input_location.h"

#include "daredo/dar_edo_source_file.h"
#include "platform/code_page.h"

namespace {

HRESULT ParseSource(CDarEdoSource& source) {
  HRESULT hr = S_OK;
  try {
    hr = source.ParseFile();
    // As the filter does: the random-access index follows the parse, and a
    // failure of either fails the input.
    if (SUCCEEDED(hr)) {
      const HRESULT index = source.FindMovieFragmentRandomAccess();
      if (FAILED(index)) hr = index;
    }
  } catch (const ArrayError& error) {
    hr = error.Result();
  }
  if (FAILED(hr)) return hr;
  for (ULONG i = 0; i < source.TrackCount(); ++i) source.Track(i)->PreparePcmLayout();
  return hr;
}

}  // namespace

HRESULT OpenParsedInput(const std::string& input, ParsedInput* out) {
  out->sources.clear();
  std::vector<InputMedia> media;
  RETURN_IF_FAILED(ListInputMedia(input, &media));
  for (const InputMedia& file : media) {
    ParsedSource parsed;
    parsed.location = file.location;
    RETURN_IF_FAILED(CreateManifestSource(WideFromUtf8(file.location), file.trackId, &parsed.source));
    CDarEdoSource& source = *parsed.source;
    out->sources.push_back(std::move(parsed));
    RETURN_IF_FAILED(ParseSource(source));
  }
  return S_OK;
}
