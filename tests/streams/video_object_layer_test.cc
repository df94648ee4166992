#include "streams/video_object_layer.h"

#include "bit_writer.h"

#include "streams/bit_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct VolSpec {
  bool objectLayerIdentifier = false;
  uint32_t aspectRatioInfo = 1;
  uint32_t parWidth = 0, parHeight = 0;
  bool vbvParameters = false;
  uint32_t shape = 0;
  uint32_t resolution = 25;
  int incrementBits = 0;  // 0: no fixed increment
  uint32_t increment = 0;
  uint32_t width = 320, height = 240;
};

Bytes BuildVolHeader(const VolSpec& s) {
  BitWriter w;
  w.Bits(0, 1).Bits(1, 8).Flag(s.objectLayerIdentifier);
  if (s.objectLayerIdentifier) w.Bits(0xF, 4).Bits(0x7, 3);
  w.Bits(s.aspectRatioInfo, 4);
  if (s.aspectRatioInfo == 15) w.Bits(s.parWidth, 8).Bits(s.parHeight, 8);
  w.Flag(s.vbvParameters);  // vol_control_parameters
  // All ones, so a reader that skips too little sees a non-rectangular shape.
  if (s.vbvParameters) w.Bits(1, 2).Flag(true).Flag(true).Bits(0x7FFF, 15).Bits(0xFFFFFFFFFFFFFFFF, 64);
  w.Bits(s.shape, 2).Flag(true).Bits(s.resolution, 16).Flag(true).Flag(s.incrementBits > 0);
  if (s.incrementBits > 0) w.Bits(s.increment, s.incrementBits);
  return w.Flag(true).Bits(s.width, 13).Flag(true).Bits(s.height, 13).Flag(true).Flag(false).Bytes();
}

// What the header leaves in fields that started as a 640x480 entry.
std::string Parse(const Bytes& vol, size_t size) {
  VideoObjectLayerFields f;
  f.width = 640, f.height = 480;
  const HRESULT hr = ParseVideoObjectLayerHeader(vol.data(), size, &f);
  const std::string result = hr == S_OK ? "ok" : hr == E_FAIL ? "fail" : hr == kVideoObjectLayerIncomplete ? "short" : "?";
  return result + " " + std::to_string(f.width) + "x" + std::to_string(f.height) + " aspect " +
         std::to_string(f.hasPixelAspect) + " " + std::to_string(f.pixelAspectH) + ":" + std::to_string(f.pixelAspectV);
}
std::string Parse(const VolSpec& spec) {
  const Bytes vol = BuildVolHeader(spec);
  return Parse(vol, vol.size());
}

TEST(BitReaderTest, ReadPastTheEndConsumesNothing) {
  const uint8_t bytes[] = {0xA5, 0x0F, 0xDE, 0xAD, 0xBE, 0xEF};
  CBitReader reader(bytes, sizeof bytes);
  DWORD value = 0;
  ASSERT_TRUE(reader.Read(3, &value));
  EXPECT_EQ(value, 5u);
  EXPECT_FALSE(reader.Read(46, &value));
  ASSERT_TRUE(reader.Read(13, &value));
  EXPECT_EQ(value, 0x050Fu);
  EXPECT_FALSE(reader.Read(33, &value));
  EXPECT_EQ(reader.BitsLeft(), 32u);
  ASSERT_TRUE(reader.Read(32, &value));
  EXPECT_EQ(value, 0xDEADBEEFu);
  EXPECT_FALSE(reader.Skip(1));
}

TEST(VideoObjectLayerTest, HeaderGivesSizeAndPixelAspect) {
  const auto spec = [](auto change) {
    VolSpec s;
    change(s);
    return s;
  };
  const std::pair<VolSpec, const char*> rows[] = {
      {spec([](VolSpec& s) { s.aspectRatioInfo = 2; }), "ok 320x240 aspect 1 12:11"},
      {spec([](VolSpec& s) { s.aspectRatioInfo = 3; }), "ok 320x240 aspect 1 10:11"},
      {spec([](VolSpec& s) { s.aspectRatioInfo = 4; }), "ok 320x240 aspect 1 16:11"},
      {spec([](VolSpec& s) { s.aspectRatioInfo = 5; }), "ok 320x240 aspect 1 40:33"},
      // Square, forbidden and reserved codes leave the ratio alone.
      {spec([](VolSpec& s) { s.aspectRatioInfo = 0; }), "ok 320x240 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.aspectRatioInfo = 1; }), "ok 320x240 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.aspectRatioInfo = 6; }), "ok 320x240 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.aspectRatioInfo = 14; }), "ok 320x240 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.aspectRatioInfo = 15, s.parWidth = 64, s.parHeight = 45, s.width = 720, s.height = 576; }),
       "ok 720x576 aspect 1 64:45"},
      // Optional blocks are skipped by their exact width.
      {spec([](VolSpec& s) { s.objectLayerIdentifier = s.vbvParameters = true, s.width = 1920, s.height = 1088; }),
       "ok 1920x1088 aspect 0 1:1"},
      // The fixed increment takes as many bits as resolution - 1 needs, at least one.
      {spec([](VolSpec& s) { s.resolution = 30000, s.incrementBits = 15, s.increment = 1001; }), "ok 320x240 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.resolution = 1, s.incrementBits = 1, s.increment = 1; }), "ok 320x240 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.resolution = 2, s.incrementBits = 1, s.increment = 1; }), "ok 320x240 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.resolution = 3, s.incrementBits = 2, s.increment = 1; }), "ok 320x240 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.resolution = 65535, s.incrementBits = 16, s.increment = 2; }), "ok 320x240 aspect 0 1:1"},
      // Bad shape or timing fail and keep the entry's size, but not the aspect read before.
      {spec([](VolSpec& s) { s.shape = 1, s.aspectRatioInfo = 3; }), "fail 640x480 aspect 1 10:11"},
      {spec([](VolSpec& s) { s.shape = 2; }), "fail 640x480 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.resolution = 0; }), "fail 640x480 aspect 0 1:1"},
      {spec([](VolSpec& s) { s.resolution = 30, s.incrementBits = 5, s.increment = 0; }), "fail 640x480 aspect 0 1:1"},
  };
  for (const auto& [vol, expected] : rows) EXPECT_EQ(Parse(vol), expected);
}

TEST(VideoObjectLayerTest, RunningOutOfBitsIsIncompleteAtEveryCut) {
  VolSpec spec;
  spec.aspectRatioInfo = 2;
  const Bytes vol = BuildVolHeader(spec);
  // The height's last bit is the header's 64th; every shorter cut stops early.
  EXPECT_EQ(Parse(vol, 0), "short 640x480 aspect 0 1:1");
  EXPECT_EQ(Parse(vol, 7), "short 320x480 aspect 1 12:11");
  for (size_t cut = 1; cut < 7; ++cut) EXPECT_EQ(Parse(vol, cut).substr(0, 6), "short ") << cut;
  EXPECT_EQ(Parse(vol, 8), "ok 320x240 aspect 1 12:11");
}

TEST(VideoObjectLayerScanTest, FindsTheFirstLayerStartCodeWithRoomAfterIt) {
  // ffmpeg's configuration in tests/data/mpeg4_part2.mp4: visual object
  // sequence, visual object and video object before the 176x144 layer.
  const Bytes config = {0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb5, 0x89, 0x13, 0x00, 0x00, 0x01, 0x00,
                        0x00, 0x00, 0x01, 0x20, 0x00, 0xc4, 0x8d, 0x88, 0x00, 0xc5, 0x05, 0x84, 0x12, 0x14, 0x63};
  VideoObjectLayerFields fields;
  HRESULT result = E_UNEXPECTED;
  ASSERT_TRUE(ParseFirstVideoObjectLayer(config.data(), config.size(), &fields, &result));
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(std::make_pair(fields.width, fields.height), std::make_pair(WORD{176}, WORD{144}));
  // Without a layer start code, or with fewer than 5 bytes after one, nothing is parsed.
  for (const Bytes& none : {Bytes(config.begin(), config.begin() + 12), Bytes{0x00, 0x00, 0x01, 0x20, 0x00, 0xc4, 0x8d}, Bytes{}}) {
    result = E_UNEXPECTED;
    EXPECT_FALSE(ParseFirstVideoObjectLayer(none.data(), none.size(), &fields, &result));
    EXPECT_EQ(result, E_UNEXPECTED);
  }
}

}  // namespace
