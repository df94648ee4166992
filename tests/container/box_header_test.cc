// Box and FullBox headers from a byte source and from memory, Skip, and the
// bounded field reads they stand on.
#include "support/box_builder.h"
#include "support/memory_source.h"

#include "container/box.h"
#include "container/field_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr LONGLONG kTopLevel = INT64_MAX;

struct StreamRead {
  HRESULT result;
  LONGLONG position = 0;
  LONGLONG remaining;
};

StreamRead ReadHeaderOf(Box& box, const BoxBuilder& b, LONGLONG remaining = kTopLevel) {
  ComPtr<IAsyncReader> reader = b.Reader();
  StreamRead read{S_OK, 0, remaining};
  read.result = box.ReadHeader(reader.Get(), &read.position, &read.remaining);
  return read;
}

TEST(BoxHeaderTest, LargeSizeLosesItsSixteenHeaderBytes) {
  BoxBuilder b;
  b.Box(BoxSize::ForcedLarge((1ull << 32) + 16), "mdat");
  Box box;
  const StreamRead read = ReadHeaderOf(box, b);
  ASSERT_EQ(read.result, S_OK);
  EXPECT_EQ(box.size, 1ll << 32);
  EXPECT_EQ(read.position, 16);
  EXPECT_EQ(read.remaining, kTopLevel - 16);
}

TEST(BoxHeaderTest, UuidKeepsExtendedTypeAndHasNoPayloadAtSize24) {
  const UserType userType = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  BoxBuilder b;
  b.Uuid(userType);
  ASSERT_EQ(b.Size(), 24u);
  Box box;
  ASSERT_EQ(ReadHeaderOf(box, b).result, S_OK);
  EXPECT_EQ(box.type, FourCC("uuid"));
  EXPECT_EQ(box.size, 0);
  EXPECT_EQ(0, std::memcmp(box.userType, userType.data(), 16));
}

TEST(BoxHeaderTest, SizeZeroUsesUpRemainingSoTheTopLevelWalkEnds) {
  BoxBuilder b;
  b.Box(BoxSize::ToEnd(), "mdat", [&] { b.Zeros(100); });
  Box box;
  const StreamRead read = ReadHeaderOf(box, b);
  ASSERT_EQ(read.result, S_OK);
  EXPECT_TRUE(box.extendsToEnd);
  EXPECT_EQ(read.remaining, 0);
  EXPECT_EQ(box.size, -8);
}

TEST(BoxHeaderTest, SizeZeroUuidStillReadsItsExtendedType) {
  BoxBuilder b;
  b.Uuid(BoxSize::ToEnd(), UserType{0xAB});
  Box box;
  ASSERT_EQ(ReadHeaderOf(box, b).result, S_OK);
  EXPECT_TRUE(box.extendsToEnd);
  EXPECT_EQ(box.userType[0], 0xAB);
}

// Each would make the payload negative, and a Skip step backwards forever.
TEST(BoxHeaderTest, SizeSmallerThanItsHeaderIsInvalid) {
  struct Case {
    const char* name;
    BoxSize size;
    bool uuid;
  };
  const Case cases[] = {
      {"size 7", BoxSize::Forced(7), false},
      {"size 2", BoxSize::Forced(2), false},
      {"large size 15", BoxSize::ForcedLarge(15), false},
      {"large size 0", BoxSize::ForcedLarge(0), false},
      {"large size 2^63", BoxSize::ForcedLarge(1ull << 63), false},
      {"large size 2^64-1", BoxSize::ForcedLarge(UINT64_MAX), false},
      {"uuid of size 23", BoxSize::Forced(23), true},
      {"uuid of large size 31", BoxSize::ForcedLarge(31), true},
  };
  for (const Case& c : cases) {
    BoxBuilder b;
    c.uuid ? b.Uuid(c.size, UserType{}) : b.Box(c.size, "free");
    b.Zeros(64);
    Box box;
    EXPECT_EQ(ReadHeaderOf(box, b).result, STG_E_INVALIDHEADER) << c.name;
  }
}

TEST(BoxHeaderTest, FieldThatDoesNotFitLeavesTheCountersAlone) {
  BoxBuilder b;
  b.Box("free", [&] { b.Zeros(8); });
  Box box;
  StreamRead read = ReadHeaderOf(box, b, 3);
  EXPECT_EQ(read.result, STG_E_INVALIDHEADER);
  EXPECT_EQ(read.position, 0);
  EXPECT_EQ(read.remaining, 3);

  read = ReadHeaderOf(box, b, 6);
  EXPECT_EQ(read.result, STG_E_INVALIDHEADER);
  EXPECT_EQ(read.position, 4) << "the size field was read";
  EXPECT_EQ(read.remaining, 2);

  EXPECT_EQ(ReadHeaderOf(box, b, -1).result, STG_E_INVALIDHEADER);
}

TEST(BoxHeaderTest, SourceFailureIsReturnedAndKeptWithRemainingAlreadyReduced) {
  BoxBuilder b;
  b.Box("free", [&] { b.Zeros(8); });
  ComPtr<MemorySource> source = MemorySource::Create(b.Data());
  source->FailReadNumber(1, STG_E_READFAULT);
  Box box;
  LONGLONG position = 0;
  LONGLONG remaining = 100;
  EXPECT_EQ(box.ReadHeader(source.Get(), &position, &remaining), STG_E_READFAULT);
  EXPECT_EQ(box.lastResult, STG_E_READFAULT);
  EXPECT_EQ(position, 4);
  EXPECT_EQ(remaining, 92);
}

TEST(BoxHeaderTest, ShortReadAtTheEndOfTheSourceIsReturnedAsIs) {
  ComPtr<MemorySource> source = MemorySource::Create({0, 0, 0, 16, 'f'});
  Box box;
  LONGLONG position = 0;
  LONGLONG remaining = kTopLevel;
  EXPECT_EQ(box.ReadHeader(source.Get(), &position, &remaining), S_FALSE);
  EXPECT_EQ(position, 4);
}

TEST(FullBoxTest, FourPayloadBytesHoldVersionAndFlags) {
  BoxBuilder b;
  b.FullBox("mvhd", 1, 0xABCDEF);
  FullBox box;
  ASSERT_EQ(ReadHeaderOf(box, b).result, S_OK);
  EXPECT_EQ(box.size, 0);
  EXPECT_EQ(box.version, 1u);
  EXPECT_EQ(box.flags, 0xABCDEFu);
}

TEST(FullBoxTest, ThreePayloadBytesAreTooFewForVersionAndFlags) {
  BoxBuilder b;
  b.Box("mvhd", [&] { b.Zeros(3); });
  FullBox box;
  EXPECT_EQ(ReadHeaderOf(box, b).result, VFW_E_INVALID_FILE_FORMAT);
}

TEST(FullBoxTest, VersionAndFlagsMustFitTheParentsRemaining) {
  BoxBuilder b;
  b.FullBox("tkhd", 0, 0, [&] { b.Zeros(8); });
  FullBox box;
  EXPECT_EQ(ReadHeaderOf(box, b, 10).result, STG_E_INVALIDHEADER);
}

struct MemoryRead {
  HRESULT result;
  ptrdiff_t advanced;
  LONGLONG remaining;
};

MemoryRead ReadMemoryHeaderOf(Box& box, const std::vector<uint8_t>& bytes, LONGLONG remaining) {
  const BYTE* cursor = bytes.data();
  MemoryRead read{S_OK, 0, remaining};
  read.result = box.ReadHeaderFromMemory(&cursor, &read.remaining);
  read.advanced = cursor - bytes.data();
  return read;
}

TEST(MemoryHeaderTest, HeaderAdvancesTheCursorButLeavesThePayloadForParseFromMemory) {
  BoxBuilder b;
  b.Box(BoxSize::Large(), "avcC", [&] { b.Zeros(5); }).Box("free");
  Box box;
  MemoryRead read = ReadMemoryHeaderOf(box, b.Data(), static_cast<LONGLONG>(b.Size()));
  ASSERT_EQ(read.result, S_OK);
  EXPECT_EQ(read.advanced, 16);
  EXPECT_EQ(box.size, 5);
  EXPECT_EQ(read.remaining, static_cast<LONGLONG>(b.Size()) - 16);

  const BYTE* cursor = b.Data().data() + 16;
  ASSERT_EQ(box.ParseFromMemory(&cursor, &read.remaining), S_OK);
  EXPECT_EQ(cursor, b.Data().data() + 21);
  // An empty box is stepped over too, not taken as the end of the walk.
  ASSERT_EQ(box.ReadHeaderFromMemory(&cursor, &read.remaining), S_OK);
  ASSERT_EQ(box.ParseFromMemory(&cursor, &read.remaining), S_OK);
  EXPECT_EQ(read.remaining, 0);
}

TEST(MemoryHeaderTest, MalformedHeadersAreRejectedWithTheCursorUnchanged) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    LONGLONG remaining;
  };
  BoxBuilder sizeZero, tooBig, tooSmall, shortLarge;
  sizeZero.Box(BoxSize::ToEnd(), "esds", [&] { sizeZero.Zeros(8); });
  tooBig.Box("esds", [&] { tooBig.Zeros(8); });
  tooSmall.Box(BoxSize::Forced(6), "esds", [&] { tooSmall.Zeros(8); });
  shortLarge.Box(BoxSize::ForcedLarge(16), "esds");
  const Case cases[] = {
      {"size 0 has no known end in memory", sizeZero.Data(), 16},
      {"payload larger than remaining", tooBig.Data(), 15},
      {"size smaller than header", tooSmall.Data(), 16},
      {"large size cut off", shortLarge.Data(), 12},
      {"fewer than 8 bytes", tooBig.Data(), 7},
  };
  for (const Case& c : cases) {
    Box box;
    const MemoryRead read = ReadMemoryHeaderOf(box, c.bytes, c.remaining);
    EXPECT_EQ(read.result, STG_E_INVALIDHEADER) << c.name;
    EXPECT_EQ(read.advanced, 0) << c.name;
    EXPECT_EQ(read.remaining, c.remaining) << c.name;
  }
}

TEST(MemoryHeaderTest, FullBoxReadsVersionAndFlagsButKeepsThemInSize) {
  BoxBuilder b;
  b.FullBox("esds", 2, 0x10203, [&] { b.Zeros(6); });
  FullBox box;
  const MemoryRead read = ReadMemoryHeaderOf(box, b.Data(), static_cast<LONGLONG>(b.Size()));
  ASSERT_EQ(read.result, S_OK);
  EXPECT_EQ(read.advanced, 12);
  EXPECT_EQ(box.version, 2u);
  EXPECT_EQ(box.flags, 0x10203u);
  EXPECT_EQ(box.size, 10);
}

TEST(BoxSkipTest, BoxThatExtendsToEndUsesUpRemainingWithoutMoving) {
  Box box;
  box.size = -8;
  box.extendsToEnd = TRUE;
  LONGLONG position = 8;
  LONGLONG remaining = 500;
  ASSERT_EQ(box.Skip(nullptr, &position, &remaining), S_OK);
  EXPECT_EQ(position, 8);
  EXPECT_EQ(remaining, 0);
}

// Position stays inside the container, and never overflows past INT64_MAX.
TEST(BoxSkipTest, BoxOverrunningItsContainerStopsAtTheContainersEnd) {
  Box box;
  box.size = INT64_MAX - 16;
  LONGLONG position = 1000;
  LONGLONG remaining = 50;
  ASSERT_EQ(box.Skip(nullptr, &position, &remaining), S_OK);
  EXPECT_EQ(position, 1050);
  EXPECT_EQ(remaining, 0);
}

TEST(BoxCopyTest, CopyTakesOverThePayloadBuffer) {
  BoxBuilder b;
  b.Uuid(UserType{9}, [&] { b.U32(7); });
  ComPtr<IAsyncReader> reader = b.Reader();
  Box header;
  LONGLONG position = 0;
  LONGLONG remaining = kTopLevel;
  ASSERT_EQ(header.ReadHeader(reader.Get(), &position, &remaining), S_OK);
  ASSERT_EQ(header.ReadBody(reader.Get(), &position, &remaining), S_OK);
  BYTE* payload = header.data;

  FullBox copy(header);
  EXPECT_EQ(copy.data, payload);
  EXPECT_EQ(copy.dataSize, 0);
  EXPECT_EQ(header.data, nullptr);
  EXPECT_EQ(copy.type, FourCC("uuid"));
  EXPECT_EQ(copy.userType[0], 9);
  EXPECT_EQ(copy.size, 4);
}

TEST(FieldReaderTest, FieldsAreBigEndian) {
  ComPtr<MemorySource> source =
      MemorySource::Create({0x00, 0x00, 0x03, 0xE8, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF, 0xFE});
  LONGLONG position = 0;
  LONGLONG remaining = 14;
  BoxFieldReader fields(source.Get(), &position, &remaining);
  DWORD u32 = 0;
  ULONGLONG u64 = 0;
  WORD u16 = 0;
  ASSERT_EQ(fields.U32(&u32), S_OK);
  ASSERT_EQ(fields.U64(&u64), S_OK);
  ASSERT_EQ(fields.U16(&u16), S_OK);
  EXPECT_EQ(u32, 1000u);
  EXPECT_EQ(u64, 0x0102030405060708ull);
  EXPECT_EQ(u16, 0xFFFE);
  EXPECT_EQ(fields.U8(nullptr), STG_E_INVALIDHEADER) << "nothing is left";
}

}  // namespace
