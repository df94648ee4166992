// Box and FullBox headers read from a source and from memory, and ReadBody
// with payloads that must fit, and the chunked read of a payload of size 0
// from a source without a usable length.
#include "support/box_builder.h"
#include "support/memory_source.h"

#include "container/box.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

constexpr LONGLONG kTopLevel = INT64_MAX;

struct Read {
  HRESULT result;
  LONGLONG position;
  LONGLONG remaining;
};

// The header, then the payload when `body` is set and the header was read.
Read ReadBox(Box& box, IAsyncReader* source, LONGLONG remaining = kTopLevel, bool body = false) {
  Read read{S_OK, 0, remaining};
  read.result = box.ReadHeader(source, &read.position, &read.remaining);
  if (body && read.result == S_OK) read.result = box.ReadBody(source, &read.position, &read.remaining);
  return read;
}

// A size below its header would make the payload negative and a skip step
// backwards forever. A field that does not fit leaves the counters alone; a
// source failure is returned and kept, with remaining already reduced. In
// memory, size 0 has no known end and the cursor never moves on a refusal.
TEST(BoxHeaderTest, ImpossibleSizesAndShortFieldsAreRefusedWhereTheyStop) {
  const auto free8 = [](BoxBuilder& b) { b.Box("free", [&] { b.Zeros(8); }); };
  const auto sized = [](BoxSize size) { return [size](BoxBuilder& b) { b.Box(size, "esds").Zeros(64); }; };
  enum Reader { kSource, kFull, kMemory, kTypeReadFails };
  const struct {
    std::function<void(BoxBuilder&)> write;
    LONGLONG remaining;
    Reader reader;
    HRESULT result;
    LONGLONG position = -1, left = -1;  // -1: not checked
  } cases[] = {
      {sized(BoxSize::Forced(7)), kTopLevel, kSource, STG_E_INVALIDHEADER},
      {sized(BoxSize::ForcedLarge(15)), kTopLevel, kSource, STG_E_INVALIDHEADER},
      {sized(BoxSize::ForcedLarge(0)), kTopLevel, kSource, STG_E_INVALIDHEADER},
      {sized(BoxSize::ForcedLarge(UINT64_MAX)), kTopLevel, kSource, STG_E_INVALIDHEADER},
      {free8, 3, kSource, STG_E_INVALIDHEADER, 0, 3},
      {free8, 6, kSource, STG_E_INVALIDHEADER, 4, 2},
      {free8, -1, kSource, STG_E_INVALIDHEADER, 0, -1},
      {free8, 100, kTypeReadFails, STG_E_READFAULT, 4, 92},
      {[](BoxBuilder& b) { b.Bytes({0, 0, 0, 16, 'f'}); }, 100, kSource, S_FALSE, 4, 92},
      {[](BoxBuilder& b) { b.Box("mvhd", [&] { b.Zeros(3); }); }, kTopLevel, kFull, VFW_E_INVALID_FILE_FORMAT},
      {[](BoxBuilder& b) { b.FullBox("mvhd", 1, 0xABCDEF); }, 10, kFull, STG_E_INVALIDHEADER},
      {sized(BoxSize::ToEnd()), 72, kMemory, STG_E_INVALIDHEADER, 0, 72},
      {sized(BoxSize::Forced(6)), 72, kMemory, STG_E_INVALIDHEADER, 0, 72},
      {sized(BoxSize::ForcedLarge(16)), 12, kMemory, STG_E_INVALIDHEADER, 0, 12},
      {free8, 15, kMemory, STG_E_INVALIDHEADER, 0, 15},
      {free8, 7, kMemory, STG_E_INVALIDHEADER, 0, 7},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    BoxBuilder b;
    c.write(b);
    ComPtr<MemorySource> source = MemorySource::Create(b.Data());
    if (c.reader == kTypeReadFails) source->FailReadsFrom(4, STG_E_READFAULT);
    Box plain;
    FullBox full;
    Box& box = c.reader == kFull ? full : plain;
    Read read{S_OK, 0, c.remaining};
    if (c.reader == kMemory) {
      const BYTE* cursor = b.Data().data();
      read.result = box.ReadHeaderFromMemory(&cursor, &read.remaining);
      read.position = cursor - b.Data().data();
    } else {
      read = ReadBox(box, source.Get(), c.remaining);
    }
    EXPECT_EQ(read.result, c.result) << "case " << i;
    if (c.position >= 0) {
      EXPECT_EQ(std::make_tuple(read.position, read.remaining), std::make_tuple(c.position, c.left)) << "case " << i;
    }
    if (c.reader != kMemory) {
      EXPECT_EQ(box.lastResult, c.result == STG_E_READFAULT || c.result == S_FALSE ? c.result : S_OK) << "case " << i;
    }
  }
}

// A hostile size must not decide an allocation. Without a length a payload
// of size 0 is read in chunks of 2048 bytes growing by 16384, so sizes
// around both are tried; a real failure of the source is no end of data.
TEST(BoxBodyTest, PayloadIsReadOnlyWhenTheParentAndTheSourceHoldIt) {
  BoxBuilder b, past, wide;
  b.Box("free", [&] { b.Zeros(40); }).Box("skip");
  Box box;
  const Read read = ReadBox(box, b.Reader().Get(), 100, true);
  EXPECT_EQ(std::make_tuple(read.result, read.position, read.remaining, box.dataSize),
            std::make_tuple(S_OK, 48ll, 52ll, 40));
  EXPECT_EQ(ReadBox(box, b.Reader().Get(), 47, true).result, VFW_E_INVALID_FILE_FORMAT);
  past.Box(BoxSize::Forced(0x7FFFFFF0), "mdat", [&] { past.Zeros(16); });
  EXPECT_EQ(ReadBox(box, past.Reader().Get(), kTopLevel, true).result, S_FALSE);
  EXPECT_EQ(box.data, nullptr);
  wide.Box(BoxSize::ForcedLarge((1ull << 31) + 16), "mdat", [&] { wide.Zeros(16); });
  ComPtr<MemorySource> source = MemorySource::Create(wide.Data());
  source->FailLength(E_FAIL);
  EXPECT_EQ(ReadBox(box, source.Get(), kTopLevel, true).result, E_OUTOFMEMORY);
  EXPECT_EQ(source->ReadCount(), 3u) << "only the header was read";

  for (const HRESULT lengthResult : {S_OK, E_NOTIMPL}) {
    for (const HRESULT endOfData : {S_FALSE, HRESULT_HANDLE_EOF}) {
      for (const size_t count : {0u, 1u, 2047u, 2048u, 2049u, 16384u, 16385u, 40000u}) {
        std::vector<uint8_t> payload(count);
        for (size_t i = 0; i < count; ++i) payload[i] = static_cast<uint8_t>(i * 7 + 3);
        BoxBuilder zero;
        zero.Box(BoxSize::ToEnd(), "mdat", [&] { zero.Bytes(payload); });
        source = MemorySource::Create(zero.Data());
        if (FAILED(lengthResult)) source->FailLength(lengthResult);
        source->SetShortReadResult(endOfData);
        if (count == 40000 && endOfData == S_FALSE) source->FailReadsFrom(30000, STG_E_READFAULT);
        const Read read = ReadBox(box, source.Get(), kTopLevel, true);
        if (count == 40000 && endOfData == S_FALSE) {
          EXPECT_EQ(read.result, STG_E_READFAULT);
          continue;
        }
        ASSERT_EQ(read.result, S_OK) << count;
        EXPECT_EQ(std::vector<uint8_t>(box.data, box.data + box.dataSize), payload) << count;
        EXPECT_EQ(std::make_tuple(read.position, read.remaining), std::make_tuple(LONGLONG(8 + count), 0ll));
        // Full chunks, then at most one halving step per bit of the chunk.
        EXPECT_LE(source->ReadCount(), 2 + count / 2048 + 2 * 12) << count;
      }
    }
  }
}

}  // namespace
