// trakBox: the track model. Built from a "trak" box on the parsing thread
// (track header, media box, media information, sample tables and the
// sample entry), then read by the lookups of sample_lookup.cc from the
// delivery threads, seeking and the filter.
//
// Threads: the parse fills the fields below once. Afterwards only the
// sample tables (`sampleTable`), the lookup caches, `pcmFlags` and the
// fragment state change, always under `tableLock`. Every lookup takes
// `tableLock` for its whole run.
//
// Ownership: the track owns its table set and its sample entry and holds
// one reference on its byte source.
#pragma once

#include "container/box.h"
#include "container/growable_array.h"
#include "container/random_access_index.h"
#include "container/sample_entry.h"
#include "container/sample_table.h"
#include "platform/critical_section.h"
#include "platform/unknown.h"

#include <memory>

class CMediaType;

// Media kinds, from the media header box inside "minf".
enum MediaKind : DWORD {
  kMediaKindNone = 0,
  kMediaKindVideo = 1,
  kMediaKindSound = 2,
  kMediaKindHint = 3,
  kMediaKindNull = 4,
};

// pcmFlags bits.
// Each delivered unit of QuickTime PCM runs from the requested sample to
// the end of its chunk. (Byte order and sign are the output pin's sample
// converter's business: they depend on the media type it connected with.)
inline constexpr DWORD kPcmWholeChunkUnits = 0x1;

// "tfdt", or the "uuid" box with which Smooth Streaming states the same.
bool IsFragmentDecodeTimeBox(const Box& box);

class trakBox : public FullBox {
 public:
  // `header` is the "trak" header just read (its payload buffer is taken
  // over); `reader` gets one reference; `entryFactory` builds the sample
  // entry at the end of the "minf" walk.
  trakBox(Box& header, IAsyncReader* reader, SampleEntryFactory entryFactory = CreatePlainSampleEntry);
  ~trakBox() override;

  // The track's byte source with one reference added for the caller.
  virtual IAsyncReader* GetReader();
  // Points the track at another byte source (after a compressed movie
  // header, back at the file).
  void SetReader(IAsyncReader* reader);
  // The byte source without a new reference (valid while the track lives).
  IAsyncReader* Reader() const { return reader_.Get(); }

  // Walks this track's children from *position (just after the "trak"
  // header): "tkhd" and "mdia".
  HRESULT ParseTrack(LONGLONG* position);

  // The "stbl" handler, called from the "minf" walk (sample_table.cc).
  HRESULT ParseSampleTable(LONGLONG* position, LONGLONG* remaining, Box& stbl);

  // The format FourCC of the sample description entry, 0 without one.
  DWORD FormatFourCC() const;

  // Time conversions between media units and 100-ns reference time.
  LONGLONG MediaToReferenceTime(LONGLONG mediaTime) const;
  LONGLONG ReferenceToMediaTime(LONGLONG referenceTime) const;
  // The duration is rounded by itself and added to the rounded start, so
  // end − start does not depend on where the start fell.
  void ConvertRangeToReference(LONGLONG* start, LONGLONG* end) const;

  // Sample numbers are 0-based within the current table set; media times
  // include `baseMediaTime`.
  HRESULT TimeToSampleNumber(LONGLONG mediaTime, LONGLONG* sample);
  // Start of `sample` and the end of the `unitSamples` samples from it.
  HRESULT SampleNumberToTime(LONGLONG sample, LONGLONG* start, LONGLONG* end, LONG unitSamples);
  HRESULT SampleNumberToTimes(LONGLONG sample, LONGLONG* start, LONGLONG* end);
  HRESULT SampleNumberToReferenceTimes(LONGLONG sample, LONGLONG* start, LONGLONG* end);
  HRESULT SampleNumberAtReferenceTime(LONGLONG referenceTime, LONGLONG* sample);

  // The 0-based chunk of `sample`, its position in the chunk and the
  // chunk's sample count. The chunk may lie past the chunk offsets.
  HRESULT SampleToChunk(LONGLONG sample, LONGLONG* chunk, LONGLONG* indexInChunk, DWORD* samplesInChunk);
  // The bytes to deliver for `sample` and how many samples they carry.
  // S_FALSE past the end of the track.
  HRESULT GetSampleLocation(LONGLONG sample, LONGLONG* offset, LONGLONG* size, LONG* unitSamples);
  // GetSampleLocation and, on S_OK, SampleNumberToTime, under one lock.
  HRESULT GetSampleInfo(LONGLONG sample, LONGLONG* start, LONGLONG* end, LONGLONG* offset, LONGLONG* size,
                        LONG* unitSamples);
  // How many bytes one read from `offset`, where `sample` starts, should
  // take: the rest of the sample's chunk and the track's next chunks while
  // each starts at most `maxGap` bytes after the one before, whole samples
  // only, at most `limit` (0 when `sample` alone is larger). S_FALSE past
  // the end of the track.
  HRESULT GetReadAhead(LONGLONG sample, LONGLONG offset, LONGLONG limit, LONGLONG maxGap, LONGLONG* bytes);
  // Whether every sample GetSampleLocation finds ends within the first
  // `length` bytes, by one pass over the chunks. False also when the chunk
  // table is irregular (first chunks not ascending from 1, a run of no
  // samples): a walk over the samples then decides.
  bool SamplesEndWithin(LONGLONG length);
  // Sample 0 into `buffer`; *length (in: capacity) is lowered to the
  // sample's size when that is smaller.
  HRESULT ReadFirstSample(BYTE* buffer, LONGLONG* length);

  BOOL IsSyncSample(LONGLONG sample);
  // The last sync sample at or before `sample`; S_FALSE and 0 when none.
  HRESULT PreviousSyncSample(LONGLONG sample, LONGLONG* syncSample);
  HRESULT PreviousSyncSampleAtTime(LONGLONG mediaTime, LONGLONG* syncSample);
  // Video whose delivery starts one sync sample early.
  BOOL IsFramedVideoFormat();

  LONGLONG GetTotalDuration();
  ULONGLONG GetTotalSampleBytes();
  DWORD GetAverageSampleSize();
  DWORD GetBytesPerSecond();
  DWORD GetMaxSampleSize();
  // 100-ns units.
  LONGLONG GetDefaultSampleDuration();

  // The layout fix-up of QuickTime PCM, run once after parsing. Raises
  // ArrayError(E_OUTOFMEMORY) when the scaled sizes cannot widen.
  void PreparePcmLayout();
  // The sample entry's media type at `index`, with the sample size and
  // temporal compression this track's tables imply.
  HRESULT GetTrackMediaType(int index, CMediaType* mediaType);

  // Fragment loading (fragment_loader.cc). Each takes tableLock. For a
  // plain track every request is already covered (S_OK).
  //
  // Keeps the loaded runs when `mediaTime` lies inside them or up to 5 s
  // past their end; otherwise, with a random-access index, drops them and
  // restarts loading at the index entry for `mediaTime`, or from the tables
  // of "moov" when those hold samples and the time precedes every entry.
  HRESULT SelectFragmentForTime(LONGLONG mediaTime);
  // Called once "moov" is parsed: remembers where the fragments start and,
  // when "moov" holds samples of its own (a first fragment written there),
  // a copy of its tables, so that a jump back before the first indexed
  // fragment can bring them back.
  void KeepMovieTables();
  // Reverse play at the start of a table set that a jump loaded: jumps to
  // the fragment before it and finds its last sync sample. S_FALSE when
  // there is nothing before (no index, the set starts at 0, or no key
  // frame).
  HRESULT SelectPreviousFragment(LONGLONG* syncSample);
  // Loads fragments until the table set holds `sample` / reaches
  // `mediaTime`. S_OK when covered, else the status that stopped loading;
  // the tables decide what is there.
  HRESULT LoadFragmentsForSample(LONGLONG sample);
  HRESULT LoadFragmentsForTime(LONGLONG mediaTime);
  // One loading step: the top-level boxes from `fragmentScanPosition` up to
  // and including the next "mdat". Returns `fragmentScanStatus`, which any
  // non-zero result latches until SelectFragmentForTime jumps.
  HRESULT LoadNextFragmentGroup();
  // The "traf", "tfhd" and "trun" handlers, reading through the track's
  // byte source. ParseTrackFragment also counts `trafCountdown` down.
  HRESULT ParseTrackFragment(LONGLONG* position, LONGLONG* moofRemaining, Box& header);
  HRESULT ParseTrackFragmentHeader(LONGLONG* position, LONGLONG* trafRemaining, Box& header, DWORD* trackIdRead);
  // Appends the run to the current table set as one chunk (track_run.cc).
  HRESULT ParseTrackRun(LONGLONG* position, LONGLONG* trafRemaining, Box& header);
  // The decode time of a track fragment ("tfdt" or the Smooth Streaming
  // box); right after a jump it becomes `baseMediaTime` (fragment_times.cc).
  HRESULT ParseTrackFragmentDecodeTime(LONGLONG* position, LONGLONG* trafRemaining, Box& header);
  // Media time at which the fragment of the last index entry ends, read
  // from that fragment without touching the loader's state. S_FALSE and 0
  // without an index or when the entry points at no "moof".
  HRESULT GetIndexedEndTime(LONGLONG* endTime);

  // From "tkhd".
  DWORD trackId = 0;
  DWORD matrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  // From "mdhd".
  DWORD timescale = 1;
  ULONGLONG mediaDuration = 0;
  // Three letters and a NUL.
  char language[4] = {};
  // From "hdlr".
  DWORD handlerType = 0;
  // From the media header box in "minf" (MediaKind).
  DWORD mediaKind = kMediaKindNone;

  // Re-entrant. Taken by every table handler, lookup and fragment load;
  // innermost in the lock order (nothing else is acquired under it besides
  // the byte source's own read lock).
  CCritSec tableLock;
  std::unique_ptr<trakFragment> sampleTable;
  std::unique_ptr<SampleEntry> sampleEntry;

  // From "stts": the dominant sample delta in media units, or 0.
  LONGLONG defaultSampleDelta = 0;
  // From "stsd".
  DWORD stsdEntryCount = 0;
  Box sampleEntryHeader;
  DWORD hasSampleEntry = 0;
  ULONGLONG sampleEntryOffset = 0;

  // Media time of sample 0 of the current table set (0 for a plain track).
  LONGLONG baseMediaTime = 0;
  DWORD isFragmented = 0;
  // Typical sample duration in 100-ns units, set by the filter for the
  // fragmented paths.
  LONGLONG fixedSampleDuration = 0;
  // kPcmWholeChunkUnits, set by PreparePcmLayout.
  DWORD pcmFlags = 0;
  // The result of the last SampleToChunk made by GetSampleLocation.
  HRESULT lastLookupResult = S_OK;

  // Fragment reader state, guarded by tableLock. The scan reads the
  // top-level boxes after "moov" (or from a random-access entry's "moof").
  LONGLONG fragmentScanPosition = 0;
  LONGLONG fragmentScanRemaining = 0;
  HRESULT fragmentScanStatus = S_OK;
  LONGLONG nextDataOffset = 0;
  // Set by "trex"; the track's first run clears it and takes over the
  // table set from "moov".
  DWORD trexSeen = 0;
  DWORD trexSampleDescriptionIndex = 0;
  DWORD trexSampleDuration = 0;
  DWORD trexSampleSize = 0;
  DWORD trexSampleFlags = 0;
  // The defaults in force for the track fragment being loaded ("tfhd").
  DWORD fragmentSampleDescriptionIndex = 0;
  LONGLONG fragmentBaseDataOffset = 0;
  DWORD fragmentSampleDuration = 0;
  DWORD fragmentSampleSize = 0;
  DWORD fragmentSampleFlags = 0;
  // Where a random-access target lies in the fragment being loaded; they
  // move `baseMediaTime` so that the target gets the entry's time.
  DWORD trafCountdown = 0;
  DWORD trunCountdown = 0;
  DWORD sampleCountdown = 0;
  // Set by a jump until this track's first track fragment after it is
  // read: a fragment decode time met in it places the table set.
  DWORD fragmentTimePending = 0;
  // Decode times stated in fragments, less this, are times of the table
  // sets, which count from the track's first sample as 0 (some writers
  // start their fragment times below 0). Learnt from the first decode time
  // met while loading in file order.
  LONGLONG fragmentTimeOrigin = 0;
  DWORD fragmentTimeOriginKnown = 0;
  // Where the track fragment being read starts in the loaded table set.
  LONGLONG trackFragmentStartTime = 0;
  // Sorted by time.
  GrowableArray<RandomAccessEntry> randomAccessEntries;
  // The fragment reader's state right after "moov", with the tables read
  // there when they hold samples (KeepMovieTables).
  std::unique_ptr<trakFragment> movieTable;
  LONGLONG movieScanPosition = 0;
  LONGLONG movieScanRemaining = 0;
  DWORD movieTrexSeen = 0;

 private:
  // Where the last SampleToChunk landed, so that the next sample steps on
  // from there. It also remembers the byte offset of the last sample
  // located inside its chunk: sequential samples of a long chunk then cost
  // one addition each instead of a sum over the chunk so far.
  struct ChunkCache {
    DWORD tableId = 0;
    DWORD entryIndex = 0;
    LONGLONG sample = 0;
    LONGLONG samplesBefore = 0;
    LONGLONG locatedSample = -1;
    LONGLONG locatedChunk = -1;
    ULONGLONG locatedOffsetInChunk = 0;
  };
  // Where the last SampleNumberToTime landed.
  struct TimeCache {
    DWORD tableId = 0;
    DWORD entryIndex = 0;
    LONGLONG sample = 0;
    LONGLONG entryTime = 0;
    LONGLONG samplesBefore = 0;
  };
  // Whether `syncSamples` is ascending, checked once per table set (and
  // extended as runs append), so sync-sample tests can binary-search.
  struct SyncOrder {
    DWORD tableId = 0;
    ULONG checkedCount = 0;
    bool ascending = true;
  };

  // Track structure handlers (trak_box.cc): (position, the container's
  // remaining, the child header).
  HRESULT ParseTrackHeader(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseMedia(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseMediaHeader(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseHandler(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseMediaInformation(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseMediaKind(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT CreateSampleEntry();

  // Sample table handlers (sample_table.cc).
  HRESULT ParseSampleDescription(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseTimeToSample(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseSampleToChunk(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseSampleSize(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseCompactSampleSize(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseChunkOffset(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseChunkOffset64(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseSyncSample(LONGLONG* position, LONGLONG* remaining, Box& child);
  // The common shape of stts, stsc, stco, co64 and stss: an entry count, then
  // the entries, read into `table` of the current table set.
  template <class Table, class Store>
  HRESULT ReadCountedTable(LONGLONG* position, LONGLONG* remaining, Box& child, Table trakFragment::*table,
                           LONG entryBytes, Store store);
  void FindDefaultSampleDelta();
  // Every sample-to-chunk entry names description 1.
  bool OnlyFirstDescriptionUsed();
  // GetIndexedEndTime's reading of the last indexed fragment.
  HRESULT ScanIndexedEndTime(LONGLONG* endTime);

  // Lookup helpers (sample_lookup.cc), called under tableLock.
  bool SyncSamplesAscending();
  // For whoever rewrites `syncSamples` in place.
  void InvalidateSyncOrder() { syncOrder_ = {}; }
  // The index of the first sync-sample entry above `oneBasedSample`.
  ULONG FirstSyncEntryAbove(LONGLONG oneBasedSample);
  HRESULT PreviousSyncSampleLocked(LONGLONG sample, LONGLONG* syncSample);

  ComPtr<IAsyncReader> reader_;
  SampleEntryFactory entryFactory_;
  ChunkCache chunkCache_;
  TimeCache timeCache_;
  SyncOrder syncOrder_;
  struct IndexedEnd {
    bool known = false;
    HRESULT result = S_FALSE;
    LONGLONG time = 0;
  };
  IndexedEnd indexedEnd_;
};
