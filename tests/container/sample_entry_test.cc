// The SampleEntry base: its common fields, the payload it keeps, the child
// walk over that payload and the codec configuration each child yields.
#include "support/box_builder.h"
#include "support/memory_source.h"

#include "container/sample_entry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Contents(const CBuffer& buffer) { return Bytes(buffer.Data(), buffer.Data() + buffer.Length()); }

// An "esds" payload (version and flags first): an ES descriptor around a
// decoder configuration of object type `oti` and specific info `dsi`.
Bytes Esds(uint8_t oti, const Bytes& dsi, uint8_t esFlags = 0) {
  BoxBuilder b;
  const auto decoderConfigSize = static_cast<uint8_t>(13 + 2 + dsi.size());
  const auto esSize = static_cast<uint8_t>(5 + decoderConfigSize + (esFlags & 0x80 ? 2 : 0) + (esFlags & 0x40 ? 4 : 0));
  b.U32(0).U8(0x03).U8(esSize).U16(1).U8(esFlags);
  if (esFlags & 0x80) b.U16(7);
  if (esFlags & 0x40) b.U8(3).Text("abc");
  b.U8(0x04).U8(decoderConfigSize).U8(oti).U8(0x15).U24(0).U32(128000).U32(96000);
  b.U8(0x05).U8(static_cast<uint8_t>(dsi.size())).Bytes(dsi);
  return b.Data();
}

TEST(SampleEntryTest, ChildBoxesYieldTheCodecConfiguration) {
  Bytes simpleVc1(18, 0x40);
  simpleVc1[16] = 0xAA;
  simpleVc1[17] = 0xBB;
  constexpr DWORD kNone = SampleEntry::kNoObjectType;
  const struct {
    const char* name;
    const char* type;
    Bytes body;
    DWORD objectType;
    Bytes config;
  } cases[] = {
      {"esds", "esds", Esds(0x40, {0x11, 0x90}), 0x40, {0x11, 0x90}},
      {"esds with a stream dependence", "esds", Esds(0x40, {0x11, 0x90}, 0x80), 0x40, {0x11, 0x90}},
      {"esds with a URL", "esds", Esds(0x40, {0x11, 0x90}, 0x40), 0x40, {0x11, 0x90}},
      {"esds with both", "esds", Esds(0x40, {0x11, 0x90}, 0xC0), 0x40, {0x11, 0x90}},
      {"esds sizes with continuation bytes", "esds",
       {0, 0, 0, 0, 0x03, 0x80, 0x80, 0x80, 0x17, 0, 1, 0, 0x04, 0x80, 0x80, 0x80, 0x0F, 0x6B, 0x15, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0x80, 0x01, 0xAA},
       0x6B, {0xAA}},
      {"es descriptor larger than the box", "esds", {0, 0, 0, 0, 0x03, 0x40, 0x00, 0x01, 0x00}, kNone, {}},
      {"es descriptor below three bytes", "esds", {0, 0, 0, 0, 0x03, 0x02, 0x00, 0x01}, kNone, {}},
      {"decoder config without its fixed fields", "esds",
       {0, 0, 0, 0, 0x03, 0x06, 0x00, 0x01, 0x00, 0x04, 0x01, 0x20}, 0x20, {}},
      {"specific info larger than what is left", "esds",
       {0, 0, 0, 0, 0x03, 0x16, 0x00, 0x01, 0x00, 0x04, 0x11, 0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x05, 0x09, 0x12, 0x10},
       0x40, {}},
      {"advanced dvc1 with sequence start code", "dvc1", {0xC5, 1, 2, 3, 4, 5, 6, 0x00, 0x00, 0x01, 0x0F, 0x99},
       kNone, {0x01, 0x00, 0x00, 0x01, 0x0F, 0x99}},
      {"advanced dvc1 without start code", "dvc1", {0xC5, 1, 2, 3, 4, 5, 6, 0x00, 0x00, 0x01, 0x0E}, kNone,
       {0x00, 0x00, 0x01, 0x0E}},
      {"simple dvc1 from offset 16", "dvc1", simpleVc1, kNone, {0xAA, 0xBB}},
      {"advanced dvc1 too short for its header", "dvc1", {0xC5, 1, 2}, kNone, {}},
      {"avcC copied whole", "avcC", {1, 2, 3, 4, 5}, kNone, {1, 2, 3, 4, 5}},
      {"hvcC copied whole", "hvcC", {1, 2, 3, 4, 5}, kNone, {1, 2, 3, 4, 5}},
      {"wfex copied whole", "wfex", {1, 2, 3, 4, 5}, kNone, {1, 2, 3, 4, 5}},
  };
  for (const auto& c : cases) {
    // An unknown box first: the walk steps over it.
    BoxBuilder b;
    char type[5];
    std::copy(c.type, c.type + 5, type);
    b.Box("free", [&] { b.Zeros(3); }).Box(type, [&] { b.Bytes(c.body); });
    SampleEntry entry(Box(), nullptr, kSampleEntryPlain);
    EXPECT_EQ(entry.SetPayload(static_cast<LONG>(b.Size()), b.Data().data()), S_OK) << c.name;
    EXPECT_EQ(entry.objectTypeIndication, c.objectType) << c.name;
    EXPECT_EQ(Contents(entry.codecConfig), c.config) << c.name;
  }
}

TEST(SampleEntryTest, MalformedChildEndsTheWalkKeepingEarlierChildren) {
  BoxBuilder b;
  b.Box("avcC", [&] { b.Bytes({9, 9}); }).Box(BoxSize::Forced(400), "hvcC", [&] { b.Bytes({7, 7}); });
  SampleEntry entry(Box(), nullptr, kSampleEntryPlain);
  EXPECT_EQ(entry.SetPayload(static_cast<LONG>(b.Size()), b.Data().data()), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(Contents(entry.codecConfig), (Bytes{9, 9}));
  // A header cut short is not a child larger than its parent.
  const BYTE bytes[] = {0, 0, 0, 0x20, 'u', 'u', 'i', 'd', 1, 2};
  const BYTE* cursor = bytes;
  LONGLONG remaining = sizeof bytes;
  Box child;
  EXPECT_EQ(entry.ReadChildHeaderFromMemory(child, &cursor, &remaining), STG_E_INVALIDHEADER);
  EXPECT_EQ(cursor, bytes);
}

// An "avc1"-like entry at offset 0 of a source: the 8 common bytes (data
// reference index 5) and a tail.
TEST(SampleEntryTest, FixedFieldsAndPayloadAreReadWithinTheirBounds) {
  const struct {
    const char* name;
    Bytes tail;
    LONGLONG declared;
    LONGLONG room;
    HRESULT result;
    LONG payload;
    Bytes config;
  } cases[] = {
      {"a tail of one header is kept but not walked", {0, 0, 0, 8, 'a', 'v', 'c', 'C'}, 16, 16, S_OK, 8, {}},
      {"children walked, a malformed one ignored",
       {0, 0, 0, 10, 'a', 'v', 'c', 'C', 1, 2, 0, 0, 0, 99, 'f', 'r', 'e', 'e'}, 26, 26, S_OK, 18, {1, 2}},
      {"fixed fields cut short", {}, 6, 6, STG_E_INVALIDHEADER, 0, {}},
      {"entry larger than its room", {}, 16, 15, VFW_E_INVALID_FILE_FORMAT, 0, {}},
      // Refused before a buffer is sized by it.
      {"payload past the source", {1, 2, 3}, 0x7FFFFFF0, 0x7FFFFFF0, S_FALSE, 0, {}},
  };
  for (const auto& c : cases) {
    Bytes bytes = {0, 0, 0, 0, 0, 0, 0, 5};
    bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
    ComPtr<MemorySource> source = MemorySource::Create(bytes);
    Box header;
    header.size = c.declared;
    SampleEntry entry(header, nullptr, kSampleEntryPlain);
    LONGLONG position = 0;
    LONGLONG remaining = c.room;
    HRESULT hr = entry.ReadFixedFields(source.Get(), &position, &remaining);
    if (hr == S_OK) {
      EXPECT_EQ(entry.dataReferenceIndex, 5u) << c.name;
      hr = entry.ReadPayload(source.Get(), &position);
    }
    EXPECT_EQ(hr, c.result) << c.name;
    EXPECT_EQ(entry.payload.Length(), c.payload) << c.name;
    if (hr != S_OK) {
      EXPECT_EQ(entry.payload.Capacity(), 0) << c.name;
    }
    EXPECT_EQ(Contents(entry.codecConfig), c.config) << c.name;
  }
}

}  // namespace
