// Box and FullBox: headers from a source and from memory, and ReadBody with
// known payloads, payloads that run to the end, and the chunked read of a
// source without a usable length.
#include "support/box_builder.h"
#include "support/memory_source.h"

#include "container/box.h"

#include <gtest/gtest.h>

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

std::vector<uint8_t> Counting(size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

// Each would make the payload negative, and a Skip step backwards forever.
TEST(BoxHeaderTest, SizeSmallerThanItsHeaderIsInvalid) {
  const std::pair<BoxSize, bool> cases[] = {
      {BoxSize::Forced(7), false},      {BoxSize::ForcedLarge(15), false}, {BoxSize::ForcedLarge(0), false},
      {BoxSize::ForcedLarge(1ull << 63), false}, {BoxSize::ForcedLarge(UINT64_MAX), false},
      {BoxSize::Forced(23), true},      {BoxSize::ForcedLarge(31), true}};
  for (const auto& [size, uuid] : cases) {
    BoxBuilder b;
    uuid ? b.Uuid(size, UserType{}) : b.Box(size, "free");
    b.Zeros(64);
    Box box;
    EXPECT_EQ(ReadBox(box, b.Reader().Get()).result, STG_E_INVALIDHEADER) << size.declared;
  }
}

// A field that does not fit leaves both counters alone; a source failure
// is returned and kept, with remaining already reduced.
TEST(BoxHeaderTest, FailedFieldLeavesTheCountersWhereItStopped) {
  BoxBuilder b;
  b.Box("free", [&] { b.Zeros(8); });
  ComPtr<IAsyncReader> memory = b.Reader();
  ComPtr<MemorySource> faulty = MemorySource::Create(b.Data());
  faulty->FailReadNumber(1, STG_E_READFAULT);
  ComPtr<MemorySource> cut = MemorySource::Create({0, 0, 0, 16, 'f'});
  // {source, remaining, result, position and remaining after}
  const std::tuple<IAsyncReader*, LONGLONG, HRESULT, LONGLONG, LONGLONG> cases[] = {
      {memory.Get(), 3, STG_E_INVALIDHEADER, 0, 3},  {memory.Get(), 6, STG_E_INVALIDHEADER, 4, 2},
      {memory.Get(), -1, STG_E_INVALIDHEADER, 0, -1}, {faulty.Get(), 100, STG_E_READFAULT, 4, 92},
      {cut.Get(), 100, S_FALSE, 4, 92},
  };
  for (const auto& [source, remaining, result, position, left] : cases) {
    Box box;
    const Read read = ReadBox(box, source, remaining);
    EXPECT_EQ(std::make_tuple(read.result, read.position, read.remaining, box.lastResult),
              std::make_tuple(result, position, left, result == STG_E_INVALIDHEADER ? S_OK : result));
  }
}

TEST(FullBoxTest, VersionAndFlagsNeedFourPayloadBytesThatFitTheParent) {
  BoxBuilder full, three;
  full.FullBox("mvhd", 1, 0xABCDEF);
  three.Box("mvhd", [&] { three.Zeros(3); });
  FullBox box;
  ASSERT_EQ(ReadBox(box, full.Reader().Get()).result, S_OK);
  EXPECT_EQ(std::make_tuple(box.size, box.version, box.flags), std::make_tuple(0ll, 1u, 0xABCDEFu));
  EXPECT_EQ(ReadBox(box, three.Reader().Get()).result, VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(ReadBox(box, full.Reader().Get(), 10).result, STG_E_INVALIDHEADER);
}

TEST(MemoryHeaderTest, MalformedHeadersAreRejectedWithTheCursorUnchanged) {
  BoxBuilder sizeZero, tooBig, tooSmall, shortLarge;
  sizeZero.Box(BoxSize::ToEnd(), "esds", [&] { sizeZero.Zeros(8); });
  tooBig.Box("esds", [&] { tooBig.Zeros(8); });
  tooSmall.Box(BoxSize::Forced(6), "esds", [&] { tooSmall.Zeros(8); });
  shortLarge.Box(BoxSize::ForcedLarge(16), "esds");
  // Size 0 has no known end in memory; the payload must fit what remains.
  const std::pair<const BoxBuilder&, LONGLONG> cases[] = {
      {sizeZero, 16}, {tooBig, 15}, {tooSmall, 16}, {shortLarge, 12}, {tooBig, 7}};
  for (const auto& [b, remaining] : cases) {
    Box box;
    const BYTE* cursor = b.Data().data();
    LONGLONG left = remaining;
    EXPECT_EQ(box.ReadHeaderFromMemory(&cursor, &left), STG_E_INVALIDHEADER);
    EXPECT_EQ(std::make_tuple(cursor, left), std::make_tuple(b.Data().data(), remaining));
  }
}

// A hostile size must not decide an allocation.
TEST(BoxBodyTest, PayloadIsReadOnlyWhenTheParentAndTheSourceHoldIt) {
  const std::vector<uint8_t> payload = Counting(40);
  BoxBuilder b, past, wide;
  b.Box("free", [&] { b.Bytes(payload); }).Box("skip");
  Box box;
  const Read read = ReadBox(box, b.Reader().Get(), 100, true);
  ASSERT_EQ(read.result, S_OK);
  EXPECT_EQ(std::vector<uint8_t>(box.data, box.data + box.dataSize), payload);
  EXPECT_EQ(std::make_tuple(read.position, read.remaining), std::make_tuple(48ll, 52ll));
  EXPECT_EQ(ReadBox(box, b.Reader().Get(), 47, true).result, VFW_E_INVALID_FILE_FORMAT);

  past.Box(BoxSize::Forced(0x7FFFFFF0), "mdat", [&] { past.Zeros(16); });
  EXPECT_EQ(ReadBox(box, past.Reader().Get(), kTopLevel, true).result, S_FALSE);
  EXPECT_EQ(box.data, nullptr);
  wide.Box(BoxSize::ForcedLarge((1ull << 31) + 16), "mdat", [&] { wide.Zeros(16); });
  ComPtr<MemorySource> source = MemorySource::Create(wide.Data());
  source->FailLength(E_FAIL);
  EXPECT_EQ(ReadBox(box, source.Get(), kTopLevel, true).result, E_OUTOFMEMORY);
  EXPECT_EQ(source->ReadCount(), 3u) << "only the header was read";
}

// With a length the payload is read in one go; without one in chunks of
// 2048 bytes growing by 16384, so sizes around both are tried.
TEST(BoxBodyTest, SizeZeroBoxReadsExactlyTheBytesThatExist) {
  for (const HRESULT lengthResult : {S_OK, E_NOTIMPL}) {
    for (const HRESULT endOfData : {S_FALSE, HRESULT_HANDLE_EOF}) {
      for (const size_t count : {0u, 1u, 1023u, 2047u, 2048u, 2049u, 16384u, 16385u, 40000u}) {
        const std::vector<uint8_t> payload = Counting(count);
        BoxBuilder b;
        b.Box(BoxSize::ToEnd(), "mdat", [&] { b.Bytes(payload); });
        ComPtr<MemorySource> source = MemorySource::Create(b.Data());
        if (FAILED(lengthResult)) source->FailLength(lengthResult);
        source->SetShortReadResult(endOfData);
        Box box;
        const Read read = ReadBox(box, source.Get(), kTopLevel, true);
        ASSERT_EQ(read.result, S_OK) << count;
        EXPECT_EQ(std::vector<uint8_t>(box.data, box.data + box.dataSize), payload) << count;
        EXPECT_EQ(std::make_tuple(read.position, read.remaining), std::make_tuple(LONGLONG(8 + count), 0ll));
        // Full chunks, then at most one halving step per bit of the chunk.
        EXPECT_LE(source->ReadCount(), 2 + count / 2048 + 2 * 12) << count;
      }
    }
  }
  // A real failure of the source is no end of data.
  BoxBuilder b;
  b.Box(BoxSize::ToEnd(), "mdat", [&] { b.Zeros(5000); });
  ComPtr<MemorySource> source = MemorySource::Create(b.Data());
  source->FailLength(E_NOTIMPL);
  source->FailReadsFrom(3000, STG_E_READFAULT);
  Box box;
  EXPECT_EQ(ReadBox(box, source.Get(), kTopLevel, true).result, STG_E_READFAULT);
}

}  // namespace
