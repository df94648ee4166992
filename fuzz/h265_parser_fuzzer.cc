// Feeds arbitrary bytes to the H.265 mini parser as a start-code stream, as
// an hvcC record or box, as length-prefixed sample bytes and through Feed,
// and checks that every hvcC record BuildHvcC writes converts back.
#include "streams/hvcc_record.h"
#include "streams/mini_parser_h265.h"
#include "streams/start_codes.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void BuildAndConvertBack(const uint8_t* data, size_t size, int mode) {
  std::vector<BYTE> built;
  if (BuildHvcC(data, size, &built, mode) != S_OK) return;
  std::vector<BYTE> startCodes;
  const HRESULT hr = ConfigToStartCodes(built.data(), built.size(), &startCodes);
  // A box we wrote ourselves must always read back. (A bare record whose
  // units happen to hold the characters "hvcC" is taken for a box.)
  const bool boxed = mode == kHvcCBoxIncomplete || mode == kHvcCBoxComplete;
  if (boxed && hr != S_OK) std::abort();
  H265StreamInfo info;
  ParseH265StartCodes(startCodes.data(), startCodes.size(), &info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int mode = size > 0 ? data[0] & 3 : 0;

  H265StreamInfo info;
  ParseH265StartCodes(data, size, &info);
  BuildAndConvertBack(data, size, mode);
  BuildAndConvertBack(data, size, mode & 2);

  std::vector<BYTE> startCodes;
  if (ParseH265Config(data, size, &startCodes, &info) != E_FAIL && !startCodes.empty()) {
    BuildAndConvertBack(startCodes.data(), startCodes.size(), mode);
  }

  // Exactly the input's bytes, so that a write past them is caught.
  std::vector<BYTE> sample(data, data + size);
  LengthPrefixedToStartCodes(sample.data(), sample.size());
  ParseH265StartCodes(sample.data(), sample.size(), &info);

  CMiniParserH265 parser;
  const size_t chunk = 1 + (size > 1 ? data[1] % 64 : 0);
  for (size_t at = 0; at < size; at += chunk) {
    const size_t length = size - at < chunk ? size - at : chunk;
    if (parser.Feed(data + at, static_cast<LONG>(length)) != S_FALSE) break;
  }
  return 0;
}
