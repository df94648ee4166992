// The fragment loader of a fragmented track: reads the top-level boxes after
// "moov" a group at a time ("moof" ... "mdat"), hands this track's track
// fragments to the run handler (track_run.cc), and jumps to another
// fragment through the random-access index when a seek leaves the loaded
// runs. Every operation holds tableLock; each track scans the file on its
// own, through its own byte source.
#include "container/box_walk.h"
#include "container/fragment_flags.h"
#include "container/trak_box.h"
#include "platform/fourcc.h"

#include <new>

namespace {

// How far past the loaded runs a seek may land and still be reached by
// reading forward rather than by a jump: 5 s in 100-ns units.
constexpr LONGLONG kReadForwardWindow = 50000000;

LONGLONG WrappingAdd(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<ULONGLONG>(a) + static_cast<ULONGLONG>(b));
}

}  // namespace

HRESULT trakBox::LoadFragmentsForSample(LONGLONG sample) {
  // Set once while parsing, before any worker runs; the delivery loop asks
  // for every sample, and a plain track needs no lock for the answer.
  if (!isFragmented) return S_OK;
  CAutoLock lock(&tableLock);
  // Every successful step moves the scan forward through the file, so the
  // loop ends at the end of the source at the latest.
  for (;;) {
    if (sampleTable && (sample < 0 || sample < static_cast<LONGLONG>(sampleTable->sampleCount))) return S_OK;
    RETURN_IF_FAILED(LoadNextFragmentGroup());
  }
}

HRESULT trakBox::LoadFragmentsForTime(LONGLONG mediaTime) {
  CAutoLock lock(&tableLock);
  if (!isFragmented) return S_OK;
  for (;;) {
    if (sampleTable && mediaTime < WrappingAdd(baseMediaTime, sampleTable->totalDuration)) return S_OK;
    RETURN_IF_FAILED(LoadNextFragmentGroup());
  }
}

HRESULT trakBox::LoadNextFragmentGroup() {
  static constexpr ChildHandler<trakBox> kMovieFragmentChildren[] = {
      {FourCC("traf"), &trakBox::ParseTrackFragment},
  };
  // The callers hold the lock already; taking it again keeps a direct call
  // safe as well.
  CAutoLock lock(&tableLock);
  if (fragmentScanStatus != S_OK) return fragmentScanStatus;
  IAsyncReader* source = reader_.Get();
  LONGLONG* position = &fragmentScanPosition;
  LONGLONG* remaining = &fragmentScanRemaining;
  HRESULT status = S_OK;
  // A table that cannot grow raises; here that becomes the status, so the
  // callers (delivery threads among them) see a result and loading stops.
  try {
    for (;;) {
      // The top level used up (a box that ran to the end of the file, say)
      // is the end of the data.
      if (*remaining <= 0) {
        status = S_FALSE;
        break;
      }
      const LONGLONG boxStart = *position;
      Box header;
      status = header.ReadHeader(source, position, remaining);
      if (status != S_OK) break;
      if (header.type == FourCC("mdat")) {
        status = header.Skip(source, position, remaining);
        break;
      }
      if (header.type == FourCC("moof")) {
        // The default base of the first track fragment is the first byte of
        // the "moof"; taking it from where the header began also serves a
        // "moof" with a 64-bit size.
        nextDataOffset = boxStart;
        // Claiming the "moof" from the top level keeps position + remaining
        // within 64 bits whatever size the file declares.
        status = ClaimChild(remaining, header);
        if (status != S_OK) break;
        Box movieFragment(header);
        status = WalkChildren(*this, kMovieFragmentChildren, source, position, movieFragment);
        // A random-access target lies in its entry's own fragment; an entry
        // naming more than that fragment holds must not shift later ones.
        trafCountdown = 0;
        trunCountdown = 0;
        sampleCountdown = 0;
      } else {
        status = header.Skip(source, position, remaining);
      }
      if (status != S_OK || *remaining <= 0) break;
    }
  } catch (const ArrayError& error) {
    status = error.Result();
  }
  fragmentScanStatus = status;
  return status;
}

HRESULT trakBox::ParseTrackFragment(LONGLONG* position, LONGLONG* moofRemaining, Box& header) {
  if (trafCountdown != 0) --trafCountdown;
  RETURN_IF_FAILED(ClaimChild(moofRemaining, header));
  Box trackFragment(header);
  BoxWalk walk(reader_.Get(), position, trackFragment);
  // Runs count only after a "tfhd" named this track: a run ahead of it
  // would take another track's samples or stale defaults.
  bool ours = false;
  Box child;
  while (walk.Next(child)) {
    HRESULT hr = S_OK;
    if (child.type == FourCC("tfhd")) {
      DWORD trackIdRead = 0;
      hr = ParseTrackFragmentHeader(position, &trackFragment.size, child, &trackIdRead);
      if (hr == S_OK && trackIdRead != trackId) {
        trackFragment.Fields(reader_.Get(), position).SkipRest();
        return S_OK;
      }
      ours = true;
      trackFragmentStartTime = WrappingAdd(baseMediaTime, sampleTable ? sampleTable->totalDuration : 0);
    } else if (child.type == FourCC("trun") && ours) {
      if (trafCountdown == 0 && trunCountdown != 0) --trunCountdown;
      hr = ParseTrackRun(position, &trackFragment.size, child);
    } else if (ours && IsFragmentDecodeTimeBox(child)) {
      hr = ParseTrackFragmentDecodeTime(position, &trackFragment.size, child);
    } else {
      hr = walk.SkipChild(child);
    }
    if (hr != S_OK) return hr;
  }
  // Smooth Streaming writes its time box after the runs: it still places
  // the set, but only for this track's first track fragment.
  if (ours) fragmentTimePending = 0;
  return walk.Result();
}

HRESULT trakBox::ParseTrackFragmentHeader(LONGLONG* position, LONGLONG* trafRemaining, Box& header,
                                          DWORD* trackIdRead) {
  IAsyncReader* source = reader_.Get();
  FullBox box(header);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(source, position, trafRemaining));
  RETURN_IF_FAILED(ClaimChild(trafRemaining, box));
  BoxFieldReader fields = box.Fields(source, position);
  RETURN_IF_FAILED(fields.U32(trackIdRead));
  if (*trackIdRead == trackId) {
    CAutoLock lock(&tableLock);
    // Other base flags (default-base-is-moof among them) change nothing:
    // the base is where this track's previous run ended, or the "moof"
    // for its first track fragment there, which is what they describe for
    // the files written in practice.
    fragmentBaseDataOffset = nextDataOffset;
    fragmentSampleDescriptionIndex = trexSampleDescriptionIndex;
    fragmentSampleDuration = trexSampleDuration;
    fragmentSampleSize = trexSampleSize;
    fragmentSampleFlags = trexSampleFlags;
    if (box.flags & kTfhdBaseDataOffset) {
      RETURN_IF_FAILED(fields.I64(&fragmentBaseDataOffset));
      nextDataOffset = fragmentBaseDataOffset;
    }
    if (box.flags & kTfhdSampleDescriptionIndex) RETURN_IF_FAILED(fields.U32(&fragmentSampleDescriptionIndex));
    if (box.flags & kTfhdDefaultSampleDuration) RETURN_IF_FAILED(fields.U32(&fragmentSampleDuration));
    if (box.flags & kTfhdDefaultSampleSize) RETURN_IF_FAILED(fields.U32(&fragmentSampleSize));
    if (box.flags & kTfhdDefaultSampleFlags) RETURN_IF_FAILED(fields.U32(&fragmentSampleFlags));
    if (box.flags & kTfhdDurationIsEmpty) fragmentSampleDuration = 0;
  }
  fields.SkipRest();
  return S_OK;
}

void trakBox::KeepMovieTables() {
  CAutoLock lock(&tableLock);
  movieScanPosition = fragmentScanPosition;
  movieScanRemaining = fragmentScanRemaining;
  movieTrexSeen = trexSeen;
  movieTable.reset();
  if (!sampleTable || !sampleTable->HoldsSamples()) return;
  // Without the copy a jump back simply lands on the first indexed
  // fragment, as it does for a file whose "moov" holds no samples.
  movieTable.reset(new (std::nothrow) trakFragment());
  if (movieTable && movieTable->CopyTablesFrom(*sampleTable) != S_OK) movieTable.reset();
}

HRESULT trakBox::SelectFragmentForTime(LONGLONG mediaTime) {
  CAutoLock lock(&tableLock);
  if (!isFragmented || randomAccessEntries.Empty()) return S_OK;
  // Without a table set (a loading step failed) there is nothing to read
  // forward from: the jump reloads from the index.
  if (sampleTable) {
    const __int128 windowEnd = static_cast<__int128>(baseMediaTime) + sampleTable->totalDuration +
                               ReferenceToMediaTime(kReadForwardWindow);
    if (baseMediaTime <= mediaTime && mediaTime < windowEnd) return S_OK;
  }
  // The index counts in the fragments' own times.
  const LONGLONG indexTime = WrappingAdd(mediaTime, fragmentTimeOrigin);
  // The samples ahead of the first indexed fragment are those of "moov":
  // its tables come back, and loading goes on after "moov" as at the start.
  if (movieTable && indexTime < randomAccessEntries.Data()[0].time) {
    std::unique_ptr<trakFragment> restored(new (std::nothrow) trakFragment());
    if (!restored) return E_OUTOFMEMORY;
    RETURN_IF_FAILED(restored->CopyTablesFrom(*movieTable));
    sampleTable = std::move(restored);
    fragmentScanStatus = S_OK;
    fragmentScanPosition = movieScanPosition;
    fragmentScanRemaining = movieScanRemaining;
    baseMediaTime = 0;
    trexSeen = movieTrexSeen;
    trafCountdown = 0;
    trunCountdown = 0;
    sampleCountdown = 0;
    fragmentTimePending = 0;
    return S_OK;
  }
  const RandomAccessEntry entry = randomAccessEntries.Data()[FindRandomAccessEntry(randomAccessEntries, indexTime)];
  sampleTable.reset();
  fragmentScanStatus = S_OK;
  fragmentScanPosition = entry.fragmentOffset;
  // Unbounded, yet position + remaining stays within 64 bits.
  fragmentScanRemaining = entry.fragmentOffset >= 0 ? INT64_MAX - entry.fragmentOffset : 0;
  baseMediaTime = WrappingAdd(entry.time, -fragmentTimeOrigin);
  trafCountdown = entry.trafNumber;
  trunCountdown = entry.trunNumber;
  sampleCountdown = entry.sampleNumber;
  fragmentTimePending = 1;
  return LoadNextFragmentGroup();
}

HRESULT trakBox::SelectPreviousFragment(LONGLONG* syncSample) {
  CAutoLock lock(&tableLock);
  *syncSample = 0;
  if (!isFragmented || randomAccessEntries.Empty() || baseMediaTime <= 0) return S_FALSE;
  const LONGLONG setStart = baseMediaTime;
  const LONGLONG before = setStart - 1;
  SelectFragmentForTime(before);
  LoadFragmentsForTime(before);
  // An index that leads back to the same place ends the walk rather than
  // repeating it.
  if (!sampleTable || baseMediaTime >= setStart) return S_FALSE;
  return PreviousSyncSampleAtTime(before, syncSample);
}