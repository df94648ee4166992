// Feeds arbitrary bytes to ParseFile as the filter runs it (through
// CReadFromBuffer, with the streams layer's sample entries), then walks
// every sample of every track the way the delivery loop does, and touches
// the other lookups a connection makes.
#include "container/dar_edo_source.h"
#include "container/read_from_buffer.h"
#include "streams/sample_entry_factory.h"

#include <cstddef>
#include <cstdint>

namespace {

// A bound on the walk over all tracks, so that a file claiming billions of
// samples stays a quick input; the lookups themselves are what is tested.
constexpr LONGLONG kMaxSteps = 1000000;

void WalkTrack(trakBox& track, LONGLONG* budget) {
  track.PreparePcmLayout();
  track.GetMaxSampleSize();
  track.GetAverageSampleSize();
  track.GetBytesPerSecond();
  track.GetDefaultSampleDuration();
  LONGLONG sync = 0;
  track.PreviousSyncSampleAtTime(track.GetTotalDuration() / 2, &sync);
  BYTE first[64];
  LONGLONG length = sizeof first;
  track.ReadFirstSample(first, &length);
  for (LONGLONG sample = 0; *budget > 0; --*budget) {
    LONGLONG start = 0, end = 0, offset = 0, size = 0;
    LONG units = 0;
    if (track.GetSampleInfo(sample, &start, &end, &offset, &size, &units) != S_OK) break;
    track.IsSyncSample(sample);
    track.ConvertRangeToReference(&start, &end);
    sample += units > 0 ? units : 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > INT32_MAX) return 0;
  auto* reader = new CReadFromBuffer;
  if (reader->Assign(data, static_cast<LONG>(size)) == S_OK) {
    CDarEdoSource source(reader, 0, CreateSampleEntry);
    try {
      source.ParseFile();
      LONGLONG budget = kMaxSteps;
      for (ULONG i = 0; i < source.TrackCount(); ++i) WalkTrack(*source.Track(i), &budget);
    } catch (const ArrayError&) {
      // Out of memory growing a list is a result, not a finding.
    }
  }
  reader->Release();
  return 0;
}
