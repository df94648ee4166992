// Times a fragmented track takes from the fragments themselves: the decode
// time a track fragment declares ("tfdt", or Smooth Streaming's own box),
// which places a table set loaded after a random-access jump, and the end
// of the last indexed fragment, which gives the movie a length when no
// header states one.
#include "container/box_walk.h"
#include "container/fragment_flags.h"
#include "container/trak_box.h"
#include "platform/fourcc.h"

#include <algorithm>
#include <cstring>

namespace {

// The Smooth Streaming fragment time box: a "uuid" box with this user type.
constexpr BYTE kFragmentTimeUserType[16] = {0x6D, 0x1D, 0x9B, 0x05, 0x42, 0xD5, 0x44, 0xE6,
                                            0x80, 0xE2, 0x14, 0x1D, 0xAF, 0xF7, 0x57, 0xB2};

// Duration, size, flags and composition offset: the fields per sample.
constexpr DWORD kTrunPerSampleFields = 0x000F00;
constexpr LONGLONG kFieldBytes = 4;

LONGLONG WrappingAdd(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<ULONGLONG>(a) + static_cast<ULONGLONG>(b));
}

// Adds a run's durations to *total, and to *beforeTarget those of its first
// `ahead` samples and the composition offset of sample `target` (1-based;
// 0 when the run does not hold the target), as a jump to it would.
HRESULT AddRunDurations(const FullBox& run, BoxFieldReader& fields, DWORD defaultDuration, DWORD ahead,
                        DWORD target, LONGLONG* total, LONGLONG* beforeTarget) {
  DWORD count = 0;
  RETURN_IF_FAILED(fields.U32(&count));
  if (run.flags & kTrunDataOffset) RETURN_IF_FAILED(fields.Skip(kFieldBytes));
  if (run.flags & kTrunFirstSampleFlags) RETURN_IF_FAILED(fields.Skip(kFieldBytes));
  ahead = std::min(ahead, count);
  if ((run.flags & kTrunPerSampleFields) == 0) {
    *total = WrappingAdd(*total, LONGLONG{count} * defaultDuration);
    *beforeTarget = WrappingAdd(*beforeTarget, LONGLONG{ahead} * defaultDuration);
    return S_OK;
  }
  // One read per sample: a count the box cannot hold ends at its end.
  for (DWORD i = 0; i < count; ++i) {
    DWORD duration = defaultDuration, unused = 0, compositionOffset = 0;
    if (run.flags & kTrunSampleDuration) RETURN_IF_FAILED(fields.U32(&duration));
    if (run.flags & kTrunSampleSize) RETURN_IF_FAILED(fields.U32(&unused));
    if (run.flags & kTrunSampleFlags) RETURN_IF_FAILED(fields.U32(&unused));
    if (run.flags & kTrunSampleCompositionOffset) RETURN_IF_FAILED(fields.U32(&compositionOffset));
    if (i < ahead) *beforeTarget = WrappingAdd(*beforeTarget, duration);
    if (i + 1 == target) *beforeTarget = WrappingAdd(*beforeTarget, CompositionOffset(run.version, compositionOffset));
    *total = WrappingAdd(*total, duration);
  }
  return S_OK;
}

}  // namespace

bool IsFragmentDecodeTimeBox(const Box& box) {
  return box.type == FourCC("tfdt") ||
         (box.type == kUuidBoxType && std::memcmp(box.userType, kFragmentTimeUserType, sizeof box.userType) == 0);
}

HRESULT trakBox::ParseTrackFragmentDecodeTime(LONGLONG* position, LONGLONG* trafRemaining, Box& header) {
  FullBox box(header);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(reader_.Get(), position, trafRemaining));
  RETURN_IF_FAILED(ClaimChild(trafRemaining, box));
  BoxFieldReader fields = box.Fields(reader_.Get(), position);
  ULONGLONG decodeTime = 0;
  RETURN_IF_FAILED(fields.VersionedU64(box.version, &decodeTime));
  fields.SkipRest();
  CAutoLock lock(&tableLock);
  // Index entries carry presentation times, often rounded, while the
  // fragment states its own decode time exactly: after a jump that time
  // places the table set, and the index only chose the fragment.
  if (fragmentTimePending) {
    fragmentTimePending = 0;
    baseMediaTime = WrappingAdd(static_cast<LONGLONG>(decodeTime), -fragmentTimeOrigin);
    sampleCountdown = 0;
  } else if (!fragmentTimeOriginKnown) {
    fragmentTimeOrigin = WrappingAdd(static_cast<LONGLONG>(decodeTime), -trackFragmentStartTime);
    fragmentTimeOriginKnown = 1;
  }
  return S_OK;
}

HRESULT trakBox::GetIndexedEndTime(LONGLONG* endTime) {
  CAutoLock lock(&tableLock);
  // The index does not change once read; the scan runs once.
  if (!indexedEnd_.known) {
    indexedEnd_.result = ScanIndexedEndTime(&indexedEnd_.time);
    indexedEnd_.known = true;
  }
  *endTime = indexedEnd_.time;
  return indexedEnd_.result;
}

HRESULT trakBox::ScanIndexedEndTime(LONGLONG* endTime) {
  *endTime = 0;
  if (!isFragmented || randomAccessEntries.Empty()) return S_FALSE;
  const RandomAccessEntry& last = randomAccessEntries.Last();
  IAsyncReader* source = reader_.Get();
  LONGLONG position = last.fragmentOffset;
  LONGLONG remaining = last.fragmentOffset >= 0 ? INT64_MAX - last.fragmentOffset : 0;
  Box moof;
  RETURN_IF_FAILED(moof.ReadHeader(source, &position, &remaining));
  if (moof.type != FourCC("moof")) return S_FALSE;
  RETURN_IF_FAILED(ClaimChild(&remaining, moof));

  // This track's sample durations in the fragment, those ahead of the
  // entry's target sample (whose time the entry gives), and the decode time
  // the fragment states, which is preferred.
  LONGLONG total = 0;
  LONGLONG beforeTarget = 0;
  ULONGLONG decodeTime = 0;
  bool hasDecodeTime = false;
  DWORD trafNumber = 0;
  BoxWalk moofWalk(source, &position, moof);
  Box traf;
  while (moofWalk.Next(traf)) {
    if (traf.type != FourCC("traf")) {
      RETURN_IF_FAILED(moofWalk.SkipChild(traf));
      continue;
    }
    ++trafNumber;
    RETURN_IF_FAILED(ClaimChild(&moof.size, traf));
    BoxWalk trafWalk(source, &position, traf);
    DWORD defaultDuration = trexSampleDuration;
    bool ours = false;
    DWORD trunNumber = 0;
    Box child;
    while (trafWalk.Next(child)) {
      const bool tfhd = child.type == FourCC("tfhd");
      const bool run = ours && child.type == FourCC("trun");
      const bool time = ours && IsFragmentDecodeTimeBox(child);
      if (!tfhd && !run && !time) {
        RETURN_IF_FAILED(trafWalk.SkipChild(child));
        continue;
      }
      FullBox box(child);
      RETURN_IF_FAILED(box.ReadVersionAndFlags(source, &position, &traf.size));
      RETURN_IF_FAILED(ClaimChild(&traf.size, box));
      BoxFieldReader fields = box.Fields(source, &position);
      if (tfhd) {
        DWORD id = 0;
        RETURN_IF_FAILED(fields.U32(&id));
        ours = id == trackId;
        if (box.flags & kTfhdBaseDataOffset) RETURN_IF_FAILED(fields.Skip(2 * kFieldBytes));
        if (box.flags & kTfhdSampleDescriptionIndex) RETURN_IF_FAILED(fields.Skip(kFieldBytes));
        if (box.flags & kTfhdDefaultSampleDuration) RETURN_IF_FAILED(fields.U32(&defaultDuration));
        if (box.flags & kTfhdDurationIsEmpty) defaultDuration = 0;
      } else if (time) {
        RETURN_IF_FAILED(fields.VersionedU64(box.version, &decodeTime));
        hasDecodeTime = true;
      } else {
        ++trunNumber;
        const bool targetTraf = trafNumber == last.trafNumber;
        const bool targetRun = targetTraf && trunNumber == last.trunNumber;
        DWORD ahead = 0;
        if (trafNumber < last.trafNumber || (targetTraf && trunNumber < last.trunNumber)) ahead = UINT32_MAX;
        if (targetRun) ahead = last.sampleNumber > 0 ? last.sampleNumber - 1 : 0;
        const DWORD target = targetRun ? std::max<DWORD>(last.sampleNumber, 1) : 0;
        RETURN_IF_FAILED(AddRunDurations(box, fields, defaultDuration, ahead, target, &total, &beforeTarget));
      }
      fields.SkipRest();
    }
    RETURN_IF_FAILED(trafWalk.Result());
  }
  const LONGLONG start = hasDecodeTime ? static_cast<LONGLONG>(decodeTime) : WrappingAdd(last.time, -beforeTarget);
  *endTime = WrappingAdd(WrappingAdd(start, total), -fragmentTimeOrigin);
  return S_OK;
}
