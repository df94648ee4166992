// The fragment random-access index of a fragmented movie: one sorted list
// of entries per track, read from the "mfra" at the end of the file by
// CDarEdoSource::FindMovieFragmentRandomAccess (random_access_index.cc) and
// searched by trakBox::SelectFragmentForTime when a seek leaves the loaded
// fragments.
#pragma once

#include "container/growable_array.h"
#include "platform/wintypes.h"

// One entry of a track's "tfra": the sample at (track fragment, run,
// sample), 1-based as in the file, of the "moof" at `fragmentOffset` starts
// at `time` (media units).
struct RandomAccessEntry {
  LONGLONG time;
  LONGLONG fragmentOffset;
  DWORD trafNumber;
  DWORD trunNumber;
  DWORD sampleNumber;
};

// The entry to jump to for `mediaTime` in entries sorted by time: the one
// at exactly that time, else the last one starting before it, else 0. The
// array must not be empty.
ULONG FindRandomAccessEntry(const GrowableArray<RandomAccessEntry>& entries, LONGLONG mediaTime);
