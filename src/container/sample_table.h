// trakFragment: one set of a track's sample tables, stored as the file
// holds them (no per-sample index is derived). A plain track has one, filled
// from "stbl"; a fragmented track appends its runs to the current one and
// starts a new one when it jumps to another fragment.
//
// The owning trakBox guards every field with its tableLock. The "stbl"
// handlers that fill it are trakBox members (sample_table.cc).
#pragma once

#include "container/growable_array.h"
#include "container/packed_array.h"
#include "platform/wintypes.h"

// "stts": `count` samples of `sampleDelta` media units each.
struct TimeToSampleEntry {
  DWORD count;
  LONG sampleDelta;
};
static_assert(sizeof(TimeToSampleEntry) == 8);

// "stsc": from chunk `firstChunk` (1-based) on, `samplesPerChunk` samples
// per chunk.
struct SampleToChunkEntry {
  DWORD firstChunk;
  DWORD samplesPerChunk;
  DWORD sampleDescriptionIndex;
};
static_assert(sizeof(SampleToChunkEntry) == 12);

class trakFragment {
 public:
  // Takes a new, non-zero `fragmentId`.
  trakFragment();
  trakFragment(const trakFragment&) = delete;
  trakFragment& operator=(const trakFragment&) = delete;
  virtual ~trakFragment();

  // Bytes held by the five tables.
  size_t TableBytes() const;
  // Whether the tables describe samples that can be located.
  bool HoldsSamples() const;
  // This set becomes a copy of `other`'s tables (its own id stays);
  // E_OUTOFMEMORY leaves it partly filled.
  HRESULT CopyTablesFrom(const trakFragment& other);

  // Unique in the process; the lookup caches are keyed by it so that they
  // never carry positions from one table set into another.
  const DWORD fragmentId;
  // Sum of the "stts" counts.
  DWORD sampleCount = 0;
  // Sum of count × delta over "stts", in media units.
  LONGLONG totalDuration = 0;
  // "stsz"'s common size; 0 when sizes are per sample.
  DWORD constantSampleSize = 0;
  PackedArray<DWORD> sampleSizes;
  GrowableArray<SampleToChunkEntry> sampleToChunk;
  // Absolute file offsets, four bytes each until one needs eight.
  PackedArray<ULONGLONG, 4> chunkOffsets;
  // 1-based sample numbers, ascending; empty means every sample is a sync
  // sample.
  GrowableArray<DWORD> syncSamples;
  GrowableArray<TimeToSampleEntry> timeToSample;
};
