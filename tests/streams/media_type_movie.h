// A one-track movie for media-type tests: the samples lie in an "mdat" at
// the start of the file, one chunk, and the movie box follows. The track's
// sample entry is the streams layer's, so GetTrackMediaType and the lookups
// it uses (bit rate, frame duration, sample 0) work as on a real file.
#pragma once

#include "sample_entry_reading.h"
#include "support/box_builder.h"
#include "support/movie_builder.h"

#include "container/trak_box.h"
#include "platform/format_blocks.h"
#include "platform/media_type.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

struct MediaTypeTrack {
  // "vide"/"vmhd", "soun"/"smhd", "text"/"nmhd".
  std::string handler = "vide";
  std::string mediaHeader = "vmhd";
  std::string format = "avc1";
  // The entry after its 8 common bytes.
  std::vector<uint8_t> entryBody;
  std::vector<std::vector<uint8_t>> samples = {{0, 0, 0, 0}};
  uint32_t timescale = 600;
  int32_t sampleDelta = 20;
  std::optional<std::vector<uint32_t>> syncSamples;
};

inline ParsedMovie ParseMediaTypeMovie(const MediaTypeTrack& spec) {
  BoxBuilder b;
  b.Box("mdat", [&] {
    for (const auto& sample : spec.samples) b.Bytes(sample);
  });
  TrackSpec track;
  track.handler = spec.handler;
  track.mediaHeader = spec.mediaHeader;
  track.format = spec.format;
  track.entryBody = spec.entryBody;
  track.timescale = spec.timescale;
  track.stts = {{static_cast<uint32_t>(spec.samples.size()), spec.sampleDelta}};
  track.stsc = {{1, static_cast<uint32_t>(spec.samples.size()), 1}};
  for (const auto& sample : spec.samples) track.sizes.push_back(static_cast<uint32_t>(sample.size()));
  track.chunkOffsets = {8};  // after the "mdat" header
  track.syncSamples = spec.syncSamples;
  WriteMovie(b, {track});
  return ParseMovie(b, 0, CreateSampleEntry);
}

// The visual fields after the common ones, then `children`.
inline std::vector<uint8_t> VisualEntryBody(uint16_t width, uint16_t height, const std::vector<uint8_t>& children = {},
                                            uint16_t depth = 24) {
  BoxBuilder b;
  WriteVisualFields(b, width, height, depth);
  return b.Bytes(children).Data();
}

// Media type `index` of the movie's only track.
inline HRESULT TrackType(const ParsedMovie& movie, int index, CMediaType* type) {
  return movie.Track(0).GetTrackMediaType(index, type);
}

template <class Block>
Block FormatBlock(const CMediaType& type) {
  Block block{};
  EXPECT_GE(type.cbFormat, sizeof block);
  if (type.pbFormat && type.cbFormat >= sizeof block) std::memcpy(&block, type.pbFormat, sizeof block);
  return block;
}

// The bytes of the format block from `offset` on.
inline std::vector<uint8_t> BlockTail(const CMediaType& type, size_t offset) {
  if (!type.pbFormat || type.cbFormat < offset) return {};
  return std::vector<uint8_t>(type.pbFormat + offset, type.pbFormat + type.cbFormat);
}

// The bytes of a packed format structure, to compare whole blocks.
template <class Block>
std::vector<uint8_t> BytesOf(const Block& block) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
  return std::vector<uint8_t>(bytes, bytes + sizeof block);
}
