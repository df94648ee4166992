#include "streams/video_object_layer.h"

#include "streams/bit_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Writes fields most significant bit first; the last byte is zero-padded.
class BitWriter {
 public:
  BitWriter& Put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
      ++bits_;
    }
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t bits_ = 0;
};

struct VolSpec {
  bool objectLayerIdentifier = false;
  uint32_t aspectRatioInfo = 1;
  uint32_t parWidth = 0;
  uint32_t parHeight = 0;
  bool controlParameters = false;
  bool vbvParameters = false;
  uint32_t shape = 0;
  uint32_t resolution = 25;
  bool fixedRate = false;
  int incrementBits = 0;
  uint32_t increment = 0;
  uint32_t width = 320;
  uint32_t height = 240;
};

std::vector<uint8_t> BuildVolHeader(const VolSpec& s) {
  BitWriter w;
  w.Put(0, 1).Put(1, 8).Put(s.objectLayerIdentifier, 1);
  if (s.objectLayerIdentifier) w.Put(0xF, 4).Put(0x7, 3);
  w.Put(s.aspectRatioInfo, 4);
  if (s.aspectRatioInfo == 15) w.Put(s.parWidth, 8).Put(s.parHeight, 8);
  w.Put(s.controlParameters, 1);
  if (s.controlParameters) {
    w.Put(1, 2).Put(1, 1).Put(s.vbvParameters, 1);
    // All ones, so a reader that skips too little sees a non-rectangular shape.
    if (s.vbvParameters) {
      for (int i = 0; i < 79; ++i) w.Put(1, 1);
    }
  }
  w.Put(s.shape, 2).Put(1, 1).Put(s.resolution, 16).Put(1, 1).Put(s.fixedRate, 1);
  if (s.fixedRate) w.Put(s.increment, s.incrementBits);
  w.Put(1, 1).Put(s.width, 13).Put(1, 1).Put(s.height, 13).Put(1, 1).Put(0, 1);
  return w.Bytes();
}

VideoObjectLayerFields EntryFields() {
  VideoObjectLayerFields fields;
  fields.width = 640;
  fields.height = 480;
  return fields;
}

TEST(BitReaderTest, ReadPastTheEndConsumesNothing) {
  const uint8_t bytes[] = {0xA5, 0x0F};
  CBitReader reader(bytes, sizeof bytes);
  DWORD value = 0;
  ASSERT_TRUE(reader.Read(3, &value));
  EXPECT_EQ(value, 5u);
  EXPECT_FALSE(reader.Read(14, &value));
  EXPECT_EQ(reader.BitsLeft(), 13u);
  ASSERT_TRUE(reader.Read(13, &value));
  EXPECT_EQ(value, 0x050Fu);
  EXPECT_FALSE(reader.Skip(1));
}

TEST(BitReaderTest, ThirtyTwoBitReadKeepsEveryBit) {
  const uint8_t bytes[] = {0xDE, 0xAD, 0xBE, 0xEF};
  CBitReader reader(bytes, sizeof bytes);
  DWORD value = 0;
  ASSERT_TRUE(reader.Read(32, &value));
  EXPECT_EQ(value, 0xDEADBEEFu);
}

TEST(VideoObjectLayerTest, FfmpegSimpleProfileHeaderGivesItsPictureSize) {
  // The VOL of tests/data/mpeg4_part2.mp4's DecoderSpecificInfo after 00 00 01 20.
  const std::vector<uint8_t> vol = {0x00, 0xc4, 0x8d, 0x88, 0x00, 0xc5, 0x05, 0x84, 0x12, 0x14, 0x63};
  VideoObjectLayerFields fields = EntryFields();
  EXPECT_EQ(ParseVideoObjectLayerHeader(vol.data(), vol.size(), &fields), S_OK);
  EXPECT_EQ(fields.width, 176);
  EXPECT_EQ(fields.height, 144);
  EXPECT_EQ(fields.hasPixelAspect, 0);
}

struct AspectRow {
  uint32_t code;
  DWORD h;
  DWORD v;
};

TEST(VideoObjectLayerTest, AspectRatioCodesMapToTheirPixelAspect) {
  const AspectRow rows[] = {{2, 12, 11}, {3, 10, 11}, {4, 16, 11}, {5, 40, 33}};
  for (const AspectRow& row : rows) {
    VolSpec spec;
    spec.aspectRatioInfo = row.code;
    const std::vector<uint8_t> vol = BuildVolHeader(spec);
    VideoObjectLayerFields fields = EntryFields();
    ASSERT_EQ(ParseVideoObjectLayerHeader(vol.data(), vol.size(), &fields), S_OK) << row.code;
    EXPECT_EQ(fields.hasPixelAspect, 1) << row.code;
    EXPECT_EQ(fields.pixelAspectH, row.h) << row.code;
    EXPECT_EQ(fields.pixelAspectV, row.v) << row.code;
  }
}

TEST(VideoObjectLayerTest, SquareAndReservedAspectCodesLeaveTheRatioAlone) {
  for (uint32_t code : {0u, 1u, 6u, 14u}) {
    VolSpec spec;
    spec.aspectRatioInfo = code;
    const std::vector<uint8_t> vol = BuildVolHeader(spec);
    VideoObjectLayerFields fields = EntryFields();
    ASSERT_EQ(ParseVideoObjectLayerHeader(vol.data(), vol.size(), &fields), S_OK) << code;
    EXPECT_EQ(fields.hasPixelAspect, 0) << code;
    EXPECT_EQ(fields.pixelAspectH, 1u) << code;
  }
}

TEST(VideoObjectLayerTest, ExtendedAspectReadsParWidthAndHeight) {
  VolSpec spec;
  spec.aspectRatioInfo = 15;
  spec.parWidth = 64;
  spec.parHeight = 45;
  spec.width = 720;
  spec.height = 576;
  const std::vector<uint8_t> vol = BuildVolHeader(spec);
  VideoObjectLayerFields fields = EntryFields();
  ASSERT_EQ(ParseVideoObjectLayerHeader(vol.data(), vol.size(), &fields), S_OK);
  EXPECT_EQ(fields.hasPixelAspect, 1);
  EXPECT_EQ(fields.pixelAspectH, 64u);
  EXPECT_EQ(fields.pixelAspectV, 45u);
  EXPECT_EQ(fields.width, 720);
  EXPECT_EQ(fields.height, 576);
}

TEST(VideoObjectLayerTest, OptionalBlocksAreSkippedByTheirExactWidth) {
  VolSpec spec;
  spec.objectLayerIdentifier = true;
  spec.controlParameters = true;
  spec.vbvParameters = true;
  spec.width = 1920;
  spec.height = 1088;
  const std::vector<uint8_t> vol = BuildVolHeader(spec);
  VideoObjectLayerFields fields = EntryFields();
  ASSERT_EQ(ParseVideoObjectLayerHeader(vol.data(), vol.size(), &fields), S_OK);
  EXPECT_EQ(fields.width, 1920);
  EXPECT_EQ(fields.height, 1088);
}

TEST(VideoObjectLayerTest, FixedIncrementWidthFollowsTheResolution) {
  struct Row {
    uint32_t resolution;
    int bits;
    uint32_t increment;
  };
  // 30000 - 1 needs 15 bits; 1 - 1 still takes 1; 65535 - 1 needs all 16.
  const Row rows[] = {{30000, 15, 1001}, {1, 1, 1}, {65535, 16, 2}, {2, 1, 1}, {3, 2, 1}};
  for (const Row& row : rows) {
    VolSpec spec;
    spec.resolution = row.resolution;
    spec.fixedRate = true;
    spec.incrementBits = row.bits;
    spec.increment = row.increment;
    spec.width = 352;
    spec.height = 288;
    const std::vector<uint8_t> vol = BuildVolHeader(spec);
    VideoObjectLayerFields fields = EntryFields();
    ASSERT_EQ(ParseVideoObjectLayerHeader(vol.data(), vol.size(), &fields), S_OK) << row.resolution;
    EXPECT_EQ(fields.width, 352) << row.resolution;
    EXPECT_EQ(fields.height, 288) << row.resolution;
  }
}

TEST(VideoObjectLayerTest, InvalidTimingOrShapeFailsAndKeepsTheEntrySize) {
  VolSpec nonRectangular;
  nonRectangular.shape = 1;
  nonRectangular.aspectRatioInfo = 3;
  VolSpec zeroResolution;
  zeroResolution.resolution = 0;
  VolSpec zeroIncrement;
  zeroIncrement.fixedRate = true;
  zeroIncrement.resolution = 30;
  zeroIncrement.incrementBits = 5;
  zeroIncrement.increment = 0;
  for (const VolSpec& spec : {nonRectangular, zeroResolution, zeroIncrement}) {
    const std::vector<uint8_t> vol = BuildVolHeader(spec);
    VideoObjectLayerFields fields = EntryFields();
    EXPECT_EQ(ParseVideoObjectLayerHeader(vol.data(), vol.size(), &fields), E_FAIL);
    EXPECT_EQ(fields.width, 640);
    EXPECT_EQ(fields.height, 480);
  }
}

TEST(VideoObjectLayerTest, NonRectangularShapeKeepsTheAspectReadBeforeIt) {
  VolSpec spec;
  spec.shape = 2;
  spec.aspectRatioInfo = 3;
  const std::vector<uint8_t> vol = BuildVolHeader(spec);
  VideoObjectLayerFields fields = EntryFields();
  EXPECT_EQ(ParseVideoObjectLayerHeader(vol.data(), vol.size(), &fields), E_FAIL);
  EXPECT_EQ(fields.pixelAspectH, 10u);
  EXPECT_EQ(fields.pixelAspectV, 11u);
}

TEST(VideoObjectLayerTest, RunningOutOfBitsIsIncompleteAtEveryCut) {
  VolSpec spec;
  spec.aspectRatioInfo = 2;
  const std::vector<uint8_t> vol = BuildVolHeader(spec);
  // The height's last bit is the header's 64th; every shorter cut stops early.
  for (size_t cut = 0; cut < 8; ++cut) {
    VideoObjectLayerFields fields = EntryFields();
    EXPECT_EQ(ParseVideoObjectLayerHeader(vol.data(), cut, &fields), kVideoObjectLayerIncomplete) << cut;
    EXPECT_EQ(fields.height, 480) << cut;
  }
  VideoObjectLayerFields fields = EntryFields();
  EXPECT_EQ(ParseVideoObjectLayerHeader(vol.data(), 8, &fields), S_OK);
}

TEST(VideoObjectLayerScanTest, SkipsOtherStartCodesToTheFirstLayer) {
  // Visual object sequence, visual object and video object before the layer.
  const std::vector<uint8_t> config = {0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb5, 0x89, 0x13,
                                       0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xc4, 0x8d,
                                       0x88, 0x00, 0xc5, 0x05, 0x84, 0x12, 0x14, 0x63};
  VideoObjectLayerFields fields = EntryFields();
  HRESULT result = E_UNEXPECTED;
  ASSERT_TRUE(ParseFirstVideoObjectLayer(config.data(), config.size(), &fields, &result));
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(fields.width, 176);
  EXPECT_EQ(fields.height, 144);
}

TEST(VideoObjectLayerScanTest, StartCodeNearTheEndEndsTheScan) {
  // Four bytes after the prefix: too few to look at.
  const std::vector<uint8_t> config = {0x00, 0x00, 0x01, 0x20, 0x00, 0xc4, 0x8d};
  VideoObjectLayerFields fields = EntryFields();
  HRESULT result = E_UNEXPECTED;
  EXPECT_FALSE(ParseFirstVideoObjectLayer(config.data(), config.size(), &fields, &result));
  EXPECT_EQ(result, E_UNEXPECTED);
}

TEST(VideoObjectLayerScanTest, ConfigWithoutLayerFindsNothing) {
  const std::vector<uint8_t> config = {0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb5, 0x89, 0x13, 0x00};
  VideoObjectLayerFields fields = EntryFields();
  HRESULT result = S_OK;
  EXPECT_FALSE(ParseFirstVideoObjectLayer(config.data(), config.size(), &fields, &result));
  EXPECT_FALSE(ParseFirstVideoObjectLayer(nullptr, 0, &fields, &result));
}

}  // namespace
