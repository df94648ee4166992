#include "parsed_input.h"

#include "tool_common.h"

#include "engine/buffered_reader.h"
#include "streams/sample_entry_factory.h"

HRESULT OpenParsedInput(const std::string& input, ParsedInput* out) {
  out->sources.clear();
  ComPtr<IAsyncReader> file;
  RETURN_IF_FAILED(OpenInput(input, file.Put()));
  // As the input pin does: the parse and the fragment loads read many small
  // fields, which the block cache turns into few file reads.
  ComPtr<IBufferedAsyncReader> reader;
  RETURN_IF_FAILED(CBufferedAsyncReader::Create(file.Get(), reader.Put()));
  ParsedSource parsed;
  parsed.location = input;
  parsed.source = std::make_unique<CDarEdoSource>(reader.Get(), 0, CreateSampleEntry);
  CDarEdoSource& source = *parsed.source;
  out->sources.push_back(std::move(parsed));
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
