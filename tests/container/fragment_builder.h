// Fragmented movies in memory for the fragment tests: a "moov" with an
// "mvex", movie fragments with their track fragments and runs, and the
// random-access index, all through the box builder. Fields a box's flags
// leave out are not written.
#pragma once

#include "support/box_builder.h"
#include "support/movie_builder.h"

#include "container/dar_edo_source.h"

#include <optional>
#include <string>
#include <vector>

struct TrexSpec {
  uint32_t trackId = 1;
  uint32_t descriptionIndex = 1;
  uint32_t duration = 0;
  uint32_t size = 0;
  uint32_t flags = 0;
};

struct TfhdSpec {
  uint32_t trackId = 1;
  uint32_t flags = 0;
  uint64_t baseDataOffset = 0;
  uint32_t descriptionIndex = 0;
  uint32_t duration = 0;
  uint32_t size = 0;
  uint32_t sampleFlags = 0;
};

struct RunSample {
  uint32_t duration = 0;
  uint32_t size = 0;
  uint32_t flags = 0;
};

struct RunSpec {
  uint32_t flags = 0;
  int32_t dataOffset = 0;
  uint32_t firstSampleFlags = 0;
  std::vector<RunSample> samples;
  // Written as the sample count instead of the number of samples.
  std::optional<uint32_t> declaredCount;
};

// A track with empty tables, as a fragmented file's "moov" describes it.
inline TrackSpec EmptyTrack(uint32_t trackId) {
  TrackSpec track;
  track.trackId = trackId;
  return track;
}

// "moov": "mvhd", the tracks, and an "mvex" with one "trex" each.
inline void WriteFragmentedMovie(BoxBuilder& b, const std::vector<TrackSpec>& tracks,
                                 const std::vector<TrexSpec>& trexes) {
  b.Box("moov", [&] {
    b.FullBox("mvhd", 0, 0, [&] {
      b.U32(0).U32(0).U32(600).U32(0);
      b.U32(0x00010000).U16(0x0100).Zeros(10);
      for (uint32_t value : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) b.U32(value);
      b.Zeros(24).U32(static_cast<uint32_t>(tracks.size() + 1));
    });
    for (const TrackSpec& track : tracks) WriteTrack(b, track);
    b.Box("mvex", [&] {
      for (const TrexSpec& trex : trexes) {
        b.FullBox("trex", 0, 0, [&] {
          b.U32(trex.trackId).U32(trex.descriptionIndex).U32(trex.duration).U32(trex.size).U32(trex.flags);
        });
      }
    });
  });
}

inline void WriteTfhd(BoxBuilder& b, const TfhdSpec& tfhd) {
  b.FullBox("tfhd", 0, tfhd.flags, [&] {
    b.U32(tfhd.trackId);
    if (tfhd.flags & 0x01) b.U64(tfhd.baseDataOffset);
    if (tfhd.flags & 0x02) b.U32(tfhd.descriptionIndex);
    if (tfhd.flags & 0x08) b.U32(tfhd.duration);
    if (tfhd.flags & 0x10) b.U32(tfhd.size);
    if (tfhd.flags & 0x20) b.U32(tfhd.sampleFlags);
  });
}

inline void WriteTrun(BoxBuilder& b, const RunSpec& run) {
  b.FullBox("trun", 0, run.flags, [&] {
    b.U32(run.declaredCount.value_or(static_cast<uint32_t>(run.samples.size())));
    if (run.flags & 0x001) b.I32(run.dataOffset);
    if (run.flags & 0x004) b.U32(run.firstSampleFlags);
    for (const RunSample& sample : run.samples) {
      if (run.flags & 0x100) b.U32(sample.duration);
      if (run.flags & 0x200) b.U32(sample.size);
      if (run.flags & 0x400) b.U32(sample.flags);
      if (run.flags & 0x800) b.U32(0);
    }
  });
}

// A "traf" of one header and its runs.
inline void WriteTraf(BoxBuilder& b, const TfhdSpec& tfhd, const std::vector<RunSpec>& runs) {
  b.Box("traf", [&] {
    WriteTfhd(b, tfhd);
    for (const RunSpec& run : runs) WriteTrun(b, run);
  });
}

// Samples of `size` bytes and `duration` units, sizes and durations written
// per sample.
inline RunSpec SizedRun(std::vector<uint32_t> durations, uint32_t size = 10) {
  RunSpec run;
  run.flags = 0x300;
  for (uint32_t duration : durations) run.samples.push_back({duration, size, 0});
  return run;
}

struct TfraEntry {
  uint64_t time = 0;
  uint64_t moofOffset = 0;
  uint32_t traf = 1;
  uint32_t trun = 1;
  uint32_t sample = 1;
};

// The number of bytes of each of the three entry numbers, from 1 to 4.
struct TfraWidths {
  int traf = 1;
  int trun = 1;
  int sample = 1;
};

inline void WriteNumber(BoxBuilder& b, uint32_t value, int width) {
  for (int i = width - 1; i >= 0; --i) b.U8(static_cast<uint8_t>(value >> (8 * i)));
}

// "mfra" with one "tfra" per track and the closing "mfro".
struct TfraSpec {
  uint32_t trackId = 1;
  uint8_t version = 1;
  TfraWidths widths;
  std::vector<TfraEntry> entries;
  std::optional<uint32_t> declaredCount;
};

// A version 1 "tfra" with 1-byte numbers.
inline TfraSpec TrackIndex(uint32_t trackId, std::vector<TfraEntry> entries) {
  TfraSpec spec;
  spec.trackId = trackId;
  spec.entries = std::move(entries);
  return spec;
}

inline void WriteMfra(BoxBuilder& b, const std::vector<TfraSpec>& tfras) {
  const size_t start = b.Size();
  b.Box("mfra", [&] {
    for (const TfraSpec& tfra : tfras) {
      b.FullBox("tfra", tfra.version, 0, [&] {
        const uint32_t lengthSizes = ((tfra.widths.traf - 1) << 4) | ((tfra.widths.trun - 1) << 2) |
                                     (tfra.widths.sample - 1);
        b.U32(tfra.trackId).U32(lengthSizes);
        b.U32(tfra.declaredCount.value_or(static_cast<uint32_t>(tfra.entries.size())));
        for (const TfraEntry& entry : tfra.entries) {
          if (tfra.version == 1) {
            b.U64(entry.time).U64(entry.moofOffset);
          } else {
            b.U32(static_cast<uint32_t>(entry.time)).U32(static_cast<uint32_t>(entry.moofOffset));
          }
          WriteNumber(b, entry.traf, tfra.widths.traf);
          WriteNumber(b, entry.trun, tfra.widths.trun);
          WriteNumber(b, entry.sample, tfra.widths.sample);
        }
      });
    }
    // The "mfro" size covers the whole "mfra", itself included.
    const size_t mfraSoFar = b.Size() - start;
    b.FullBox("mfro", 0, 0, [&] { b.U32(static_cast<uint32_t>(mfraSoFar + 16)); });
  });
}
