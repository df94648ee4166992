// Feeds arbitrary bytes to the fragmented-movie path as the filter and its
// delivery loop run it: ParseFile, the random-access index, a walk over
// every sample that loads fragments as it goes, then seeks that jump
// through the index (and ones that stay) each followed by a short walk.
#include "fuzz_movie.h"

#include <vector>

namespace {

constexpr LONGLONG kStepsAfterSeek = 64;
constexpr ULONG kMaxIndexSeeks = 4;

void ExerciseTrack(trakBox& track, LONGLONG* budget) {
  track.fixedSampleDuration = track.GetDefaultSampleDuration();
  WalkSamples(track, 0, *budget, budget);
  const LONGLONG total = track.GetTotalDuration();
  // Past the loaded runs, without overflowing on a fuzzed total.
  const LONGLONG beyond = static_cast<LONGLONG>(static_cast<ULONGLONG>(total) * 3);
  std::vector<LONGLONG> times = {-1, INT64_MAX, total / 2, beyond};
  for (ULONG i = 0; i < track.randomAccessEntries.Count() && i < kMaxIndexSeeks; ++i) {
    times.push_back(track.randomAccessEntries[i].time);
  }
  // A seek as the delivery loop makes it: jump (or not), read forward to the
  // time, start at the sync sample before it.
  for (LONGLONG time : times) {
    track.SelectFragmentForTime(time);
    track.LoadFragmentsForTime(time);
    LONGLONG sync = 0;
    track.PreviousSyncSampleAtTime(time, &sync);
    WalkSamples(track, sync, kStepsAfterSeek, budget);
  }
  LONGLONG start = 0, end = 0, sample = 0;
  track.SampleNumberToReferenceTimes(1, &start, &end);
  track.SampleNumberAtReferenceTime(start, &sample);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WithMovieSource({data, data + size}, CreatePlainSampleEntry, [](CDarEdoSource& source) {
    if (FAILED(source.ParseFile()) || FAILED(source.FindMovieFragmentRandomAccess())) return;
    LONGLONG budget = 200000;
    for (ULONG i = 0; i < source.TrackCount(); ++i) ExerciseTrack(*source.Track(i), &budget);
  });
  return 0;
}
