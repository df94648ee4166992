#include "sample_entry_fixtures.h"

#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(VideoSampleEntryTest, FixedFieldsCutShortAreInvalidHeader) {
  const Bytes full = VisualEntryBody(64, 64);
  for (size_t kept : {0u, 20u, 41u, 69u}) {
    EXPECT_EQ(ParseMediaTypeMovie({.entryBody = Bytes(full.begin(), full.begin() + kept)}).result, STG_E_INVALIDHEADER)
        << kept;
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
    const char* format;  // "s263" has no layer header to read
    Bytes config, otherChildren;
    HRESULT lastResult;
    std::vector<DWORD> fields;  // width, height, has aspect, aspect h, aspect v
  } rows[] = {
      {"mp4v", config, {}, S_OK, {176, 144, 0, 1, 1}},
      {"mp4v", aspect10To11, {}, S_OK, {176, 144, 1, 10, 11}},
      {"mp4v", nonRectangular, {}, E_FAIL, {352, 288, 0, 1, 1}},
      {"s263", config, shortPasp.Data(), S_OK, {352, 288, 0, 1, 1}},
  };
  for (const auto& row : rows) {
    Bytes children = EsdsBox({0x20, row.config, true});
    children.insert(children.end(), row.otherChildren.begin(), row.otherChildren.end());
    const ParsedMovie movie = ParseMediaTypeMovie({.format = row.format, .entryBody = VisualEntryBody(352, 288, children)});
    ASSERT_EQ(movie.result, S_OK);
    const auto& v = dynamic_cast<const VideoSampleEntry&>(EntryOf(movie));
    EXPECT_EQ(Slice(v.codecConfig), row.config);
    EXPECT_EQ(v.lastResult, row.lastResult);
    EXPECT_EQ(std::vector<DWORD>({v.width, v.height, v.hasPixelAspect, v.pixelAspectH, v.pixelAspectV}), row.fields);
  }
}

}  // namespace
