#include "sample_entry_fixtures.h"

#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(VideoSampleEntryTest, FixedFieldsCutShortAreInvalidHeader) {
  BoxBuilder full;
  WriteCommonFields(full);
  WriteVisualFields(full, 64, 64);
  // Every cut inside the 78 fixed bytes, including inside the common ones.
  for (size_t kept : {0u, 4u, 7u, 20u, 41u, 76u, 77u}) {
    BoxBuilder b;
    b.Box("avc1", [&] { b.Bytes(Bytes(full.Data().begin(), full.Data().begin() + kept)); });
    EXPECT_EQ(ReadEntry(kTestKindVideo, b).fixedFields, STG_E_INVALIDHEADER) << kept;
  }
}

TEST(VideoSampleEntryTest, SizeAndAspectFromTheMp4vLayerHeaderAndPasp) {
  // ffmpeg's MPEG-4 Simple Profile configuration (tests/data/mpeg4_part2.mp4):
  // visual object sequence, visual object, video object, then the 176x144 layer.
  const Bytes config = {0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb5, 0x89, 0x13, 0x00, 0x00, 0x01, 0x00,
                        0x00, 0x00, 0x01, 0x20, 0x00, 0xc4, 0x8d, 0x88, 0x00, 0xc5, 0x05, 0x84, 0x12, 0x14, 0x63};
  Bytes aspect10To11 = config, nonRectangular = config;
  aspect10To11[21] = static_cast<uint8_t>((aspect10To11[21] & 0x87) | (3 << 3));  // aspect_ratio_info 3
  nonRectangular[22] |= 0x20;                                                     // video_object_layer_shape
  BoxBuilder shortPasp;
  shortPasp.Box("pasp", [&] { shortPasp.U32(4).U16(3); });
  const struct {
    bool mp4v;  // else "s263", which has no layer header to read
    Bytes config, otherChildren;
    HRESULT lastResult;
    std::vector<DWORD> fields;  // width, height, has aspect, aspect h, aspect v
  } rows[] = {
      {true, config, {}, S_OK, {176, 144, 0, 1, 1}},
      {true, aspect10To11, {}, S_OK, {176, 144, 1, 10, 11}},
      {true, nonRectangular, {}, E_FAIL, {352, 288, 0, 1, 1}},
      {false, config, shortPasp.Data(), S_OK, {352, 288, 0, 1, 1}},
  };
  for (const auto& row : rows) {
    BoxBuilder b;
    b.Box(row.mp4v ? "mp4v" : "s263", [&] {
      WriteCommonFields(b);
      WriteVisualFields(b, 352, 288);
      b.Bytes(EsdsBox({0x20, row.config, true})).Bytes(row.otherChildren);
    });
    const ReadEntryResult read = ReadEntry(kTestKindVideo, b);
    ASSERT_EQ(read.payload, S_OK);
    const auto& v = dynamic_cast<const VideoSampleEntry&>(*read.entry);
    EXPECT_EQ(Slice(v.codecConfig), row.config);
    EXPECT_EQ(v.lastResult, row.lastResult);
    EXPECT_EQ(std::vector<DWORD>({v.width, v.height, v.hasPixelAspect, v.pixelAspectH, v.pixelAspectV}), row.fields);
  }
}

}  // namespace
