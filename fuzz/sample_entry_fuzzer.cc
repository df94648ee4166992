// Drives sample-entry parsing and every media type of the resulting entry.
// The input names a media kind and a format, then holds the entry's bytes
// (after its common fields) and the bytes of up to four samples; a minimal
// movie is built around them so that the probes that read samples (H.265
// parameter sets, MPEG-2 sequence headers, MPEG audio frame headers) run
// too. Each offered type is matched against every other.
//
// Input: [kind] [format index] [entry length, u16 BE] [entry] [sample bytes]
#include "fuzz_movie.h"
#include "support/movie_builder.h"

#include "platform/media_type.h"
#include "streams/media_type_match.h"
#include "streams/sample_entry_factory.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace {

constexpr size_t kHeaderBytes = 4;
constexpr int kMaxTypes = 8;
constexpr size_t kSampleCount = 4;

// Handler and media header; "meta" tracks have none.
constexpr const char* kKinds[][2] = {{"vide", "vmhd"}, {"soun", "smhd"}, {"text", "nmhd"}, {"hint", "hint"},
                                     {"meta", ""}};

constexpr const char* kFormats[] = {
    "avc1", "hvc1", "hev1", "mp4v", "s263", "vc-1", "hdv2", "raw ", "yuv2", "yuvs", "2vuy", "2vuY",
    "mjpa", "jpeg", "rpza", "mp4a", "twos", "sowt", "ulaw", "alaw", "wma ", "samr", "sawb", "tx3g",
};

void OfferEveryType(trakBox& track) {
  track.PreparePcmLayout();
  std::vector<CMediaType> types;
  CMediaType reused;
  for (int index = 0; index < kMaxTypes; ++index) {
    if (track.GetTrackMediaType(index, &reused) != S_OK) break;
    types.push_back(reused);
  }
  for (const CMediaType& a : types) {
    VideoFormatView view;
    GetVideoFormatView(a, &view);
    for (const CMediaType& b : types) MediaTypesMatch(a, b);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const auto& kind = kKinds[data[0] % std::size(kKinds)];
  const size_t entrySize = std::min<size_t>((size_t{data[2]} << 8) | data[3], size - kHeaderBytes);
  const uint8_t* entry = data + kHeaderBytes;
  // Four samples in one chunk, the last taking the remainder; only the first
  // is a sync sample.
  StreamSpec stream;
  stream.handler = kind[0], stream.mediaHeader = kind[1], stream.format = kFormats[data[1] % std::size(kFormats)];
  stream.entryBody.assign(entry, entry + entrySize);
  stream.timescale = 600, stream.durations = {20, 20, 20, 20}, stream.syncSamples = std::vector<uint32_t>{1};
  const uint8_t* samples = entry + entrySize;
  const size_t share = (size - kHeaderBytes - entrySize) / kSampleCount;
  for (size_t i = 0; i < kSampleCount; ++i) {
    const uint8_t* end = i + 1 < kSampleCount ? samples + share : data + size;
    stream.samples.emplace_back(samples, end);
    samples = end;
  }

  WithMovieSource(BuildMovieFile({stream}), CreateSampleEntry, [](CDarEdoSource& source) {
    source.ParseFile();
    for (ULONG i = 0; i < source.TrackCount(); ++i) OfferEveryType(*source.Track(i));
  });
  return 0;
}
