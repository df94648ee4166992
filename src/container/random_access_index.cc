// "mfro", "mfra" and "tfra": the random-access index read from the end of
// a fragmented file once it has been parsed.
#include "container/random_access_index.h"

#include "container/box_walk.h"
#include "container/dar_edo_source.h"
#include "platform/fourcc.h"

#include <algorithm>

namespace {

// An "mfro" is a full box with one 32-bit field: 16 bytes in all.
constexpr LONGLONG kMfroBoxBytes = 16;
constexpr LONG kLongEntryTimeAndOffsetBytes = 16;
constexpr LONG kShortEntryTimeAndOffsetBytes = 8;
// Three numbers of at most 4 bytes each after the time and offset.
constexpr LONG kMaxEntryBytes = kLongEntryTimeAndOffsetBytes + 3 * 4;

// Byte width of one of the three numbers: two bits of the length-size word,
// holding the width minus 1.
LONG NumberWidth(DWORD lengthSizes, int shift) { return static_cast<LONG>((lengthSizes >> shift) & 0x3) + 1; }

DWORD LoadBigEndianN(const BYTE* bytes, LONG width) {
  DWORD value = 0;
  for (LONG i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return value;
}

// Whether a "moof" header starts at `offset`. Entries that point elsewhere
// (one muxer writes a last entry with offset 0) would restart the loader on
// bytes that are no fragment.
bool HoldsMovieFragment(IAsyncReader* reader, LONGLONG offset, LONGLONG total) {
  if (offset < 0 || offset > total - kBoxHeaderSize) return false;
  BYTE header[kBoxHeaderSize] = {};
  if (reader->SyncRead(offset, sizeof header, header) != S_OK) return false;
  return LoadBigEndian32(header + 4) == FourCC("moof") && LoadBigEndian32(header) != 0;
}

// The type of the box whose header starts at `offset`, read before any rule
// on its size: bytes that merely happen to sit where an index box could be
// (the tail of a sample table, a "free" box) are no index and no error.
HRESULT PeekBoxType(IAsyncReader* reader, LONGLONG offset, DWORD* type) {
  BYTE header[kBoxHeaderSize] = {};
  const HRESULT hr = reader->SyncRead(offset, sizeof header, header);
  if (hr != S_OK) return hr;
  *type = LoadBigEndian32(header + 4);
  return S_OK;
}

}  // namespace

ULONG FindRandomAccessEntry(const GrowableArray<RandomAccessEntry>& entries, LONGLONG mediaTime) {
  const RandomAccessEntry* data = entries.Data();
  LONGLONG low = 0;
  LONGLONG high = static_cast<LONGLONG>(entries.Count()) - 1;
  while (low <= high) {
    const LONGLONG mid = low + (high - low) / 2;
    if (data[mid].time == mediaTime) return static_cast<ULONG>(mid);
    if (data[mid].time < mediaTime) {
      low = mid + 1;
    } else {
      high = mid - 1;
    }
  }
  return high < 0 ? 0 : static_cast<ULONG>(high);
}

HRESULT CDarEdoSource::FindMovieFragmentRandomAccess() {
  LONGLONG total = 0;
  LONGLONG available = 0;
  RETURN_IF_FAILED(reader->Length(&total, &available));
  if (available < total) return S_OK;
  // Too short to end with an "mfro": no index, rather than a read before
  // the start of the source.
  if (total < kMfroBoxBytes) return S_OK;

  LONGLONG position = total - kMfroBoxBytes;
  LONGLONG remaining = kMfroBoxBytes;
  DWORD type = 0;
  HRESULT hr = PeekBoxType(reader.Get(), position, &type);
  if (hr != S_OK || type != FourCC("mfro")) return hr;
  Box header;
  RETURN_IF_FAILED(header.ReadHeader(reader.Get(), &position, &remaining));
  if (header.type != FourCC("mfro")) return S_OK;
  FullBox mfro(header);
  RETURN_IF_FAILED(mfro.ReadVersionAndFlags(reader.Get(), &position, &remaining));
  RETURN_IF_FAILED(ClaimChild(&remaining, mfro));
  DWORD indexSize = 0;
  RETURN_IF_FAILED(mfro.Fields(reader.Get(), &position).U32(&indexSize));

  // A size that would put the index before the start of the file (or
  // inside its own header) names no box: the file simply has no usable
  // index, which must not fail a file that plays without one.
  if (indexSize < kBoxHeaderSize || indexSize > total) return S_OK;
  position = total - indexSize;
  remaining = indexSize;
  hr = PeekBoxType(reader.Get(), position, &type);
  if (hr != S_OK || type != FourCC("mfra")) return hr;
  hr = header.ReadHeader(reader.Get(), &position, &remaining);
  if (hr != S_OK) return hr;
  static constexpr ChildHandler<CDarEdoSource> kRandomAccessChildren[] = {
      {FourCC("tfra"), &CDarEdoSource::ParseTrackFragmentRandomAccess},
  };
  Box mfra(header);
  hr = WalkChildren(*this, kRandomAccessChildren, reader.Get(), &position, mfra);
  std::vector<LONGLONG>().swap(checkedFragments_);
  return hr;
}

HRESULT CDarEdoSource::ParseTrackFragmentRandomAccess(LONGLONG* position, LONGLONG* remaining, Box& child) {
  FullBox box(child);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(reader.Get(), position, remaining));
  RETURN_IF_FAILED(ClaimChild(remaining, box));
  BoxFieldReader fields = box.Fields(reader.Get(), position);
  DWORD trackId = 0;
  RETURN_IF_FAILED(fields.U32(&trackId));
  trakBox* track = FindTrack(trackId);
  if (track == nullptr) {
    fields.SkipRest();
    return S_OK;
  }
  DWORD lengthSizes = 0;
  DWORD count = 0;
  RETURN_IF_FAILED(fields.U32(&lengthSizes));
  RETURN_IF_FAILED(fields.U32(&count));
  const LONG trafWidth = NumberWidth(lengthSizes, 4);
  const LONG trunWidth = NumberWidth(lengthSizes, 2);
  const LONG sampleWidth = NumberWidth(lengthSizes, 0);
  const bool longFields = box.version == 1;
  const LONG entryBytes =
      (longFields ? kLongEntryTimeAndOffsetBytes : kShortEntryTimeAndOffsetBytes) + trafWidth + trunWidth + sampleWidth;
  LONGLONG total = 0;
  LONGLONG available = 0;
  if (FAILED(reader->Length(&total, &available))) total = INT64_MAX;
  // The count is the file's: the entries must fit in the box, and in the
  // source (a box's size is bounded only by its parent's), before anything
  // is allocated for them.
  const ULONGLONG tableBytes = static_cast<ULONGLONG>(count) * entryBytes;
  if (tableBytes > static_cast<ULONGLONG>(std::max<LONGLONG>(fields.Remaining(), 0))) return STG_E_INVALIDHEADER;
  if (tableBytes > static_cast<ULONGLONG>(std::max<LONGLONG>(total - *position, 0))) return S_FALSE;
  CAutoLock lock(&track->tableLock);
  GrowableArray<RandomAccessEntry>& entries = track->randomAccessEntries;
  if (entries.SetCount(count) != S_OK) return E_OUTOFMEMORY;
  ULONG read = 0;
  HRESULT hr = S_OK;
  for (; read < count; ++read) {
    BYTE bytes[kMaxEntryBytes];
    hr = fields.Bytes(bytes, entryBytes);
    if (hr != S_OK) break;
    RandomAccessEntry entry{};
    const BYTE* at = bytes;
    if (longFields) {
      entry.time = static_cast<LONGLONG>(LoadBigEndian64(at));
      entry.fragmentOffset = static_cast<LONGLONG>(LoadBigEndian64(at + 8));
      at += kLongEntryTimeAndOffsetBytes;
    } else {
      entry.time = LoadBigEndian32(at);
      entry.fragmentOffset = LoadBigEndian32(at + 4);
      at += kShortEntryTimeAndOffsetBytes;
    }
    entry.trafNumber = LoadBigEndianN(at, trafWidth);
    entry.trunNumber = LoadBigEndianN(at + trafWidth, trunWidth);
    entry.sampleNumber = LoadBigEndianN(at + trafWidth + trunWidth, sampleWidth);
    entries.Data()[read] = entry;
  }
  // The fragments are checked once the table is read: a check between two
  // entries would cost the table's cached block each time. Several entries
  // usually share a fragment; its header is checked once.
  ULONG kept = 0;
  LONGLONG checkedOffset = -1;
  bool checkedHoldsFragment = false;
  const auto earlier = static_cast<std::ptrdiff_t>(checkedFragments_.size());
  for (ULONG i = 0; i < read; ++i) {
    const RandomAccessEntry entry = entries.Data()[i];
    if (entry.fragmentOffset != checkedOffset) {
      checkedOffset = entry.fragmentOffset;
      checkedHoldsFragment =
          std::binary_search(checkedFragments_.begin(), checkedFragments_.begin() + earlier, checkedOffset);
      if (!checkedHoldsFragment && HoldsMovieFragment(reader.Get(), checkedOffset, total)) {
        checkedHoldsFragment = true;
        checkedFragments_.push_back(checkedOffset);
      }
    }
    if (checkedHoldsFragment) entries.Data()[kept++] = entry;
  }
  std::sort(checkedFragments_.begin() + earlier, checkedFragments_.end());
  std::inplace_merge(checkedFragments_.begin(), checkedFragments_.begin() + earlier, checkedFragments_.end());
  // Only entries read whole stay: a zeroed one would send a seek to the
  // start of the file. Stable, so that equal times keep their file order.
  entries.SetCount(kept);
  std::stable_sort(entries.Data(), entries.Data() + kept,
                   [](const RandomAccessEntry& a, const RandomAccessEntry& b) { return a.time < b.time; });
  RETURN_IF_FAILED(hr);
  fields.SkipRest();
  return S_OK;
}
