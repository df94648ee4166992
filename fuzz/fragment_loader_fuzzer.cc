// Feeds arbitrary bytes to the fragmented-movie path as the filter and its
// delivery loop run it: ParseFile, the random-access index, a walk over
// every sample that loads fragments as it goes, then seeks that jump
// through the index (and ones that stay) each followed by a short walk.
#include "container/dar_edo_source.h"
#include "container/read_from_buffer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Bounds on the walks over all tracks, so that a file claiming millions of
// samples stays a quick input; the loader itself is bounded by the file.
constexpr LONGLONG kMaxSteps = 200000;
constexpr LONGLONG kStepsAfterSeek = 64;
constexpr ULONG kMaxIndexSeeks = 4;

void WalkFrom(trakBox& track, LONGLONG first, LONGLONG steps, LONGLONG* budget) {
  for (LONGLONG sample = first; steps > 0 && *budget > 0; --steps, --*budget) {
    track.LoadFragmentsForSample(sample);
    LONGLONG start = 0, end = 0, offset = 0, size = 0;
    LONG units = 0;
    if (track.GetSampleInfo(sample, &start, &end, &offset, &size, &units) != S_OK) break;
    track.IsSyncSample(sample);
    sample += units > 0 ? units : 1;
  }
}

// A seek as the delivery loop makes it: jump (or not), read forward to the
// time, start at the sync sample before it.
void Seek(trakBox& track, LONGLONG mediaTime, LONGLONG* budget) {
  track.SelectFragmentForTime(mediaTime);
  track.LoadFragmentsForTime(mediaTime);
  LONGLONG sync = 0;
  track.PreviousSyncSampleAtTime(mediaTime, &sync);
  WalkFrom(track, sync, kStepsAfterSeek, budget);
}

void ExerciseTrack(trakBox& track, LONGLONG* budget) {
  track.fixedSampleDuration = track.GetDefaultSampleDuration();
  WalkFrom(track, 0, kMaxSteps, budget);
  const LONGLONG total = track.GetTotalDuration();
  // Past the loaded runs, without overflowing on a fuzzed total.
  const LONGLONG beyond = static_cast<LONGLONG>(static_cast<ULONGLONG>(total) * 3);
  std::vector<LONGLONG> times = {-1, INT64_MAX, total / 2, beyond};
  for (ULONG i = 0; i < track.randomAccessEntries.Count() && i < kMaxIndexSeeks; ++i) {
    times.push_back(track.randomAccessEntries[i].time);
  }
  for (LONGLONG time : times) Seek(track, time, budget);
  LONGLONG start = 0, end = 0, sample = 0;
  track.SampleNumberToReferenceTimes(1, &start, &end);
  track.SampleNumberAtReferenceTime(start, &sample);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > INT32_MAX) return 0;
  auto* reader = new CReadFromBuffer;
  if (reader->Assign(data, static_cast<LONG>(size)) == S_OK) {
    CDarEdoSource source(reader, 0);
    try {
      if (SUCCEEDED(source.ParseFile()) && SUCCEEDED(source.FindMovieFragmentRandomAccess())) {
        LONGLONG budget = kMaxSteps;
        for (ULONG i = 0; i < source.TrackCount(); ++i) ExerciseTrack(*source.Track(i), &budget);
      }
    } catch (const ArrayError&) {
      // Out of memory growing a list is a result, not a finding.
    }
  }
  reader->Release();
  return 0;
}
