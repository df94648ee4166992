#include "sample_entry_reading.h"

#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

// ffmpeg's MPEG-4 Simple Profile configuration (tests/data/mpeg4_part2.mp4):
// visual object sequence, visual object, video object, then the 176x144 layer.
const Bytes kMp4vConfig = {0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb5, 0x89, 0x13, 0x00, 0x00, 0x01, 0x00,
                           0x00, 0x00, 0x01, 0x20, 0x00, 0xc4, 0x8d, 0x88, 0x00, 0xc5, 0x05, 0x84, 0x12, 0x14, 0x63};

ReadEntryResult ReadVideo(const char (&format)[5], uint16_t width, uint16_t height, const Bytes& children) {
  BoxBuilder b;
  b.Box(format, [&] {
    WriteCommonFields(b);
    WriteVisualFields(b, width, height);
    b.Bytes(children);
  });
  return ReadEntry(kTestKindVideo, b);
}

TEST(VideoSampleEntryTest, FixedFieldsCutShortAreInvalidHeader) {
  // Every cut inside the 78 fixed bytes, including inside the common ones.
  for (size_t kept : {0u, 4u, 7u, 20u, 41u, 76u, 77u}) {
    BoxBuilder full;
    WriteCommonFields(full);
    WriteVisualFields(full, 64, 64);
    BoxBuilder b;
    b.Box("avc1", [&] { b.Bytes(Bytes(full.Data().begin(), full.Data().begin() + kept)); });
    EXPECT_EQ(ReadEntry(kTestKindVideo, b).fixedFields, STG_E_INVALIDHEADER) << kept;
  }
}

TEST(VideoSampleEntryTest, SizeAndAspectFromTheMp4vLayerHeaderAndPasp) {
  Bytes aspect10To11 = kMp4vConfig;
  aspect10To11[21] = static_cast<uint8_t>((aspect10To11[21] & 0x87) | (3 << 3));  // aspect_ratio_info 3
  Bytes nonRectangular = kMp4vConfig;
  nonRectangular[22] |= 0x20;  // video_object_layer_shape
  BoxBuilder shortPasp;
  shortPasp.Box("pasp", [&] { shortPasp.U32(4).U16(3); });
  const struct {
    const char* name;
    bool mp4v;  // else "s263"
    Bytes config;
    Bytes otherChildren;
    HRESULT lastResult;
    // width, height, has aspect, aspect h, aspect v
    std::vector<DWORD> fields;
  } rows[] = {
      {"layer gives the size", true, kMp4vConfig, {}, S_OK, {176, 144, 0, 1, 1}},
      {"aspect code 3 is 10:11", true, aspect10To11, {}, S_OK, {176, 144, 1, 10, 11}},
      {"non-rectangular shape keeps the entry size", true, nonRectangular, {}, E_FAIL, {352, 288, 0, 1, 1}},
      {"other formats do not look for a layer", false, kMp4vConfig, {}, S_OK, {352, 288, 0, 1, 1}},
      {"a short pasp is ignored", false, kMp4vConfig, shortPasp.Data(), S_OK, {352, 288, 0, 1, 1}},
  };
  for (const auto& row : rows) {
    EsDescriptorSpec spec;
    spec.objectType = 0x20;
    spec.decoderSpecificInfo = row.config;
    spec.longSizes = true;
    BoxBuilder children;
    children.Bytes(EsdsBox(spec)).Bytes(row.otherChildren);
    const ReadEntryResult read =
        row.mp4v ? ReadVideo("mp4v", 352, 288, children.Data()) : ReadVideo("s263", 352, 288, children.Data());
    ASSERT_EQ(read.payload, S_OK) << row.name;
    const auto& video = dynamic_cast<const VideoSampleEntry&>(*read.entry);
    EXPECT_EQ(Slice(video.codecConfig), row.config) << row.name;
    EXPECT_EQ(video.lastResult, row.lastResult) << row.name;
    EXPECT_EQ(std::vector<DWORD>({video.width, video.height, video.hasPixelAspect, video.pixelAspectH, video.pixelAspectV}),
              row.fields)
        << row.name;
  }
}

}  // namespace
