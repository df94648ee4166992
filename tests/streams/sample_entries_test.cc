// The sound and visual sample entries: the sound description versions and
// QuickTime's "wave" extension, the visual fields, and the picture size and
// aspect an "mp4v" entry takes from its video object layer header.
#include "sample_entry_fixtures.h"

#include "streams/audio_sample_entry.h"
#include "streams/video_object_layer.h"
#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using Bytes = std::vector<uint8_t>;

// A movie with one "mp4a" entry holding what `body` writes.
ParsedMovie SoundMovie(const std::function<void(BoxBuilder&)>& body) {
  BoxBuilder b;
  body(b);
  return ParseMediaTypeMovie({.handler = "soun", .mediaHeader = "smhd", .format = "mp4a", .entryBody = b.Data()});
}

const AudioSampleEntry& Audio(const ParsedMovie& movie) {
  return dynamic_cast<const AudioSampleEntry&>(EntryOf(movie));
}

TEST(AudioSampleEntryTest, EsdsInsideWaveIsFoundAndLaterChildrenAreNotExamined) {
  const ParsedMovie movie = SoundMovie([&](BoxBuilder& b) {
    WriteSoundV0(b, 2, 16, 44100u << 16, 1);
    b.U32(1024).U32(0).U32(4).U32(2).Box("wave", [&] {
      b.Box("frma", [&] { b.FourCC("mp4a"); }).Box("mp4a", [&] { b.U32(0); });
      b.Bytes(EsdsBox({0x40, {0x11, 0x90}, true})).U32(8).U32(0);  // terminator
    });
    b.Bytes(EsdsBox({0x6B, {0xEE, 0xEE}}));
  });
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(EntryOf(movie).objectTypeIndication, 0x40u);
  EXPECT_EQ(Slice(EntryOf(movie).codecConfig), Bytes({0x11, 0x90}));
  // A malformed child of "wave" ends the walk quietly.
  const ParsedMovie malformed = SoundMovie([](BoxBuilder& b) {
    WriteSoundV0(b, 1, 16, 8000u << 16);
    b.Box("wave", [&] { b.Box(BoxSize::Forced(200), "esds", [&] { b.Zeros(12); }); });
  });
  ASSERT_EQ(malformed.result, S_OK);
  EXPECT_EQ(EntryOf(malformed).objectTypeIndication, SampleEntry::kNoObjectType);
}

TEST(AudioSampleEntryTest, SoundDescriptionVersionsReadTheirOwnFields) {
  // Version 2 rates past 65535 survive; the channel count keeps its low 16
  // bits; rates no DWORD holds (negative, NaN, huge) become 0, not undefined
  // behaviour. The depth is constBitsPerChannel (24, not the always-16
  // field), with the flags and bytes per packet; the payload starts at "chan".
  const std::tuple<double, uint32_t, DWORD, WORD> rows[] = {
      {192000.0, 8, 192000, 8}, {44100.75, 1, 44100, 1}, {22050.0, 0x00010002, 22050, 2},
      {-1.0, 2, 0, 2},          {1e12, 2, 0, 2},          {std::bit_cast<double>(0x7FF8000000000000ull), 2, 0, 2},
  };
  for (const auto& [rate, channels, expectedRate, expectedChannels] : rows) {
    const ParsedMovie movie = SoundMovie([&](BoxBuilder& b) {
      WriteSoundV2(b, rate, channels, 24, 0x9, 6);
      b.Box("chan", [&] { b.Zeros(12); });
    });
    ASSERT_EQ(movie.result, S_OK) << rate;
    const AudioSampleEntry& a = Audio(movie);
    EXPECT_EQ(std::make_tuple(a.soundVersion, a.channelCount, a.sampleSize, a.sampleRate, a.payload.Length(),
                              a.lpcmFlags, a.bytesPerPacket),
              std::make_tuple(WORD{2}, expectedChannels, WORD{24}, expectedRate, LONG{20}, DWORD{9}, DWORD{6}))
        << rate;
  }
  // Version 1 skips its sixteen extra bytes.
  const ParsedMovie v1 = SoundMovie([](BoxBuilder& b) {
    WriteSoundV0(b, 2, 16, 0xAC440000, 1);
    b.U32(1).U32(2).U32(4).U32(2).Box("wfex", [&] { b.Bytes({0x01, 0x00, 0x02, 0x00}); });
  });
  ASSERT_EQ(v1.result, S_OK);
  EXPECT_EQ(Audio(v1).sampleRate, 44100u);
  EXPECT_EQ(Slice(Audio(v1).codecConfig), Bytes({0x01, 0x00, 0x02, 0x00}));
}

TEST(SampleEntryTest, FixedFieldsCutShortAreInvalidHeader) {
  // Sound description version and the bytes kept after the common fields
  // (v0 needs 20, v1 36, v2 56); -1 for a visual entry, which needs 70.
  const std::pair<int, size_t> rows[] = {{0, 0},  {0, 19},  {1, 20},  {1, 35},  {2, 20},  {2, 27},
                                         {2, 35}, {2, 55}, {-1, 0}, {-1, 20}, {-1, 41}, {-1, 69}};
  for (const auto& [version, kept] : rows) {
    BoxBuilder full;
    if (version == 2) WriteSoundV2(full, 48000.0, 2, 24, 0x9, 6);
    if (version == 0 || version == 1) WriteSoundV0(full, 2, 16, 44100u << 16, version);
    full.Zeros(version == 1 ? 16 : 0).Bytes(version < 0 ? VisualEntryBody(64, 64) : Bytes{});
    const Bytes cut(full.Data().begin(), full.Data().begin() + kept);
    const ParsedMovie movie =
        version < 0 ? ParseMediaTypeMovie({.entryBody = cut}) : SoundMovie([&](BoxBuilder& b) { b.Bytes(cut); });
    EXPECT_EQ(movie.result, STG_E_INVALIDHEADER) << version << "/" << kept;
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
  const Bytes shortPasp = {0, 0, 0, 14, 'p', 'a', 's', 'p', 0, 0, 0, 4, 0, 3};
  // Format ("s263" has no layer header to read), configuration and other
  // children; then the entry's last result, size and aspect.
  const std::tuple<const char*, Bytes, Bytes, HRESULT, std::vector<DWORD>> rows[] = {
      {"mp4v", config, {}, S_OK, {176, 144, 0, 1, 1}},
      {"mp4v", aspect10To11, {}, S_OK, {176, 144, 1, 10, 11}},
      {"mp4v", nonRectangular, {}, E_FAIL, {352, 288, 0, 1, 1}},
      {"s263", config, shortPasp, S_OK, {352, 288, 0, 1, 1}},
  };
  for (const auto& [format, layer, others, lastResult, fields] : rows) {
    const Bytes children = Concat(EsdsBox({0x20, layer, true}), others);
    const ParsedMovie movie = ParseMediaTypeMovie({.format = format, .entryBody = VisualEntryBody(352, 288, children)});
    ASSERT_EQ(movie.result, S_OK);
    const auto& v = dynamic_cast<const VideoSampleEntry&>(EntryOf(movie));
    EXPECT_EQ(std::make_tuple(Slice(v.codecConfig), v.lastResult), std::make_tuple(layer, lastResult));
    EXPECT_EQ(std::vector<DWORD>({v.width, v.height, v.hasPixelAspect, v.pixelAspectH, v.pixelAspectV}), fields);
  }
}

// The video object layer header an "mp4v" entry reads, on its own.
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
