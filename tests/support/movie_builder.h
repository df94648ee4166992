// Writes a movie box with tracks and their sample tables through the box
// builder, for container tests:
//
//   TrackSpec video;
//   video.stts = {{3, 20}};
//   video.stsc = {{1, 3, 1}};
//   video.sizes = {100, 200, 300};
//   video.chunkOffsets = {1000};
//   BoxBuilder b;
//   WriteMovie(b, {video});
//   ParsedMovie movie = ParseMovie(b);
//
// Whatever the layout leaves empty is left out of the file: no "stsd" without a
// format, no "stss" without sync samples, no media header without one named.
#pragma once

#include "support/box_builder.h"

#include "container/dar_edo_source.h"

#include <array>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TrackSpec {
  uint32_t trackId = 1;
  std::string handler = "vide";
  // "vmhd", "smhd", "hint", "nmhd", or empty for none.
  std::string mediaHeader = "vmhd";
  uint32_t timescale = 600;
  uint32_t mediaDuration = 0;
  // The sample entry's type; empty writes no "stsd".
  std::string format = "avc1";
  // The entry's bytes after its 8 common bytes.
  std::vector<uint8_t> entryBody;
  std::vector<std::pair<uint32_t, int32_t>> stts;
  // {first chunk, samples per chunk, description index}.
  std::vector<std::array<uint32_t, 3>> stsc;
  uint32_t constantSize = 0;
  uint32_t constantCount = 0;
  std::vector<uint32_t> sizes;
  std::vector<uint64_t> chunkOffsets;
  bool co64 = false;
  std::optional<std::vector<uint32_t>> syncSamples;
};

// One track of a movie file made by BuildMovieFile.
struct StreamSpec {
  std::string handler = "vide";
  std::string mediaHeader = "vmhd";
  std::string format = "jpeg";
  // The entry's bytes after its 8 common bytes.
  std::vector<uint8_t> entryBody;
  uint32_t timescale = 1000;
  // One duration per sample (media units).
  std::vector<int32_t> durations;
  std::vector<std::vector<uint8_t>> samples;
  // 1-based; absent: every sample is a sync sample.
  std::optional<std::vector<uint32_t>> syncSamples;
  // QuickTime PCM sizes its samples in sample frames: bytes per frame.
  uint32_t bytesPerSizeUnit = 1;
  // 0: every sample in one chunk.
  uint32_t samplesPerChunk = 0;
};

// The 70 bytes of a visual sample entry after the common fields (72 dpi),
// then `children`.
std::vector<uint8_t> VisualEntryBody(uint16_t width, uint16_t height, const std::vector<uint8_t>& children = {},
                                     uint16_t depth = 24);
// Sound description version 0 (also the ISO audio entry) after the common
// fields; `fixedRate` is 16.16.
void WriteSoundV0(BoxBuilder& b, uint16_t channels, uint16_t bits, uint32_t fixedRate, uint16_t version = 0);
std::vector<uint8_t> SoundEntryBody(uint16_t channels, uint16_t bits, uint32_t rate);

// The samples of every stream in an "mdat", chunk k of each stream in turn
// before chunk k + 1, then the movie box with track IDs from 1.
std::vector<uint8_t> BuildMovieFile(const std::vector<StreamSpec>& streams);

// A full box of a 32-bit entry count, then each entry as `write` writes it.
template <class Entries, class Write>
void WriteTable(BoxBuilder& b, const char (&type)[5], const Entries& entries, Write write) {
  b.FullBox(type, 0, 0, [&] {
    b.U32(static_cast<uint32_t>(std::size(entries)));
    for (const auto& entry : entries) write(entry);
  });
}

// A "stbl" with the tables of `track`, in the usual order.
void WriteSampleTable(BoxBuilder& b, const TrackSpec& track);
// A whole "trak".
void WriteTrack(BoxBuilder& b, const TrackSpec& track);
// A "trak" whose "stbl" holds what `stblBody` writes (video, timescale 600).
void WriteTrackWithSampleTable(BoxBuilder& b, uint32_t trackId, const BoxBuilder::Body& stblBody);
// "moov" with an "mvhd" (timescale 600) and the tracks.
void WriteMovie(BoxBuilder& b, const std::vector<TrackSpec>& tracks);

struct ParsedMovie {
  HRESULT result = E_FAIL;
  std::unique_ptr<CDarEdoSource> source;

  trakBox& Track(ULONG index) const { return *source->Track(index); }
};

// Parses the builder's bytes (through CReadFromBuffer) with plain entries
// unless a factory is given.
ParsedMovie ParseMovie(const BoxBuilder& b, DWORD wantedTrackId = 0,
                       SampleEntryFactory factory = CreatePlainSampleEntry);
ParsedMovie ParseMovie(IAsyncReader* reader, DWORD wantedTrackId = 0,
                       SampleEntryFactory factory = CreatePlainSampleEntry);
