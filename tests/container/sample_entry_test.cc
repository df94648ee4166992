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

TEST(SampleEntryTest, ChildBoxesYieldTheCodecConfiguration) {
  Bytes simpleVc1(16, 0x40);
  simpleVc1.push_back(0xAA), simpleVc1.push_back(0xBB);
  constexpr DWORD kNone = SampleEntry::kNoObjectType;
  const struct {
    const char* name;
    const char* type;
    Bytes body;
    DWORD objectType;
    Bytes config;
    // Bytes after the child: a malformed child ends the walk, keeping what
    // the earlier ones gave.
    Bytes after = {};
    HRESULT result = S_OK;
  } cases[] = {
      // Real files have the plain form; this one has the dependence and URL
      // fields, stepped over.
      {"esds with its optional fields", "esds",
       {0, 0, 0, 0, 0x03, 0x1C, 0, 1, 0xC0, 0, 7, 3, 'a', 'b', 'c', 0x04, 0x11, 0x40, 0x15, 0, 0, 0,
        0, 1, 0xF4, 0, 0, 1, 0x77, 0, 0x05, 2, 0x11, 0x90}, 0x40, {0x11, 0x90}},
      {"es descriptor larger than the box", "esds", {0, 0, 0, 0, 0x03, 0x40, 0x00, 0x01, 0x00}, kNone, {}},
      {"es descriptor below three bytes", "esds", {0, 0, 0, 0, 0x03, 0x02, 0x00, 0x01}, kNone, {}},
      // Eleven size bytes: uncapped, 1 << 70 | 22 would wrap to 22.
      {"es descriptor size past the cap", "esds",
       {0, 0, 0, 0, 0x03, 0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x16, 0, 1, 0, 0x04, 0x11, 0x40,
        0x15, 0, 0, 0, 0, 1, 0xF4, 0, 0, 1, 0x77, 0, 0x05, 2, 0x11, 0x90}, kNone, {}},
      {"decoder config without its fixed fields", "esds",
       {0, 0, 0, 0, 0x03, 0x06, 0x00, 0x01, 0x00, 0x04, 0x01, 0x20}, 0x20, {}},
      {"specific info larger than what is left", "esds",
       {0, 0, 0, 0, 0x03, 0x16, 0x00, 0x01, 0x00, 0x04, 0x11, 0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x05, 0x09, 0x12, 0x10}, 0x40, {}},
      {"advanced dvc1 with sequence start code", "dvc1", {0xC5, 1, 2, 3, 4, 5, 6, 0x00, 0x00, 0x01, 0x0F, 0x99},
       kNone, {0x01, 0x00, 0x00, 0x01, 0x0F, 0x99}},
      {"advanced dvc1 without start code", "dvc1", {0xC5, 1, 2, 3, 4, 5, 6, 0x00, 0x00, 0x01, 0x0E}, kNone,
       {0x00, 0x00, 0x01, 0x0E}},
      {"simple dvc1 from offset 16", "dvc1", simpleVc1, kNone, {0xAA, 0xBB}},
      {"advanced dvc1 too short for its header", "dvc1", {0xC5, 1, 2}, kNone, {}},
      {"wfex copied whole", "wfex", {1, 2, 3, 4, 5}, kNone, {1, 2, 3, 4, 5}},
      {"child larger than the entry", "avcC", {9, 9}, kNone, {9, 9}, {0, 0, 1, 0x90, 'h', 'v', 'c', 'C', 7, 7},
       VFW_E_INVALID_FILE_FORMAT},
  };
  for (const auto& c : cases) {
    // An unknown box first: the walk steps over it.
    BoxBuilder b;
    char type[5];
    std::copy(c.type, c.type + 5, type);
    b.Box("free", [&] { b.Zeros(3); }).Box(type, [&] { b.Bytes(c.body); }).Bytes(c.after);
    SampleEntry entry(Box(), nullptr, kSampleEntryPlain);
    EXPECT_EQ(entry.SetPayload(static_cast<LONG>(b.Size()), b.Data().data()), c.result) << c.name;
    EXPECT_EQ(entry.objectTypeIndication, c.objectType) << c.name;
    EXPECT_EQ(Contents(entry.codecConfig), c.config) << c.name;
  }
}

// An entry at offset 0 of a source: the 8 common bytes (data reference
// index 5) and a tail. A tail of 8 bytes or fewer is kept but not walked;
// a malformed child ends the walk quietly; a payload past the source is
// refused before a buffer is sized by it.
TEST(SampleEntryTest, FixedFieldsAndPayloadAreReadWithinTheirBounds) {
  // {tail, declared size, room in "stsd", result, payload kept, configuration}
  const std::tuple<Bytes, LONGLONG, LONGLONG, HRESULT, LONG, Bytes> cases[] = {
      {{0, 0, 0, 8, 'a', 'v', 'c', 'C'}, 16, 16, S_OK, 8, {}},
      {{0, 0, 0, 10, 'a', 'v', 'c', 'C', 1, 2, 0, 0, 0, 99, 'f', 'r', 'e', 'e'}, 26, 26, S_OK, 18, {1, 2}},
      {{}, 6, 6, STG_E_INVALIDHEADER, 0, {}},
      {{}, 16, 15, VFW_E_INVALID_FILE_FORMAT, 0, {}},
      {{1, 2, 3}, 0x7FFFFFF0, 0x7FFFFFF0, S_FALSE, 0, {}},
  };
  for (const auto& [tail, declared, room, result, kept, config] : cases) {
    Bytes bytes = {0, 0, 0, 0, 0, 0, 0, 5};
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    ComPtr<MemorySource> source = MemorySource::Create(bytes);
    Box header;
    header.size = declared;
    SampleEntry entry(header, nullptr, kSampleEntryPlain);
    LONGLONG position = 0, remaining = room;
    HRESULT hr = entry.ReadFixedFields(source.Get(), &position, &remaining);
    if (hr == S_OK) hr = entry.ReadPayload(source.Get(), &position);
    EXPECT_EQ(std::make_tuple(hr, entry.payload.Length(), Contents(entry.codecConfig)),
              std::make_tuple(result, kept, config));
    EXPECT_EQ(entry.dataReferenceIndex, hr == S_OK || hr == S_FALSE ? 5 : 0);
    EXPECT_EQ(entry.payload.Capacity() == 0, hr != S_OK);
  }
}

}  // namespace
