// The read side of trakBox: sample number <-> time, sample -> chunk, file
// offset and size, sync-sample searches, totals and the time conversions.
// Every table lookup holds tableLock for its whole run.
#include "container/trak_box.h"

#include "diagnostics/trace.h"
#include "platform/arithmetic.h"
#include "platform/fourcc.h"
#include "platform/media_type.h"

#include <algorithm>

namespace {

constexpr LONG kReferenceUnitsPerSecond = 10000000;
// Rounds reference-to-media conversions to nearest with halves down.
constexpr LONG kHalfSecondRoundingDown = kReferenceUnitsPerSecond / 2 - 1;

// Media times and sample numbers come from untrusted tables and callers;
// the arithmetic on them wraps rather than trapping.
LONGLONG Add(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<ULONGLONG>(a) + static_cast<ULONGLONG>(b));
}
LONGLONG Subtract(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<ULONGLONG>(a) - static_cast<ULONGLONG>(b));
}
LONGLONG Multiply(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<ULONGLONG>(a) * static_cast<ULONGLONG>(b));
}
// Truncating division; the one quotient that does not fit wraps.
LONGLONG Divide(LONGLONG a, LONGLONG b) { return b == -1 ? Subtract(0, a) : a / b; }

LONGLONG SaturatingAdd(LONGLONG a, ULONGLONG b) {
  const unsigned __int128 sum = static_cast<unsigned __int128>(static_cast<ULONGLONG>(a)) + b;
  return a >= 0 && sum > static_cast<unsigned __int128>(INT64_MAX) ? INT64_MAX : static_cast<LONGLONG>(sum);
}

// Samples and chunks one read-ahead walk may visit.
constexpr LONG kReadAheadSteps = 1 << 16;

}  // namespace

LONGLONG trakBox::MediaToReferenceTime(LONGLONG mediaTime) const {
  // The conversions need no lock: the timescale is fixed once parsed.
  const DWORD halfDown = (timescale - 1) / 2;
  return Int64x32Div32(mediaTime, kReferenceUnitsPerSecond, static_cast<LONG>(timescale), static_cast<LONG>(halfDown));
}

LONGLONG trakBox::ReferenceToMediaTime(LONGLONG referenceTime) const {
  return Int64x32Div32(referenceTime, static_cast<LONG>(timescale), kReferenceUnitsPerSecond, kHalfSecondRoundingDown);
}

void trakBox::ConvertRangeToReference(LONGLONG* start, LONGLONG* end) const {
  const LONGLONG duration = Subtract(*end, *start);
  *start = MediaToReferenceTime(*start);
  *end = Add(*start, MediaToReferenceTime(duration));
}

HRESULT trakBox::TimeToSampleNumber(LONGLONG mediaTime, LONGLONG* sample) {
  CAutoLock lock(&tableLock);
  if (!sampleTable) return E_UNEXPECTED;
  GrowableArray<TimeToSampleEntry>& entries = sampleTable->timeToSample;
  // Without entries there is neither a run to land in nor a delta to
  // extrapolate with; like the other lookups without a table, that is
  // E_UNEXPECTED.
  if (entries.Empty()) return E_UNEXPECTED;
  LONGLONG entryTime = baseMediaTime;
  LONGLONG samplesBefore = 0;
  for (ULONG i = 0; i < entries.Count(); ++i) {
    TimeToSampleEntry& entry = entries.Data()[i];
    if (entry.sampleDelta == 0) {
      DMX_TRACE("\nROZArari::trakBox::TimeToSampleNumber: TimeToSample array has a sample of zero duration!");
      entry.sampleDelta = 1;
    }
    const LONGLONG nextTime = Add(entryTime, static_cast<LONGLONG>(entry.count) * entry.sampleDelta);
    if (mediaTime <= nextTime) {
      *sample = Add(samplesBefore, Divide(Subtract(mediaTime, entryTime), entry.sampleDelta));
      return S_OK;
    }
    samplesBefore = Add(samplesBefore, entry.count);
    entryTime = nextTime;
  }
  *sample = Add(samplesBefore, Divide(Subtract(mediaTime, entryTime), entries.Last().sampleDelta));
  return S_OK;
}

HRESULT trakBox::SampleNumberToTime(LONGLONG sample, LONGLONG* start, LONGLONG* end, LONG unitSamples) {
  CAutoLock lock(&tableLock);
  if (!sampleTable || sampleTable->timeToSample.Empty()) return E_UNEXPECTED;
  const GrowableArray<TimeToSampleEntry>& entries = sampleTable->timeToSample;
  const ULONG count = entries.Count();
  ULONG i = 0;
  LONGLONG entryTime = baseMediaTime;
  LONGLONG samplesBefore = 0;
  if (timeCache_.tableId == sampleTable->fragmentId && sample >= timeCache_.sample && timeCache_.entryIndex < count) {
    i = timeCache_.entryIndex;
    entryTime = timeCache_.entryTime;
    samplesBefore = timeCache_.samplesBefore;
  }
  LONGLONG lastEntryTime = entryTime;
  LONGLONG lastSamplesBefore = samplesBefore;
  for (; i < count; ++i) {
    const TimeToSampleEntry& entry = entries.Data()[i];
    if (sample < Add(samplesBefore, entry.count)) {
      timeCache_ = {sampleTable->fragmentId, i, sample, entryTime, samplesBefore};
      *start = Add(entryTime, Multiply(Subtract(sample, samplesBefore), entry.sampleDelta));
      *end = Add(*start, Multiply(unitSamples, entry.sampleDelta));
      return S_OK;
    }
    lastEntryTime = entryTime;
    lastSamplesBefore = samplesBefore;
    entryTime = Add(entryTime, static_cast<LONGLONG>(entry.count) * entry.sampleDelta);
    samplesBefore = Add(samplesBefore, entry.count);
  }
  // Past the last entry the last delta extrapolates, for one delta whatever
  // the unit. The cache keeps the last entry rather than the end of the
  // table: a fragment run may still lengthen that entry.
  const LONGLONG lastDelta = entries.Last().sampleDelta;
  timeCache_ = {sampleTable->fragmentId, count - 1, sample, lastEntryTime, lastSamplesBefore};
  *start = Add(entryTime, Multiply(Subtract(sample, samplesBefore), lastDelta));
  *end = Add(*start, lastDelta);
  return S_OK;
}

HRESULT trakBox::SampleNumberToTimes(LONGLONG sample, LONGLONG* start, LONGLONG* end) {
  CAutoLock lock(&tableLock);
  RETURN_IF_FAILED(SampleNumberToTime(sample, start, end, 1));
  ConvertRangeToReference(start, end);
  return S_OK;
}

HRESULT trakBox::SampleNumberToReferenceTimes(LONGLONG sample, LONGLONG* start, LONGLONG* end) {
  CAutoLock lock(&tableLock);
  if (isFragmented) {
    *start = *end = Multiply(fixedSampleDuration, sample);
    return S_OK;
  }
  return SampleNumberToTimes(sample, start, end);
}

HRESULT trakBox::SampleNumberAtReferenceTime(LONGLONG referenceTime, LONGLONG* sample) {
  CAutoLock lock(&tableLock);
  if (isFragmented) {
    *sample = fixedSampleDuration != 0 ? Divide(referenceTime, fixedSampleDuration) : 0;
    return S_OK;
  }
  return TimeToSampleNumber(ReferenceToMediaTime(referenceTime), sample);
}

HRESULT trakBox::SampleToChunk(LONGLONG sample, LONGLONG* chunk, LONGLONG* indexInChunk, DWORD* samplesInChunk) {
  CAutoLock lock(&tableLock);
  if (!sampleTable || sampleTable->sampleToChunk.Empty()) return E_UNEXPECTED;
  const SampleToChunkEntry* entries = sampleTable->sampleToChunk.Data();
  const ULONG count = sampleTable->sampleToChunk.Count();
  ULONG i = 0;
  LONGLONG samplesBefore = 0;
  if (chunkCache_.tableId == sampleTable->fragmentId && sample >= chunkCache_.sample &&
      chunkCache_.entryIndex < count) {
    i = chunkCache_.entryIndex;
    samplesBefore = chunkCache_.samplesBefore;
  }
  // Entries with a successor cover a known run of chunks; the last one
  // covers everything after.
  for (; i + 1 < count; ++i) {
    const SampleToChunkEntry& entry = entries[i];
    if (entry.samplesPerChunk == 0) return VFW_E_INVALID_FILE_FORMAT;
    const DWORD chunks = entries[i + 1].firstChunk - entry.firstChunk;
    const ULONGLONG run = static_cast<ULONGLONG>(entry.samplesPerChunk) * chunks;
    if (static_cast<__int128>(sample) < static_cast<__int128>(samplesBefore) + run) break;
    samplesBefore = SaturatingAdd(samplesBefore, run);
  }
  const SampleToChunkEntry& entry = entries[i];
  if (entry.samplesPerChunk == 0) return VFW_E_INVALID_FILE_FORMAT;
  const LONGLONG intoEntry = Subtract(sample, samplesBefore);
  const LONGLONG perChunk = entry.samplesPerChunk;
  *chunk = Add(intoEntry / perChunk, static_cast<LONGLONG>(entry.firstChunk) - 1);
  *indexInChunk = intoEntry % perChunk;
  *samplesInChunk = entry.samplesPerChunk;
  if (chunkCache_.tableId != sampleTable->fragmentId) chunkCache_.locatedChunk = -1;
  chunkCache_.tableId = sampleTable->fragmentId;
  chunkCache_.entryIndex = i;
  chunkCache_.sample = sample;
  chunkCache_.samplesBefore = samplesBefore;
  return S_OK;
}

HRESULT trakBox::GetSampleLocation(LONGLONG sample, LONGLONG* offset, LONGLONG* size, LONG* unitSamples) {
  CAutoLock lock(&tableLock);
  LONGLONG chunk = 0;
  LONGLONG indexInChunk = 0;
  DWORD samplesInChunk = 0;
  lastLookupResult = SampleToChunk(sample, &chunk, &indexInChunk, &samplesInChunk);
  if (FAILED(lastLookupResult)) return lastLookupResult;
  if (!sampleTable) return E_UNEXPECTED;
  const trakFragment& table = *sampleTable;
  if (table.chunkOffsets.Empty()) return VFW_E_INVALID_FILE_FORMAT;
  // Sample numbers before the track have no chunk to index.
  if (sample < 0 || chunk < 0) return E_INVALIDARG;
  if (chunk >= static_cast<LONGLONG>(table.chunkOffsets.Count())) return S_FALSE;
  const ULONGLONG chunkOffset = table.chunkOffsets.At(static_cast<ULONG>(chunk));

  if (table.sampleSizes.Empty()) {
    // The chunk table may name more chunks than the samples fill (spare
    // chunks, or a garbage samples-per-chunk value): the count ends the track.
    if (sample >= static_cast<LONGLONG>(table.sampleCount)) return S_FALSE;
    LONGLONG units = 1;
    // A unit that would not fit the signed 32-bit count is cut there, so
    // that a caller stepping by it always moves forward; nor does it run
    // past the last sample.
    if (pcmFlags & kPcmWholeChunkUnits) {
      units = std::min<LONGLONG>({samplesInChunk - indexInChunk, static_cast<LONGLONG>(table.sampleCount) - sample,
                                  INT32_MAX});
    }
    *unitSamples = static_cast<LONG>(units);
    *offset = static_cast<LONGLONG>(chunkOffset + static_cast<ULONGLONG>(table.constantSampleSize) * indexInChunk);
    *size = static_cast<DWORD>(table.constantSampleSize * static_cast<DWORD>(units));
    return S_OK;
  }

  if (sample >= static_cast<LONGLONG>(table.sampleSizes.Count())) return S_FALSE;
  const PackedArray<DWORD>& sizes = table.sampleSizes;
  const LONGLONG firstInChunk = sample - indexInChunk;
  LONGLONG from = firstInChunk;
  ULONGLONG offsetInChunk = 0;
  if (chunkCache_.locatedChunk == chunk && chunkCache_.locatedSample >= firstInChunk &&
      chunkCache_.locatedSample <= sample) {
    from = chunkCache_.locatedSample;
    offsetInChunk = chunkCache_.locatedOffsetInChunk;
  }
  offsetInChunk += sizes.Sum(static_cast<ULONG>(from), static_cast<ULONG>(sample));
  chunkCache_.locatedChunk = chunk;
  chunkCache_.locatedSample = sample;
  chunkCache_.locatedOffsetInChunk = offsetInChunk;
  *offset = static_cast<LONGLONG>(chunkOffset + offsetInChunk);
  *size = sizes.At(static_cast<ULONG>(sample));
  *unitSamples = 1;
  return S_OK;
}

HRESULT trakBox::GetSampleInfo(LONGLONG sample, LONGLONG* start, LONGLONG* end, LONGLONG* offset, LONGLONG* size,
                               LONG* unitSamples) {
  CAutoLock lock(&tableLock);
  const HRESULT hr = GetSampleLocation(sample, offset, size, unitSamples);
  if (hr != S_OK) return hr;
  return SampleNumberToTime(sample, start, end, *unitSamples);
}

HRESULT trakBox::GetReadAhead(LONGLONG sample, LONGLONG offset, LONGLONG limit, LONGLONG maxGap, LONGLONG* bytes) {
  CAutoLock lock(&tableLock);
  *bytes = 0;
  LONGLONG chunk = 0;
  LONGLONG indexInChunk = 0;
  DWORD samplesInChunk = 0;
  RETURN_IF_FAILED(SampleToChunk(sample, &chunk, &indexInChunk, &samplesInChunk));
  const trakFragment& table = *sampleTable;
  const LONGLONG chunkCount = table.chunkOffsets.Count();
  const LONGLONG sizeCount = table.sampleSizes.Count();
  const bool sized = sizeCount != 0;
  if (sample < 0 || chunk < 0 || chunk >= chunkCount || (sized && sample >= sizeCount)) return S_FALSE;
  const SampleToChunkEntry* runs = table.sampleToChunk.Data();
  const ULONG runCount = table.sampleToChunk.Count();
  ULONG run = chunkCache_.entryIndex;
  const PackedArray<DWORD>& sizes = table.sampleSizes;
  const LONGLONG constantSize = table.constantSampleSize;

  // Every step takes a sample or moves to a chunk; the cap bounds a walk
  // over samples of no size, which never reach the limit.
  LONG steps = kReadAheadSteps;
  LONGLONG position = offset;  // where the track's next sample starts
  LONGLONG spanEnd = offset;   // the end of the last whole sample taken
  LONGLONG next = sample;
  LONGLONG left = samplesInChunk - indexInChunk;
  for (;;) {
    if (sized) {
      for (; left > 0 && next < sizeCount && --steps > 0; --left, ++next) {
        const DWORD size = sizes.At(static_cast<ULONG>(next));
        if (position - offset + size > limit) break;
        position += size;
        spanEnd = position;
      }
      if (left > 0) break;
    } else {
      const LONGLONG fit = constantSize == 0 ? left : std::min(left, (limit - (position - offset)) / constantSize);
      position += fit * constantSize;
      if (fit > 0) spanEnd = position;
      if (fit < left) break;
    }
    // The next chunk joins when it follows closely: the bytes between
    // (another track's) cost less to copy than a read of their own.
    if (++chunk >= chunkCount || --steps <= 0) break;
    const LONGLONG chunkStart = static_cast<LONGLONG>(table.chunkOffsets.At(static_cast<ULONG>(chunk)));
    if (chunkStart < position || chunkStart - position > maxGap || chunkStart - offset > limit) break;
    position = chunkStart;
    while (run + 1 < runCount && static_cast<LONGLONG>(runs[run + 1].firstChunk) - 1 <= chunk) ++run;
    left = runs[run].samplesPerChunk;
  }
  *bytes = spanEnd - offset;
  return S_OK;
}

bool trakBox::SamplesEndWithin(LONGLONG length) {
  CAutoLock lock(&tableLock);
  if (!sampleTable || length < 0) return false;
  const trakFragment& table = *sampleTable;
  const SampleToChunkEntry* runs = table.sampleToChunk.Data();
  const ULONG runCount = table.sampleToChunk.Count();
  if (runCount == 0 || runs[0].firstChunk != 1) return false;
  for (ULONG i = 1; i < runCount; ++i) {
    if (runs[i].firstChunk <= runs[i - 1].firstChunk) return false;
  }
  const PackedArray<DWORD>& sizes = table.sampleSizes;
  const bool sized = !sizes.Empty();
  // Where the lookups stop: past the sizes, or past the sample count.
  const ULONGLONG samples = sized ? sizes.Count() : table.sampleCount;
  const ULONGLONG end = static_cast<ULONGLONG>(length);
  ULONGLONG sample = 0;
  ULONG run = 0;
  for (ULONG chunk = 0; chunk < table.chunkOffsets.Count() && sample < samples; ++chunk) {
    if (run + 1 < runCount && runs[run + 1].firstChunk - 1 <= chunk) ++run;
    if (runs[run].samplesPerChunk == 0) return false;
    const ULONGLONG taken = std::min<ULONGLONG>(runs[run].samplesPerChunk, samples - sample);
    const ULONGLONG bytes = sized ? sizes.Sum(static_cast<ULONG>(sample), static_cast<ULONG>(sample + taken))
                                  : static_cast<ULONGLONG>(table.constantSampleSize) * taken;
    const ULONGLONG offset = table.chunkOffsets.At(chunk);
    if (offset > end || bytes > end - offset) return false;
    sample += taken;
  }
  return true;
}

HRESULT trakBox::ReadFirstSample(BYTE* buffer, LONGLONG* length) {
  CAutoLock lock(&tableLock);
  if (!reader_) return E_POINTER;
  LONGLONG offset = 0;
  LONGLONG size = 0;
  LONG units = 0;
  const HRESULT hr = GetSampleLocation(0, &offset, &size, &units);
  if (hr != S_OK) return hr;
  if (*length > size) *length = size;
  if (*length > INT32_MAX) *length = INT32_MAX;
  return reader_->SyncRead(offset, static_cast<LONG>(*length), buffer);
}

bool trakBox::SyncSamplesAscending() {
  const GrowableArray<DWORD>& samples = sampleTable->syncSamples;
  if (syncOrder_.tableId != sampleTable->fragmentId || syncOrder_.checkedCount > samples.Count()) {
    syncOrder_ = {sampleTable->fragmentId, 0, true};
  }
  for (ULONG i = std::max<ULONG>(syncOrder_.checkedCount, 1); syncOrder_.ascending && i < samples.Count(); ++i) {
    syncOrder_.ascending = samples.Data()[i - 1] <= samples.Data()[i];
  }
  syncOrder_.checkedCount = samples.Count();
  return syncOrder_.ascending;
}

// The scan from the start stops at the first entry above the sample; on an
// ascending table that is a binary search. A table out of order gets the
// scan itself, so both give the same answer.
ULONG trakBox::FirstSyncEntryAbove(LONGLONG oneBasedSample) {
  const GrowableArray<DWORD>& samples = sampleTable->syncSamples;
  if (oneBasedSample < 0) return 0;
  const DWORD* first = samples.Data();
  const DWORD* last = first + samples.Count();
  if (SyncSamplesAscending()) {
    const DWORD* above =
        std::upper_bound(first, last, oneBasedSample, [](LONGLONG value, DWORD entry) { return value < entry; });
    return static_cast<ULONG>(above - first);
  }
  const DWORD* above = std::find_if(first, last, [&](DWORD entry) { return entry > oneBasedSample; });
  return static_cast<ULONG>(above - first);
}

BOOL trakBox::IsSyncSample(LONGLONG sample) {
  CAutoLock lock(&tableLock);
  if (!sampleTable) return FALSE;
  const GrowableArray<DWORD>& samples = sampleTable->syncSamples;
  if (samples.Empty()) return TRUE;
  const LONGLONG oneBased = Add(sample, 1);
  if (oneBased < 0) return FALSE;
  // The entry just before the first one above the sample is the only one
  // that can equal it: the scan stops there.
  const ULONG above = FirstSyncEntryAbove(oneBased);
  if (above == 0) return FALSE;
  if (SyncSamplesAscending()) return samples.Data()[above - 1] == oneBased ? TRUE : FALSE;
  const DWORD* first = samples.Data();
  return std::find(first, first + above, static_cast<ULONGLONG>(oneBased)) != first + above ? TRUE : FALSE;
}

HRESULT trakBox::PreviousSyncSampleLocked(LONGLONG sample, LONGLONG* syncSample) {
  const GrowableArray<DWORD>& samples = sampleTable->syncSamples;
  if (samples.Empty()) {
    *syncSample = sample < 0 ? 0 : sample;
    return S_OK;
  }
  const ULONG above = FirstSyncEntryAbove(Add(sample, 1));
  if (above == 0) {
    *syncSample = 0;
    return S_FALSE;
  }
  *syncSample = static_cast<LONGLONG>(samples.Data()[above - 1]) - 1;
  return S_OK;
}

HRESULT trakBox::PreviousSyncSample(LONGLONG sample, LONGLONG* syncSample) {
  CAutoLock lock(&tableLock);
  if (!sampleTable) {
    *syncSample = 0;
    return S_FALSE;
  }
  return PreviousSyncSampleLocked(sample, syncSample);
}

HRESULT trakBox::PreviousSyncSampleAtTime(LONGLONG mediaTime, LONGLONG* syncSample) {
  CAutoLock lock(&tableLock);
  if (!sampleTable) {
    *syncSample = 0;
    return S_FALSE;
  }
  LONGLONG sample = 0;
  RETURN_IF_FAILED(TimeToSampleNumber(mediaTime, &sample));
  return PreviousSyncSampleLocked(sample, syncSample);
}

BOOL trakBox::IsFramedVideoFormat() {
  if (mediaKind != kMediaKindVideo) return FALSE;
  switch (FormatFourCC()) {
    case FourCC("s263"):
    case FourCC("mp4v"):
    case FourCC("avc1"):
    case FourCC("vc-1"):
      return TRUE;
    default:
      return FALSE;
  }
}

LONGLONG trakBox::GetTotalDuration() {
  CAutoLock lock(&tableLock);
  return sampleTable ? sampleTable->totalDuration : 0;
}

// A constant-size track counts its samples: size × sample count, so that
// bit rates and average sizes of PCM and raw video come out real rather
// than 0.
ULONGLONG trakBox::GetTotalSampleBytes() {
  CAutoLock lock(&tableLock);
  if (!sampleTable) return 0;
  const trakFragment& table = *sampleTable;
  if (table.sampleSizes.Empty()) return static_cast<ULONGLONG>(table.constantSampleSize) * table.sampleCount;
  return table.sampleSizes.Sum(0, table.sampleSizes.Count());
}

DWORD trakBox::GetAverageSampleSize() {
  CAutoLock lock(&tableLock);
  if (!sampleTable || sampleTable->sampleCount == 0) return 0;
  const LONGLONG average = static_cast<LONGLONG>(GetTotalSampleBytes()) / sampleTable->sampleCount;
  return average < 0 || average > 0xFFFFFFFFLL ? 0xFFFFFFFF : static_cast<DWORD>(average);
}

DWORD trakBox::GetBytesPerSecond() {
  CAutoLock lock(&tableLock);
  if (!sampleTable || sampleTable->totalDuration == 0) return 0;
  const LONGLONG scaled = Multiply(timescale, static_cast<LONGLONG>(GetTotalSampleBytes()));
  return static_cast<DWORD>(Divide(scaled, sampleTable->totalDuration));
}

DWORD trakBox::GetMaxSampleSize() {
  CAutoLock lock(&tableLock);
  if (!sampleTable) return 0;
  const trakFragment& table = *sampleTable;
  if (!table.sampleSizes.Empty()) {
    DWORD largest = 0;
    for (ULONG i = 0; i < table.sampleSizes.Count(); ++i) largest = std::max(largest, table.sampleSizes.At(i));
    return largest;
  }
  if (pcmFlags & kPcmWholeChunkUnits) {
    DWORD largestChunk = 0;
    for (ULONG i = 0; i < table.sampleToChunk.Count(); ++i) {
      largestChunk = std::max(largestChunk, table.sampleToChunk.Data()[i].samplesPerChunk);
    }
    return table.constantSampleSize * largestChunk;
  }
  return table.constantSampleSize;
}

LONGLONG trakBox::GetDefaultSampleDuration() {
  CAutoLock lock(&tableLock);
  if (timescale == 0) return 0;
  if (defaultSampleDelta != 0) return Divide(Multiply(defaultSampleDelta, kReferenceUnitsPerSecond), timescale);
  if (!sampleTable || sampleTable->sampleCount == 0) return 0;
  const LONGLONG units = Multiply(timescale, sampleTable->sampleCount);
  return Divide(Multiply(sampleTable->totalDuration, kReferenceUnitsPerSecond), units);
}

void trakBox::PreparePcmLayout() {
  CAutoLock lock(&tableLock);
  pcmFlags = 0;
  if (mediaKind != kMediaKindSound || !sampleEntry || !sampleTable) return;
  const DWORD format = sampleEntry->Format();
  const bool classic = format == FourCC("twos") || format == FourCC("sowt") || format == FourCC("raw ");
  const DWORD bytesPerFrame = sampleEntry->PcmFrameBytes();
  trakFragment& table = *sampleTable;
  const bool oneDuration = table.timeToSample.Count() == 1;
  if (!classic) {
    // µ-law, A-law and the other uncompressed formats store one frame per
    // sample just the same; read literally as one-frame samples they play
    // at the wrong speed. Only the plain layout is regrouped.
    if (bytesPerFrame == 0 || table.constantSampleSize == 0 || !oneDuration) return;
    pcmFlags |= kPcmWholeChunkUnits;
    table.constantSampleSize = bytesPerFrame;
    return;
  }
  if (table.constantSampleSize != 0) {
    if (oneDuration) pcmFlags |= kPcmWholeChunkUnits;
    table.constantSampleSize = bytesPerFrame;
  } else {
    PackedArray<DWORD>& sizes = table.sampleSizes;
    for (ULONG i = 0; i < sizes.Count(); ++i) {
      if (sizes.Set(i, sizes.At(i) * bytesPerFrame) != S_OK) throw ArrayError(E_OUTOFMEMORY);
    }
  }
}

HRESULT trakBox::GetTrackMediaType(int index, CMediaType* mediaType) {
  CAutoLock lock(&tableLock);
  if (!sampleTable || !sampleEntry || sampleTable->sampleToChunk.Empty() || sampleTable->chunkOffsets.Empty()) {
    return E_UNEXPECTED;
  }
  const HRESULT hr = sampleEntry->GetMediaType(index, mediaType, reader_.Get());
  if (hr == S_OK) {
    mediaType->SetSampleSize(sampleTable->constantSampleSize);
    mediaType->SetTemporalCompression(sampleTable->syncSamples.Empty() ? FALSE : TRUE);
  }
  return hr;
}
