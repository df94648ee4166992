#include "streams/video_object_layer.h"

#include "test_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using Bytes = std::vector<uint8_t>;

// A rectangular 320x240 layer at 25 ticks per second, with square pixels.
struct VolSpec {
  bool objectLayerIdentifier = false;
  uint32_t aspectRatioInfo = 1, parWidth = 0, parHeight = 0;
  bool vbvParameters = false;
  uint32_t shape = 0, resolution = 25;
  int incrementBits = 0;  // 0: no fixed increment
  uint32_t increment = 0, width = 320, height = 240;
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

// The result and what the header leaves in fields that started as a 640x480 entry's.
std::string Parse(const Bytes& vol, size_t size = SIZE_MAX) {
  VideoObjectLayerFields f;
  f.width = 640, f.height = 480;
  const HRESULT hr = ParseVideoObjectLayerHeader(vol.data(), std::min(size, vol.size()), &f);
  char text[64];
  std::snprintf(text, sizeof text, "%s %ux%u aspect %u %u:%u",
                hr == S_OK ? "ok" : hr == E_FAIL ? "fail" : hr == kVideoObjectLayerIncomplete ? "short" : "?", f.width,
                f.height, f.hasPixelAspect, f.pixelAspectH, f.pixelAspectV);
  return text;
}

TEST(VideoObjectLayerTest, HeaderGivesSizeAndPixelAspect) {
  const std::pair<VolSpec, const char*> rows[] = {
      {{.aspectRatioInfo = 2}, "ok 320x240 aspect 1 12:11"},
      {{.aspectRatioInfo = 6}, "ok 320x240 aspect 0 1:1"},  // reserved: the ratio stays
      {{.aspectRatioInfo = 15, .parWidth = 64, .parHeight = 45}, "ok 320x240 aspect 1 64:45"},
      // Optional blocks are skipped by their exact width.
      {{.objectLayerIdentifier = true, .vbvParameters = true, .width = 1920, .height = 1088},
       "ok 1920x1088 aspect 0 1:1"},
      // The fixed increment takes as many bits as resolution - 1 needs, at least one.
      {{.resolution = 30000, .incrementBits = 15, .increment = 1001}, "ok 320x240 aspect 0 1:1"},
      {{.resolution = 65535, .incrementBits = 16, .increment = 2}, "ok 320x240 aspect 0 1:1"},
      // Bad shape or timing fail and keep the entry's size, but not the aspect read before.
      {{.aspectRatioInfo = 3, .shape = 1}, "fail 640x480 aspect 1 10:11"},
      {{.resolution = 0}, "fail 640x480 aspect 0 1:1"},
      {{.resolution = 30, .incrementBits = 5, .increment = 0}, "fail 640x480 aspect 0 1:1"},
  };
  for (const auto& [spec, expected] : rows) EXPECT_EQ(Parse(BuildVolHeader(spec)), expected);
}

TEST(VideoObjectLayerTest, RunningOutOfBitsIsIncompleteAtEveryCut) {
  const Bytes vol = BuildVolHeader({.aspectRatioInfo = 2});
  // The height's last bit is the header's 64th; every shorter cut stops early.
  EXPECT_EQ(Parse(vol, 0), "short 640x480 aspect 0 1:1");
  for (size_t cut = 1; cut < 7; ++cut) EXPECT_EQ(Parse(vol, cut).substr(0, 6), "short ") << cut;
  EXPECT_EQ(Parse(vol, 7), "short 320x480 aspect 1 12:11");
  EXPECT_EQ(Parse(vol, 8), "ok 320x240 aspect 1 12:11");
  // A layer start code with fewer than 5 bytes after it, or none at all, is not parsed.
  for (const Bytes& none : {Bytes{0, 0, 1, 0x20, 0x00, 0xc4, 0x8d}, Bytes{0, 0, 1, 0xb0, 0x01}, Bytes{}}) {
    VideoObjectLayerFields fields;
    HRESULT result = E_UNEXPECTED;
    EXPECT_FALSE(ParseFirstVideoObjectLayer(none.data(), none.size(), &fields, &result));
    EXPECT_EQ(result, E_UNEXPECTED);
  }
}

}  // namespace
