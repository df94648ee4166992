#include "sample_entry_reading.h"

#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

namespace {

const std::vector<uint8_t> kAvcConfig = {0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x04,
                                         0x67, 0x64, 0x00, 0x1F, 0x01, 0x00, 0x02, 0x68, 0xEB};
// ffmpeg's MPEG-4 Simple Profile configuration (tests/data/mpeg4_part2.mp4):
// visual object sequence, visual object, video object, then the layer.
const std::vector<uint8_t> kMp4vConfig = {0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb5, 0x89,
                                          0x13, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00,
                                          0xc4, 0x8d, 0x88, 0x00, 0xc5, 0x05, 0x84, 0x12, 0x14, 0x63};

VideoSampleEntry& AsVideo(const ReadEntryResult& read) { return dynamic_cast<VideoSampleEntry&>(*read.entry); }
// The entry dies with its result, so a temporary result would dangle.
VideoSampleEntry& AsVideo(ReadEntryResult&&) = delete;

// A video entry of `format` followed by the bytes of its child boxes.
BoxBuilder VideoEntry(const char (&format)[5], uint16_t width, uint16_t height,
                      const std::vector<uint8_t>& children = {}) {
  BoxBuilder b;
  b.Box(format, [&] {
    WriteCommonFields(b);
    WriteVisualFields(b, width, height);
    b.Bytes(children);
  });
  return b;
}

class VideoSampleEntryTest : public ::testing::Test {};

TEST_F(VideoSampleEntryTest, VisualFieldsAreReadAtTheirOffsets) {
  BoxBuilder b;
  b.Box("avc1", [&] {
    WriteCommonFields(b, 7);
    b.Zeros(16).U16(720).U16(480).U32(0x00480000).U32(0x00960000).U32(0).U16(1);
    b.U8(4).Text("x264").Zeros(27);
    b.U16(24).U16(0xFFFF);
  });
  const ReadEntryResult read = ReadEntry(kTestKindVideo, b);
  ASSERT_EQ(read.fixedFields, S_OK);
  EXPECT_EQ(read.payload, S_OK);
  const VideoSampleEntry& video = AsVideo(read);
  EXPECT_EQ(video.dataReferenceIndex, 7);
  EXPECT_EQ(video.width, 720);
  EXPECT_EQ(video.height, 480);
  EXPECT_EQ(video.horizResolution, 0x00480000u);
  EXPECT_EQ(video.vertResolution, 0x00960000u);
  EXPECT_EQ(video.frameCount, 1);
  EXPECT_EQ(video.compressorName[0], 4);
  EXPECT_EQ(video.compressorName[1], 'x');
  EXPECT_EQ(video.depth, 24);
  EXPECT_EQ(video.payload.Length(), 0);
}

TEST_F(VideoSampleEntryTest, Avc1WithAvcCAndPaspKeepsConfigAndPixelAspect) {
  BoxBuilder children;
  children.Box("avcC", [&] { children.Bytes(kAvcConfig); }).Box("pasp", [&] { children.U32(4).U32(3); });
  const BoxBuilder b = VideoEntry("avc1", 720, 480, children.Data());
  const ReadEntryResult read = ReadEntry(kTestKindVideo, b);
  ASSERT_EQ(read.payload, S_OK);
  const VideoSampleEntry& video = AsVideo(read);
  EXPECT_EQ(Slice(video.codecConfig), kAvcConfig);
  EXPECT_EQ(Slice(video.payload), children.Data());
  EXPECT_EQ(video.hasPixelAspect, 1);
  EXPECT_EQ(video.pixelAspectH, 4u);
  EXPECT_EQ(video.pixelAspectV, 3u);
}

TEST_F(VideoSampleEntryTest, ShortPaspIsIgnored) {
  BoxBuilder pasp;
  pasp.Box("pasp", [&] { pasp.U32(4).U16(3); });
  const ReadEntryResult read = ReadEntry(kTestKindVideo, VideoEntry("avc1", 64, 64, pasp.Data()));
  const VideoSampleEntry& video = AsVideo(read);
  EXPECT_EQ(video.hasPixelAspect, 0);
  EXPECT_EQ(video.pixelAspectH, 1u);
  EXPECT_EQ(video.pixelAspectV, 1u);
}

TEST_F(VideoSampleEntryTest, FixedFieldsCutShortAreInvalidHeader) {
  // Every cut inside the 78 fixed bytes, including inside the common ones.
  for (size_t kept : {0u, 4u, 7u, 20u, 41u, 76u, 77u}) {
    BoxBuilder full;
    full.Box("avc1", [&] {
      WriteCommonFields(full);
      WriteVisualFields(full, 64, 64);
    });
    std::vector<uint8_t> body(full.Data().begin() + 8, full.Data().begin() + 8 + static_cast<long>(kept));
    BoxBuilder b;
    b.Box("avc1", [&] { b.Bytes(body); });
    EXPECT_EQ(ReadEntry(kTestKindVideo, b).fixedFields, STG_E_INVALIDHEADER) << kept;
  }
}

class Mp4vLayerTest : public ::testing::Test {
 protected:
  // An "mp4v" entry of 0 x 0 whose esds holds `config`.
  static ReadEntryResult Read(const std::vector<uint8_t>& config, uint16_t width = 0, uint16_t height = 0) {
    EsDescriptorSpec spec;
    spec.objectType = 0x20;
    spec.decoderSpecificInfo = config;
    spec.longSizes = true;
    BoxBuilder b;
    b.Box("mp4v", [&] {
      WriteCommonFields(b);
      WriteVisualFields(b, width, height);
      WriteEsds(b, spec);
    });
    return ReadEntry(kTestKindVideo, b);
  }
  // kMp4vConfig with the layer's aspect_ratio_info replaced (bits 17-20 of
  // the layer header, which starts at byte 19).
  static std::vector<uint8_t> WithAspectCode(uint8_t code) {
    std::vector<uint8_t> config = kMp4vConfig;
    config[21] = static_cast<uint8_t>((config[21] & 0x87) | (code << 3));
    return config;
  }
};

TEST_F(Mp4vLayerTest, LayerHeaderGivesThePictureSize) {
  const ReadEntryResult read = Read(kMp4vConfig, 320, 240);
  const VideoSampleEntry& video = AsVideo(read);
  EXPECT_EQ(video.objectTypeIndication, 0x20u);
  EXPECT_EQ(Slice(video.codecConfig), kMp4vConfig);
  EXPECT_EQ(video.width, 176);
  EXPECT_EQ(video.height, 144);
  EXPECT_EQ(video.hasPixelAspect, 0);
  EXPECT_EQ(video.lastResult, S_OK);
}

TEST_F(Mp4vLayerTest, AspectRatioInfoThreeIsTenToEleven) {
  const ReadEntryResult read = Read(WithAspectCode(3));
  const VideoSampleEntry& video = AsVideo(read);
  EXPECT_EQ(video.hasPixelAspect, 1);
  EXPECT_EQ(video.pixelAspectH, 10u);
  EXPECT_EQ(video.pixelAspectV, 11u);
}

TEST_F(Mp4vLayerTest, NonRectangularShapeKeepsTheEntrySizeAndFails) {
  std::vector<uint8_t> config = kMp4vConfig;
  // video_object_layer_shape sits in bits 26-27 of the layer header.
  config[22] |= 0x20;
  const ReadEntryResult read = Read(config, 352, 288);
  const VideoSampleEntry& video = AsVideo(read);
  EXPECT_EQ(read.payload, S_OK);
  EXPECT_EQ(video.lastResult, E_FAIL);
  EXPECT_EQ(video.width, 352);
  EXPECT_EQ(video.height, 288);
}

TEST_F(Mp4vLayerTest, OtherFormatsDoNotLookForALayer) {
  EsDescriptorSpec spec;
  spec.objectType = 0x20;
  spec.decoderSpecificInfo = kMp4vConfig;
  BoxBuilder b;
  b.Box("s263", [&] {
    WriteCommonFields(b);
    WriteVisualFields(b, 352, 288);
    WriteEsds(b, spec);
  });
  const ReadEntryResult read = ReadEntry(kTestKindVideo, b);
  const VideoSampleEntry& video = AsVideo(read);
  EXPECT_EQ(video.width, 352);
  EXPECT_EQ(Slice(video.codecConfig), kMp4vConfig);
}

}  // namespace
