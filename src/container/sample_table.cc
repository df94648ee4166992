#include "container/sample_table.h"

#include "container/box_walk.h"
#include "container/trak_box.h"
#include "diagnostics/trace.h"
#include "platform/fourcc.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <unordered_map>

namespace {

std::atomic<DWORD> g_lastFragmentId{0};

DWORD NextFragmentId() {
  DWORD id = ++g_lastFragmentId;
  if (id == 0) id = ++g_lastFragmentId;
  return id;
}

constexpr LONGLONG kStz2ReservedBytes = 3;
// Table entries are read in blocks of this many bytes: a multiple of every
// entry width (4, 8, 12), so no entry straddles two blocks.
constexpr LONG kTableBlockBytes = 12 * 1024;

// Opens a table box: version and flags, then the box must fit in what its
// parent has left.
HRESULT OpenFullBox(FullBox& box, IAsyncReader* reader, LONGLONG* position, LONGLONG* remaining) {
  RETURN_IF_FAILED(box.ReadVersionAndFlags(reader, position, remaining));
  return ClaimChild(remaining, box);
}

// A table's count comes from the file, so before anything is allocated for
// it the entries must fit in the box (STG_E_INVALIDHEADER) and in the
// source itself: box sizes are bounded only by their parents, and a table
// past the end of the source is refused with the result a short read gives.
HRESULT CheckTableFits(const BoxFieldReader& fields, IAsyncReader* reader, ULONGLONG count, ULONGLONG entryBytes) {
  const unsigned __int128 bytes = static_cast<unsigned __int128>(count) * entryBytes;
  if (fields.Remaining() < 0 || bytes > static_cast<ULONGLONG>(fields.Remaining())) return STG_E_INVALIDHEADER;
  LONGLONG total = 0;
  LONGLONG available = 0;
  if (SUCCEEDED(reader->Length(&total, &available)) && total >= 0 &&
      (fields.Position() > total || bytes > static_cast<ULONGLONG>(total - fields.Position()))) {
    return S_FALSE;
  }
  return S_OK;
}

// Reads `count` entries of `entryBytes` each, block by block, handing each
// entry's bytes to `store(index, bytes)`, which returns a result.
template <class Store>
HRESULT ReadEntries(BoxFieldReader& fields, ULONG count, LONG entryBytes, Store store) {
  BYTE block[kTableBlockBytes];
  const ULONG entriesPerBlock = kTableBlockBytes / entryBytes;
  for (ULONG first = 0; first < count;) {
    const ULONG entries = std::min(entriesPerBlock, count - first);
    RETURN_IF_FAILED(fields.Bytes(block, static_cast<LONG>(entries) * entryBytes));
    for (ULONG i = 0; i < entries; ++i) RETURN_IF_FAILED(store(first + i, block + static_cast<size_t>(i) * entryBytes));
    first += entries;
  }
  return S_OK;
}

LONGLONG WrappingAdd(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<ULONGLONG>(a) + static_cast<ULONGLONG>(b));
}

// One decoded entry into its table; a packed table may have to widen.
template <class Entry, class Store>
HRESULT StoreEntry(GrowableArray<Entry>& entries, ULONG i, const BYTE* bytes, Store& store) {
  store(entries.Data()[i], bytes);
  return S_OK;
}
template <class Value, unsigned kMinWidth, class Store>
HRESULT StoreEntry(PackedArray<Value, kMinWidth>& entries, ULONG i, const BYTE* bytes, Store& store) {
  Value value = 0;
  store(value, bytes);
  return entries.Set(i, value);
}

}  // namespace

trakFragment::trakFragment() : fragmentId(NextFragmentId()) {}

trakFragment::~trakFragment() = default;

size_t trakFragment::TableBytes() const {
  return sampleSizes.StorageBytes() + sampleToChunk.StorageBytes() + chunkOffsets.StorageBytes() +
         syncSamples.StorageBytes() + timeToSample.StorageBytes();
}

bool trakFragment::HoldsSamples() const {
  return sampleCount != 0 && !sampleToChunk.Empty() && !chunkOffsets.Empty();
}

namespace {

template <class Entry>
HRESULT CopyEntries(GrowableArray<Entry>& to, const GrowableArray<Entry>& from) {
  if (to.SetCount(from.Count()) != S_OK) return E_OUTOFMEMORY;
  if (!from.Empty()) std::memcpy(to.Data(), from.Data(), static_cast<size_t>(from.Count()) * sizeof(Entry));
  return S_OK;
}

}  // namespace

HRESULT trakFragment::CopyTablesFrom(const trakFragment& other) {
  sampleCount = other.sampleCount;
  totalDuration = other.totalDuration;
  constantSampleSize = other.constantSampleSize;
  RETURN_IF_FAILED(sampleSizes.CopyFrom(other.sampleSizes));
  RETURN_IF_FAILED(CopyEntries(sampleToChunk, other.sampleToChunk));
  RETURN_IF_FAILED(chunkOffsets.CopyFrom(other.chunkOffsets));
  RETURN_IF_FAILED(CopyEntries(syncSamples, other.syncSamples));
  return CopyEntries(timeToSample, other.timeToSample);
}

HRESULT trakBox::ParseSampleTable(LONGLONG* position, LONGLONG* remaining, Box& stbl) {
  static constexpr ChildHandler<trakBox> kSampleTableChildren[] = {
      {FourCC("stsd"), &trakBox::ParseSampleDescription}, {FourCC("stts"), &trakBox::ParseTimeToSample},
      {FourCC("stsc"), &trakBox::ParseSampleToChunk},     {FourCC("stsz"), &trakBox::ParseSampleSize},
      {FourCC("stz2"), &trakBox::ParseCompactSampleSize}, {FourCC("stco"), &trakBox::ParseChunkOffset},
      {FourCC("co64"), &trakBox::ParseChunkOffset64},     {FourCC("stss"), &trakBox::ParseSyncSample},
  };
  RETURN_IF_FAILED(ClaimChild(remaining, stbl));
  RETURN_IF_FAILED(WalkChildren(*this, kSampleTableChildren, reader_.Get(), position, stbl));
  if (stsdEntryCount > 1 && !OnlyFirstDescriptionUsed()) {
    DMX_TRACE("\nDAREdo: Cannot handle tracks with more than one sample type!");
    hasSampleEntry = 0;
  }
  return S_OK;
}

// Muxers write several descriptions where one would do and then use only
// the first; such a track plays with entry 1. The chunk table may come
// after "stsd", so this is decided once the whole "stbl" is read.
bool trakBox::OnlyFirstDescriptionUsed() {
  CAutoLock lock(&tableLock);
  if (!sampleTable) return false;
  const GrowableArray<SampleToChunkEntry>& chunks = sampleTable->sampleToChunk;
  for (ULONG i = 0; i < chunks.Count(); ++i) {
    if (chunks.Data()[i].sampleDescriptionIndex != 1) return false;
  }
  return true;
}

HRESULT trakBox::ParseSampleDescription(LONGLONG* position, LONGLONG* remaining, Box& child) {
  FullBox box(child);
  RETURN_IF_FAILED(OpenFullBox(box, reader_.Get(), position, remaining));
  BoxFieldReader fields = box.Fields(reader_.Get(), position);
  RETURN_IF_FAILED(fields.U32(&stsdEntryCount));
  // More than one entry is judged by the chunk table once "stbl" is read.
  if (stsdEntryCount == 0) {
    DMX_TRACE("\nDAREdo: Cannot handle tracks with more than one sample type!");
    fields.SkipRest();
    return S_OK;
  }
  if (box.size <= 0) {
    DMX_TRACE("\nDAREdo: Warning! This track has stsd box with no data...");
    return S_OK;
  }
  const LONGLONG entryStart = *position;
  const LONGLONG payloadLeft = box.size;
  RETURN_IF_FAILED(sampleEntryHeader.ReadHeader(reader_.Get(), position, &box.size));
  // An entry of declared size 0 is the rest of the "stsd". Its header read
  // used up the "stsd" count without moving past the entry: the count gets
  // the entry back, so that the walk of "stbl" goes on after the "stsd".
  if (sampleEntryHeader.extendsToEnd) {
    sampleEntryHeader.extendsToEnd = FALSE;
    sampleEntryHeader.size = payloadLeft - (*position - entryStart);
    box.size = sampleEntryHeader.size;
  }
  hasSampleEntry = 1;
  sampleEntryOffset = static_cast<ULONGLONG>(*position);
  fields.SkipRest();
  return S_OK;
}

template <class Table, class Store>
HRESULT trakBox::ReadCountedTable(LONGLONG* position, LONGLONG* remaining, Box& child, Table trakFragment::*table,
                                  LONG entryBytes, Store store) {
  CAutoLock lock(&tableLock);
  FullBox box(child);
  RETURN_IF_FAILED(OpenFullBox(box, reader_.Get(), position, remaining));
  if (!sampleTable) return E_UNEXPECTED;
  BoxFieldReader fields = box.Fields(reader_.Get(), position);
  DWORD count = 0;
  RETURN_IF_FAILED(fields.U32(&count));
  RETURN_IF_FAILED(CheckTableFits(fields, reader_.Get(), count, static_cast<ULONGLONG>(entryBytes)));
  Table& entries = (*sampleTable).*table;
  if (entries.SetCount(count) != S_OK) return E_OUTOFMEMORY;
  RETURN_IF_FAILED(ReadEntries(fields, count, entryBytes,
                               [&](ULONG i, const BYTE* bytes) { return StoreEntry(entries, i, bytes, store); }));
  fields.SkipRest();
  return S_OK;
}

HRESULT trakBox::ParseTimeToSample(LONGLONG* position, LONGLONG* remaining, Box& child) {
  RETURN_IF_FAILED(ReadCountedTable(position, remaining, child, &trakFragment::timeToSample,
                                    sizeof(TimeToSampleEntry), [this](TimeToSampleEntry& entry, const BYTE* bytes) {
    trakFragment& table = *sampleTable;
    entry.count = LoadBigEndian32(bytes);
    entry.sampleDelta = static_cast<LONG>(LoadBigEndian32(bytes + 4));
    const LONGLONG product = static_cast<LONGLONG>(entry.count) * entry.sampleDelta;
    // A negative delta is kept only while the running total stays at or
    // above zero; a total that would wrap counts as negative too.
    const LONGLONG total = WrappingAdd(table.totalDuration, product);
    const bool wrapped = (product > 0 && total < table.totalDuration);
    if (total < 0 || wrapped) {
      entry.sampleDelta = 0;
    } else {
      table.totalDuration = total;
    }
    table.sampleCount += entry.count;
  }));
  FindDefaultSampleDelta();
  return S_OK;
}

// The dominant delta: the positive delta whose entries, counted from its
// first occurrence not already the best, cover the most samples; the
// earlier one wins a tie. The suffix sums come from per-delta running
// totals, so a table of many distinct deltas costs linear time.
void trakBox::FindDefaultSampleDelta() {
  const GrowableArray<TimeToSampleEntry>& entries = sampleTable->timeToSample;
  const ULONG count = entries.Count();
  std::unordered_map<LONG, DWORD> totalByDelta;
  for (ULONG i = 0; i < count; ++i) {
    const TimeToSampleEntry& entry = entries.Data()[i];
    if (entry.sampleDelta > 0) totalByDelta[entry.sampleDelta] += entry.count;
  }
  std::unordered_map<LONG, DWORD> countedBefore;
  LONG bestDelta = 0;
  DWORD bestTotal = 0;
  for (ULONG i = 0; i < count; ++i) {
    const TimeToSampleEntry& entry = entries.Data()[i];
    if (entry.sampleDelta <= 0) continue;
    DWORD& before = countedBefore[entry.sampleDelta];
    // 32-bit sums, as the totals are kept.
    const DWORD fromHere = totalByDelta[entry.sampleDelta] - before;
    before += entry.count;
    if (entry.sampleDelta == bestDelta) continue;
    if (fromHere > bestTotal) {
      bestDelta = entry.sampleDelta;
      bestTotal = fromHere;
    }
  }
  defaultSampleDelta = bestTotal >= count / 2 ? bestDelta : 0;
}

HRESULT trakBox::ParseSampleToChunk(LONGLONG* position, LONGLONG* remaining, Box& child) {
  return ReadCountedTable(position, remaining, child, &trakFragment::sampleToChunk, sizeof(SampleToChunkEntry),
                          [](SampleToChunkEntry& entry, const BYTE* bytes) {
                            entry = {LoadBigEndian32(bytes), LoadBigEndian32(bytes + 4), LoadBigEndian32(bytes + 8)};
                          });
}

HRESULT trakBox::ParseSampleSize(LONGLONG* position, LONGLONG* remaining, Box& child) {
  CAutoLock lock(&tableLock);
  FullBox box(child);
  RETURN_IF_FAILED(OpenFullBox(box, reader_.Get(), position, remaining));
  if (!sampleTable) return E_UNEXPECTED;
  BoxFieldReader fields = box.Fields(reader_.Get(), position);
  trakFragment& table = *sampleTable;
  DWORD count = 0;
  RETURN_IF_FAILED(fields.U32(&table.constantSampleSize));
  RETURN_IF_FAILED(fields.U32(&count));
  if (table.constantSampleSize == 0) {
    RETURN_IF_FAILED(CheckTableFits(fields, reader_.Get(), count, sizeof(DWORD)));
    if (table.sampleSizes.SetCount(count) != S_OK) return E_OUTOFMEMORY;
    // The largest table of a track: a block at a time, converted in place
    // and stored at once.
    DWORD sizes[kTableBlockBytes / sizeof(DWORD)];
    for (ULONG first = 0; first < count;) {
      const ULONG entries = std::min<ULONG>(std::size(sizes), count - first);
      RETURN_IF_FAILED(fields.Bytes(sizes, static_cast<LONG>(entries * sizeof(DWORD))));
      for (ULONG i = 0; i < entries; ++i) sizes[i] = LoadBigEndian32(reinterpret_cast<const BYTE*>(&sizes[i]));
      RETURN_IF_FAILED(table.sampleSizes.SetRange(first, sizes, entries));
      first += entries;
    }
  }
  fields.SkipRest();
  return S_OK;
}

HRESULT trakBox::ParseCompactSampleSize(LONGLONG* position, LONGLONG* remaining, Box& child) {
  CAutoLock lock(&tableLock);
  FullBox box(child);
  RETURN_IF_FAILED(OpenFullBox(box, reader_.Get(), position, remaining));
  if (!sampleTable) return E_UNEXPECTED;
  BoxFieldReader fields = box.Fields(reader_.Get(), position);
  trakFragment& table = *sampleTable;
  RETURN_IF_FAILED(fields.Skip(kStz2ReservedBytes));
  table.constantSampleSize = 0;
  BYTE fieldSize = 0;
  DWORD count = 0;
  RETURN_IF_FAILED(fields.U8(&fieldSize));
  if (fieldSize != 4 && fieldSize != 8 && fieldSize != 16) return VFW_E_INVALID_FILE_FORMAT;
  RETURN_IF_FAILED(fields.U32(&count));
  if (count == 0) return VFW_E_INVALID_FILE_FORMAT;
  // Bytes for `count` fields: two samples share a byte at 4 bits.
  const ULONGLONG packedBytes =
      fieldSize == 4 ? (static_cast<ULONGLONG>(count) + 1) / 2 : static_cast<ULONGLONG>(count) * (fieldSize / 8);
  RETURN_IF_FAILED(CheckTableFits(fields, reader_.Get(), packedBytes, 1));
  if (table.sampleSizes.SetCount(count) != S_OK) return E_OUTOFMEMORY;
  PackedArray<DWORD>& sizes = table.sampleSizes;
  if (fieldSize == 16) {
    RETURN_IF_FAILED(
        ReadEntries(fields, count, 2, [&](ULONG i, const BYTE* bytes) { return sizes.Set(i, LoadBigEndian16(bytes)); }));
  } else if (fieldSize == 8) {
    RETURN_IF_FAILED(ReadEntries(fields, count, 1, [&](ULONG i, const BYTE* bytes) { return sizes.Set(i, bytes[0]); }));
  } else {
    // Four-bit sizes always fit the narrowest width.
    RETURN_IF_FAILED(ReadEntries(fields, static_cast<ULONG>(packedBytes), 1, [&](ULONG pair, const BYTE* bytes) {
      const ULONG i = pair * 2;
      sizes.Set(i, bytes[0] >> 4);
      if (i + 1 < count) sizes.Set(i + 1, bytes[0] & 0x0F);
      return S_OK;
    }));
  }
  fields.SkipRest();
  return S_OK;
}

HRESULT trakBox::ParseChunkOffset(LONGLONG* position, LONGLONG* remaining, Box& child) {
  return ReadCountedTable(position, remaining, child, &trakFragment::chunkOffsets, sizeof(DWORD),
                          [](ULONGLONG& offset, const BYTE* bytes) { offset = LoadBigEndian32(bytes); });
}

HRESULT trakBox::ParseChunkOffset64(LONGLONG* position, LONGLONG* remaining, Box& child) {
  return ReadCountedTable(position, remaining, child, &trakFragment::chunkOffsets, sizeof(ULONGLONG),
                          [](ULONGLONG& offset, const BYTE* bytes) { offset = LoadBigEndian64(bytes); });
}

HRESULT trakBox::ParseSyncSample(LONGLONG* position, LONGLONG* remaining, Box& child) {
  CAutoLock lock(&tableLock);
  InvalidateSyncOrder();
  return ReadCountedTable(position, remaining, child, &trakFragment::syncSamples, sizeof(DWORD),
                          [](DWORD& sample, const BYTE* bytes) { sample = LoadBigEndian32(bytes); });
}
