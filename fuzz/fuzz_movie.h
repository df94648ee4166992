// What the movie fuzzers share: the input parsed as the filter parses a file
// (through a memory byte source), and the delivery loop's walk.
#pragma once

#include "support/box_builder.h"

#include "container/dar_edo_source.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Hands a source over `bytes`, not yet parsed, to `use`.
template <class Use>
void WithMovieSource(const std::vector<uint8_t>& bytes, SampleEntryFactory factory, Use use) {
  if (bytes.size() > INT32_MAX) return;
  ComPtr<IAsyncReader> reader = MakeMemoryReader(bytes);
  CDarEdoSource source(reader.Get(), 0, factory);
  try {
    use(source);
  } catch (const ArrayError&) {
    // Out of memory growing a list is a result, not a finding.
  }
}

// At most `steps` samples from `first`, and no more than `budget` over all
// walks, so that a file claiming billions of samples stays a quick input.
inline void WalkSamples(trakBox& track, LONGLONG first, LONGLONG steps, LONGLONG* budget) {
  for (LONGLONG sample = first; steps > 0 && *budget > 0; --steps, --*budget) {
    track.LoadFragmentsForSample(sample);
    LONGLONG start = 0, end = 0, offset = 0, size = 0;
    LONG units = 0;
    if (track.GetSampleInfo(sample, &start, &end, &offset, &size, &units) != S_OK) break;
    track.IsSyncSample(sample);
    track.ConvertRangeToReference(&start, &end);
    sample += units > 0 ? units : 1;
  }
}
