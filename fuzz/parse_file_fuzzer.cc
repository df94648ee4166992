// Feeds arbitrary bytes to ParseFile as the filter runs it (with the streams
// layer's sample entries), then walks every sample of every track the way
// the delivery loop does, and touches the other lookups a connection makes.
#include "fuzz_movie.h"

#include "streams/sample_entry_factory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WithMovieSource({data, data + size}, CreateSampleEntry, [](CDarEdoSource& source) {
    source.ParseFile();
    LONGLONG budget = 1000000;
    for (ULONG i = 0; i < source.TrackCount(); ++i) {
      trakBox& track = *source.Track(i);
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
      WalkSamples(track, 0, budget, &budget);
    }
  });
  return 0;
}
