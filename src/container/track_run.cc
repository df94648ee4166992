// "trun": one run of a track fragment appended to the track's current table
// set as one chunk, so that the lookups treat fragments like any track.
#include "container/fragment_flags.h"
#include "container/trak_box.h"

#include <algorithm>
#include <new>

namespace {

// Every per-sample field of a run is four bytes.
constexpr LONG kRunFieldBytes = 4;
// The run's sample fields are read this many bytes at a time.
constexpr LONG kRunBatchBytes = 2048;

// A time-to-sample count stops growing here so that it stays a positive
// signed value.
constexpr DWORD kMaxTimeToSampleCount = 0x7FFFFFFF;

LONGLONG WrappingAdd(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<ULONGLONG>(a) + static_cast<ULONGLONG>(b));
}

// The most samples a table set may hold: every sample takes at least one
// byte of the source, and the count is 32-bit. Runs with nothing per sample
// cost the file four bytes however many samples they claim; this bound
// keeps what they allocate in proportion to the file.
LONGLONG SampleLimit(IAsyncReader* source) {
  LONGLONG total = 0;
  LONGLONG available = 0;
  if (FAILED(source->Length(&total, &available)) || total < 0) total = INT64_MAX;
  return std::min<LONGLONG>(total, UINT32_MAX);
}

// Readies "moov" tables for runs appended after them: a run adds per-sample
// sizes and marks only its own sync samples, so a constant size becomes one
// size per sample and an empty sync table (every sample a sync sample)
// lists the samples it covered.
HRESULT PrepareMovieTablesForRuns(trakFragment& table, LONGLONG sampleLimit) {
  if (table.sampleSizes.Empty() && table.constantSampleSize != 0) {
    if (table.sampleCount > sampleLimit) return STG_E_INVALIDHEADER;
    if (table.sampleSizes.SetCount(table.sampleCount) != S_OK) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < table.sampleCount; ++i) RETURN_IF_FAILED(table.sampleSizes.Set(i, table.constantSampleSize));
    table.constantSampleSize = 0;
  }
  if (table.syncSamples.Empty() && !table.sampleSizes.Empty()) {
    const ULONG count = table.sampleSizes.Count();
    if (table.syncSamples.SetCount(count) != S_OK) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < count; ++i) table.syncSamples.Data()[i] = i + 1;
  }
  return S_OK;
}

void AppendDuration(GrowableArray<TimeToSampleEntry>& timeToSample, DWORD duration) {
  const LONG delta = static_cast<LONG>(duration);
  if (timeToSample.Empty() || timeToSample.Last().sampleDelta != delta ||
      timeToSample.Last().count >= kMaxTimeToSampleCount) {
    timeToSample.Append({1, delta});
  } else {
    ++timeToSample.Last().count;
  }
}

// `count` bytes into `out` when all of them are there; otherwise false
// with `fields` where it was.
bool ReadWhole(BoxFieldReader& fields, IAsyncReader* source, BYTE* out, LONG count) {
  LONGLONG position = fields.Position();
  LONGLONG remaining = fields.Remaining();
  BoxFieldReader trial(source, &position, &remaining);
  return trial.Bytes(out, count) == S_OK && SUCCEEDED(fields.Skip(count));
}

bool StartsSyncSample(DWORD sampleFlags) {
  return (sampleFlags & kSampleIsNonSync) == 0 && (sampleFlags & kSampleDependsOnMask) != kSampleDependsOnOthers;
}

}  // namespace

HRESULT trakBox::ParseTrackRun(LONGLONG* position, LONGLONG* trafRemaining, Box& header) {
  CAutoLock lock(&tableLock);
  IAsyncReader* source = reader_.Get();
  const LONGLONG sampleLimit = SampleLimit(source);
  // The track's first run decides what becomes of the tables from "moov":
  // empty ones (the usual fragmented file) give way to the runs; real
  // samples (a first fragment written into "moov") stay, with the runs
  // appended after them.
  if (trexSeen) {
    trexSeen = 0;
    if (sampleTable && sampleTable->HoldsSamples()) {
      RETURN_IF_FAILED(PrepareMovieTablesForRuns(*sampleTable, sampleLimit));
    } else {
      sampleTable.reset();
    }
  }
  FullBox box(header);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(source, position, trafRemaining));
  RETURN_IF_FAILED(ClaimChild(trafRemaining, box));
  if (!sampleTable) {
    sampleTable.reset(new (std::nothrow) trakFragment());
    if (!sampleTable) return E_OUTOFMEMORY;
  }
  trakFragment& table = *sampleTable;
  BoxFieldReader fields = box.Fields(source, position);

  DWORD count = 0;
  RETURN_IF_FAILED(fields.U32(&count));
  if (box.flags & kTrunDataOffset) {
    LONG dataOffset = 0;
    RETURN_IF_FAILED(fields.I32(&dataOffset));
    nextDataOffset = WrappingAdd(fragmentBaseDataOffset, dataOffset);
  }
  DWORD firstSampleFlags = fragmentSampleFlags;
  if (box.flags & kTrunFirstSampleFlags) RETURN_IF_FAILED(fields.U32(&firstSampleFlags));

  // An empty run adds no chunk: a chunk of zero samples would stop the
  // chunk lookup.
  if (count == 0) {
    fields.SkipRest();
    return S_OK;
  }
  if (static_cast<LONGLONG>(table.sampleCount) + count > sampleLimit) return STG_E_INVALIDHEADER;

  // Numbered after the chunks already there, "moov" chunks included.
  table.sampleToChunk.Append({table.chunkOffsets.Count() + 1, count, fragmentSampleDescriptionIndex});
  table.sampleCount += count;
  table.chunkOffsets.Append(static_cast<ULONGLONG>(nextDataOffset));

  const DWORD perSample[] = {kTrunSampleDuration, kTrunSampleSize, kTrunSampleFlags, kTrunSampleCompositionOffset};
  LONG entryBytes = 0;
  for (DWORD flag : perSample) entryBytes += (box.flags & flag) ? kRunFieldBytes : 0;
  BYTE batch[kRunBatchBytes];
  for (DWORD i = 0; i < count;) {
    // The fields come a batch at a time; a batch that is not all there is
    // read field by field, so that a field that does not fit ends the run
    // with the samples before it kept.
    DWORD batchCount = entryBytes == 0 ? count - i : std::min<DWORD>(count - i, kRunBatchBytes / entryBytes);
    if (entryBytes != 0 && !ReadWhole(fields, source, batch, static_cast<LONG>(batchCount) * entryBytes)) {
      batchCount = 1;
      for (LONG at = 0; at < entryBytes; at += kRunFieldBytes) RETURN_IF_FAILED(fields.Bytes(batch + at, kRunFieldBytes));
    }
    const BYTE* at = batch;
    for (DWORD end = i + batchCount; i < end; ++i) {
      DWORD duration = fragmentSampleDuration;
      DWORD size = fragmentSampleSize;
      DWORD sampleFlags = i == 0 ? firstSampleFlags : fragmentSampleFlags;
      const auto take = [&at](DWORD* value) {
        *value = LoadBigEndian32(at);
        at += kRunFieldBytes;
      };
      if (box.flags & kTrunSampleDuration) take(&duration);
      if (box.flags & kTrunSampleSize) take(&size);
      if (box.flags & kTrunSampleFlags) take(&sampleFlags);
      DWORD compositionOffset = 0;
      if (box.flags & kTrunSampleCompositionOffset) take(&compositionOffset);

      table.sampleSizes.Append(size);
      AppendDuration(table.timeToSample, duration);
      // Only a run's first sample can be a sync sample.
      if (i == 0 && StartsSyncSample(sampleFlags)) table.syncSamples.Append(table.sampleSizes.Count());
      nextDataOffset = WrappingAdd(nextDataOffset, size);
      table.totalDuration = WrappingAdd(table.totalDuration, duration);
      // Until the random-access target is reached, each sample before it
      // moves the set's start back, so the target lands on the entry's time.
      // That includes the samples of runs ahead of the target run: they sit
      // before it in the table set too.
      if (sampleCountdown != 0) {
        if (trafCountdown == 0 && trunCountdown == 0) --sampleCountdown;
        if (sampleCountdown != 0) {
          baseMediaTime = WrappingAdd(baseMediaTime, -static_cast<LONGLONG>(duration));
        } else {
          // Index times are presentation times; the table set counts decode
          // times, which run ahead by the target's composition offset.
          baseMediaTime = WrappingAdd(baseMediaTime, -CompositionOffset(box.version, compositionOffset));
        }
      }
    }
  }
  fields.SkipRest();
  return S_OK;
}
