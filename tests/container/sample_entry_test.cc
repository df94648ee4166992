// The SampleEntry base: its common fields, the payload it keeps, the child
// walk over that payload and the codec configuration each child yields.
#include "support/box_builder.h"
#include "support/memory_source.h"

#include "container/sample_entry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Bytes(const CBuffer& buffer) {
  return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Length());
}

class SampleEntryTest : public ::testing::Test {
 protected:
  SampleEntryTest() { header_.type = FourCC("mp4v"); }

  // Walks the children that `body` writes, as an entry's payload.
  void Walk(const BoxBuilder::Body& body) {
    BoxBuilder b;
    b.Box("root", body);
    const std::vector<uint8_t>& bytes = b.Data();
    entry_.SetPayload(static_cast<LONG>(bytes.size() - 8), bytes.data() + 8);
  }

  // An ES descriptor around a decoder configuration with object type `oti`
  // and decoder-specific info `dsi`.
  static void WriteEsds(BoxBuilder& b, uint8_t oti, const std::vector<uint8_t>& dsi, uint8_t esFlags = 0) {
    b.FullBox("esds", 0, 0, [&] {
      const uint8_t decoderConfigSize = static_cast<uint8_t>(13 + 2 + dsi.size());
      uint8_t esSize = static_cast<uint8_t>(3 + 2 + decoderConfigSize);
      if (esFlags & 0x80) esSize += 2;
      if (esFlags & 0x40) esSize += 4;
      b.U8(0x03).U8(esSize).U16(1).U8(esFlags);
      if (esFlags & 0x80) b.U16(7);
      if (esFlags & 0x40) b.U8(3).Text("abc");
      b.U8(0x04).U8(decoderConfigSize).U8(oti).U8(0x15).U24(0).U32(128000).U32(96000);
      b.U8(0x05).U8(static_cast<uint8_t>(dsi.size())).Bytes(dsi);
    });
  }

  Box header_;
  SampleEntry entry_{header_, nullptr, kSampleEntryPlain};
};

TEST_F(SampleEntryTest, EsdsGivesObjectTypeAndDecoderSpecificInfo) {
  for (uint8_t flags : {0x00, 0x80, 0x40, 0xC0}) {
    SampleEntry entry(header_, nullptr, kSampleEntryPlain);
    BoxBuilder b;
    b.Box("root", [&] { WriteEsds(b, 0x40, {0x11, 0x90}, flags); });
    entry.SetPayload(static_cast<LONG>(b.Size() - 8), b.Data().data() + 8);
    EXPECT_EQ(entry.objectTypeIndication, 0x40u) << int(flags);
    EXPECT_EQ(Bytes(entry.codecConfig), (std::vector<uint8_t>{0x11, 0x90})) << int(flags);
  }
}

TEST_F(SampleEntryTest, EsdsSizesMayUseContinuationBytes) {
  BoxBuilder b;
  b.Box("root", [&] {
    b.FullBox("esds", 0, 0, [&] {
      b.U8(0x03).Bytes({0x80, 0x80, 0x80, 0x17}).U16(1).U8(0);
      b.U8(0x04).Bytes({0x80, 0x80, 0x80, 0x0F}).U8(0x6B).U8(0x15).U24(0).U32(0).U32(0);
      b.U8(0x05).Bytes({0x80, 0x01}).U8(0xAA);
    });
  });
  entry_.SetPayload(static_cast<LONG>(b.Size() - 8), b.Data().data() + 8);
  EXPECT_EQ(entry_.objectTypeIndication, 0x6Bu);
  EXPECT_EQ(Bytes(entry_.codecConfig), std::vector<uint8_t>{0xAA});
}

TEST_F(SampleEntryTest, EsdsThatDoesNotAddUpStopsQuietly) {
  struct Case {
    const char* name;
    std::vector<uint8_t> body;
    DWORD objectType;
    size_t configBytes;
  };
  const Case cases[] = {
      {"es descriptor larger than the box", {0x03, 0x40, 0x00, 0x01, 0x00}, SampleEntry::kNoObjectType, 0},
      {"es descriptor below three bytes", {0x03, 0x02, 0x00, 0x01}, SampleEntry::kNoObjectType, 0},
      {"decoder config without room for the fixed fields", {0x03, 0x06, 0x00, 0x01, 0x00, 0x04, 0x01, 0x20}, 0x20, 0},
      {"specific info larger than what is left",
       {0x03, 0x16, 0x00, 0x01, 0x00, 0x04, 0x11, 0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0x09, 0x12, 0x10},
       0x40,
       0},
  };
  for (const Case& c : cases) {
    SampleEntry entry(header_, nullptr, kSampleEntryPlain);
    BoxBuilder b;
    b.Box("root", [&] { b.FullBox("esds", 0, 0, [&] { b.Bytes(c.body); }); });
    EXPECT_EQ(entry.SetPayload(static_cast<LONG>(b.Size() - 8), b.Data().data() + 8), S_OK) << c.name;
    EXPECT_EQ(entry.objectTypeIndication, c.objectType) << c.name;
    EXPECT_EQ(static_cast<size_t>(entry.codecConfig.Length()), c.configBytes) << c.name;
  }
}

TEST_F(SampleEntryTest, Dvc1ConfigurationByProfile) {
  struct Case {
    const char* name;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> config;
  };
  std::vector<uint8_t> simple(16, 0x40);
  simple.push_back(0xAA);
  simple.push_back(0xBB);
  const Case cases[] = {
      {"advanced with sequence start code",
       {0xC5, 1, 2, 3, 4, 5, 6, 0x00, 0x00, 0x01, 0x0F, 0x99},
       {0x01, 0x00, 0x00, 0x01, 0x0F, 0x99}},
      {"advanced without start code", {0xC5, 1, 2, 3, 4, 5, 6, 0x00, 0x00, 0x01, 0x0E}, {0x00, 0x00, 0x01, 0x0E}},
      {"simple profile from offset 16", simple, {0xAA, 0xBB}},
      {"advanced too short for its header", {0xC5, 1, 2}, {}},
  };
  for (const Case& c : cases) {
    SampleEntry entry(header_, nullptr, kSampleEntryPlain);
    BoxBuilder b;
    b.Box("root", [&] { b.Box("dvc1", [&] { b.Bytes(c.payload); }); });
    entry.SetPayload(static_cast<LONG>(b.Size() - 8), b.Data().data() + 8);
    EXPECT_EQ(Bytes(entry.codecConfig), c.config) << c.name;
  }
}

TEST_F(SampleEntryTest, ConfigurationBoxesAreCopiedWhole) {
  for (const char* type : {"avcC", "hvcC", "wfex"}) {
    SampleEntry entry(header_, nullptr, kSampleEntryPlain);
    BoxBuilder b;
    char code[5];
    std::copy(type, type + 5, code);
    b.Box("root", [&] {
      b.Box("free", [&] { b.Zeros(3); });
      b.Box(code, [&] { b.Bytes({1, 2, 3, 4, 5}); });
    });
    entry.SetPayload(static_cast<LONG>(b.Size() - 8), b.Data().data() + 8);
    EXPECT_EQ(Bytes(entry.codecConfig), (std::vector<uint8_t>{1, 2, 3, 4, 5})) << type;
  }
}

TEST_F(SampleEntryTest, ChildRunningPastThePayloadEndsTheWalkKeepingEarlierChildren) {
  BoxBuilder b;
  b.Box("root", [&] {
    b.Box("avcC", [&] { b.Bytes({9, 9}); });
    b.Box(BoxSize::Forced(400), "hvcC", [&] { b.Bytes({7, 7}); });
  });
  EXPECT_EQ(entry_.SetPayload(static_cast<LONG>(b.Size() - 8), b.Data().data() + 8), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(Bytes(entry_.codecConfig), (std::vector<uint8_t>{9, 9}));
}

TEST_F(SampleEntryTest, ChildHeaderCutShortIsAnInvalidHeader) {
  const BYTE bytes[] = {0, 0, 0, 0x20, 'u', 'u', 'i', 'd', 1, 2};
  const BYTE* cursor = bytes;
  LONGLONG remaining = sizeof bytes;
  Box child;
  EXPECT_EQ(entry_.ReadChildHeaderFromMemory(child, &cursor, &remaining), STG_E_INVALIDHEADER);
  EXPECT_EQ(cursor, bytes);
}

class SampleEntryReadTest : public ::testing::Test {
 protected:
  // An "avc1"-like entry at offset 0 of a source: the 8 common bytes then
  // `tail`.
  HRESULT Read(const std::vector<uint8_t>& tail, LONGLONG declaredPayload = -1) {
    std::vector<uint8_t> bytes = {0, 0, 0, 0, 0, 0, 0, 5};
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    source_ = MemorySource::Create(bytes);
    Box header;
    header.type = FourCC("avc1");
    header.size = declaredPayload >= 0 ? declaredPayload : static_cast<LONGLONG>(bytes.size());
    entry_ = std::make_unique<SampleEntry>(header, nullptr, kSampleEntryPlain);
    LONGLONG position = 0;
    LONGLONG remaining = header.size;
    const HRESULT hr = entry_->ReadFixedFields(source_.Get(), &position, &remaining);
    if (hr != S_OK) return hr;
    return entry_->ReadPayload(source_.Get(), &position);
  }

  ComPtr<MemorySource> source_;
  std::unique_ptr<SampleEntry> entry_;
};

TEST_F(SampleEntryReadTest, ShortTailIsKeptButNotWalked) {
  ASSERT_EQ(Read({0, 0, 0, 8, 'a', 'v', 'c', 'C'}), S_OK);
  EXPECT_EQ(entry_->dataReferenceIndex, 5u);
  EXPECT_EQ(entry_->payload.Length(), 8);
  EXPECT_EQ(entry_->codecConfig.Length(), 0);
}

TEST_F(SampleEntryReadTest, PayloadChildrenAreWalkedAndMalformedOnesIgnored) {
  ASSERT_EQ(Read({0, 0, 0, 10, 'a', 'v', 'c', 'C', 1, 2, 0, 0, 0, 99, 'f', 'r', 'e', 'e'}), S_OK);
  EXPECT_EQ(Bytes(entry_->codecConfig), (std::vector<uint8_t>{1, 2}));
}

TEST_F(SampleEntryReadTest, FixedFieldsCutShortAreAnInvalidHeader) { EXPECT_EQ(Read({}, 6), STG_E_INVALIDHEADER); }

TEST_F(SampleEntryReadTest, PayloadPastTheSourceIsRefusedBeforeSizingABuffer) {
  EXPECT_EQ(Read({1, 2, 3}, 0x7FFFFFF0), S_FALSE);
  EXPECT_EQ(entry_->payload.Capacity(), 0);
  EXPECT_EQ(entry_->lastResult, S_FALSE);
}

TEST_F(SampleEntryReadTest, EntryLargerThanItsRoomIsInvalidFileFormat) {
  std::vector<uint8_t> bytes(16, 0);
  source_ = MemorySource::Create(bytes);
  Box header;
  header.size = 16;
  SampleEntry entry(header, nullptr, kSampleEntryPlain);
  LONGLONG position = 0;
  LONGLONG remaining = 15;
  EXPECT_EQ(entry.ReadFixedFields(source_.Get(), &position, &remaining), VFW_E_INVALID_FILE_FORMAT);
}

}  // namespace
