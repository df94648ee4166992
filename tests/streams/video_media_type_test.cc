// The media types of video tracks: which subtypes each format offers in
// which order, the format block a decoder reads (size, aspect, bit rate,
// frame duration, extra bytes), and the MPEG-2 sequence-header probe.
#include "sample_entry_fixtures.h"

#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/mpeg2_sequence_probe.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAvcConfig = {0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x04, 0x67, 0x64, 0x00, 0x1F};

Bytes ChildBox(const char (&type)[5], const Bytes& payload, const Bytes& before = {}) {
  BoxBuilder b;
  return b.Bytes(before).Box(type, [&] { b.Bytes(payload); }).Data();
}

ParsedMovie VideoMovie(const char* format, const Bytes& children = {}, uint16_t depth = 24,
                       std::vector<Bytes> samples = {{0, 0, 0, 0}}) {
  return ParseMediaTypeMovie(
      {.format = format, .entryBody = VisualEntryBody(720, 480, children, depth), .samples = samples});
}

// Type `index` of a 720x480 entry as "subtype bits compression", with the
// picture aspect of a VIDEOINFOHEADER2; the result's name when there is
// none. The bytes after the header go to `extra`; biSize must count them.
std::string Describe(const ParsedMovie& movie, int index, Bytes* extra = nullptr) {
  CMediaType type;
  const HRESULT hr = TrackType(movie, index, &type);
  if (hr != S_OK) return HResultName(hr);
  const bool second = type.formattype == FORMAT_VideoInfo2;
  const VIDEOINFOHEADER2 header2 = second ? FormatBlock<VIDEOINFOHEADER2>(type) : VIDEOINFOHEADER2{};
  const BITMAPINFOHEADER b = second ? header2.bmiHeader : FormatBlock<VIDEOINFOHEADER>(type).bmiHeader;
  const Bytes tail = BlockTail(type, second ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
  if (extra) *extra = tail;
  EXPECT_EQ(std::make_tuple(b.biSize, b.biWidth, b.biHeight), std::make_tuple(DWORD(40 + tail.size()), 720, 480));
  return GuidToString(type.subtype) + " " + std::to_string(b.biBitCount) + " " +
         (b.biCompression ? FourCCText(SwapFourCC(b.biCompression)) : "RGB") +
         (second ? " " + std::to_string(header2.dwPictAspectRatioX) + ":" + std::to_string(header2.dwPictAspectRatioY)
                 : "");
}

TEST(VideoMediaTypeTest, Avc1OffersPrivateTypeWithChildBoxesThenFourCCTypeWithAvcC) {
  const Bytes children = ChildBox("btrt", Bytes(12), ChildBox("avcC", kAvcConfig));
  const ParsedMovie movie = VideoMovie("avc1", children);
  Bytes extra;
  // "avc1", then the twelve bytes "ISOMEDIATYPE" in memory order.
  EXPECT_EQ(Describe(movie, 0, &extra), "{31637661-5349-4D4F-4544-494154595045} 24 avc1");
  EXPECT_EQ(extra, children);
  EXPECT_EQ(Describe(movie, 1, &extra), "{31637661-0000-0010-8000-00AA00389B71} 24 avc1");
  EXPECT_EQ(extra, kAvcConfig);
  EXPECT_EQ(Describe(movie, 2), "VFW_S_NO_MORE_ITEMS");
  EXPECT_EQ(Describe(movie, -1), "E_INVALIDARG");
}

TEST(VideoMediaTypeTest, TimingSizeAndAspectComeFromTheTrack) {
  // 600 bytes over 3 × 20 / 600 s: 6000 bytes per second; 72 dpi.
  const ParsedMovie movie = ParseMediaTypeMovie({.entryBody = VisualEntryBody(64, 48),
                                                 .samples = {Bytes(100), Bytes(200), Bytes(300)},
                                                 .syncSamples = std::vector<uint32_t>{1}});
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  const VIDEOINFOHEADER h = FormatBlock<VIDEOINFOHEADER>(type);
  EXPECT_EQ(std::make_tuple(h.dwBitRate, h.AvgTimePerFrame, h.bmiHeader.biSizeImage, h.bmiHeader.biXPelsPerMeter),
            std::make_tuple(48000u, 333333, 200u, 2835));
  EXPECT_FALSE(type.bFixedSizeSamples);
  EXPECT_TRUE(type.bTemporalCompression);
  // A pixel aspect ratio gives a VIDEOINFOHEADER2 with the unreduced picture aspect of 720x480.
  const std::pair<std::array<uint32_t, 2>, const char*> ratios[] = {
      {{4, 3}, "960:480"}, {{10, 11}, "720:528"}, {{16, 11}, "1047:480"}, {{1, 1}, "720:480"}};
  for (const auto& [ratio, aspect] : ratios) {
    BoxBuilder pasp;
    pasp.U32(ratio[0]).U32(ratio[1]);
    const ParsedMovie movie = VideoMovie("avc1", ChildBox("pasp", pasp.Data(), ChildBox("avcC", kAvcConfig)));
    EXPECT_EQ(Describe(movie, 1), std::string("{31637661-0000-0010-8000-00AA00389B71} 24 avc1 ") + aspect);
  }
}

TEST(VideoMediaTypeTest, SubtypesFollowTheFormatTable) {
  // Format, depth, list index; the type.
  const std::tuple<const char*, uint16_t, int, const char*> rows[] = {
      {"yuv2", 24, 0, "{32595559-0000-0010-8000-00AA00389B71} 16 YUY2"},
      {"2vuY", 32, 0, "{59565955-0000-0010-8000-00AA00389B71} 16 UYVY"},
      {"raw ", 24, 0, "{20776172-5349-4D4F-4544-494154595045} 24 raw "},
      {"raw ", 24, 1, "{E436EB7D-524F-11CE-9F53-0020AF0BA770} 24 RGB"},
      {"raw ", 15, 1, "VFW_S_NO_MORE_ITEMS"},
      {"mjpa", 24, 1, "{67706A6D-0000-0010-8000-00AA00389B71} 24 mjpg"},
      {"mp4v", 24, 1, "{5634504D-0000-0010-8000-00AA00389B71} 24 MP4V"},
      {"hvc1", 24, 1, "{31637668-0000-0010-8000-00AA00389B71} 24 hvc1"},
  };
  for (const auto& [format, depth, index, type] : rows) {
    EXPECT_EQ(Describe(VideoMovie(format, {}, depth), index), type) << format;
  }
  // VC-1 is WVC1 only with an advanced-profile sequence header.
  Bytes simple(16, 0);
  simple[0] = 0x40;
  EXPECT_EQ(Describe(VideoMovie("vc-1", ChildBox("dvc1", {0xC4, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x0F, 0xAA})), 0),
            "{31435657-0000-0010-8000-00AA00389B71} 24 WVC1");
  EXPECT_EQ(Describe(VideoMovie("vc-1", ChildBox("dvc1", simple)), 0),
            "{33564D57-0000-0010-8000-00AA00389B71} 24 WMV3");
  // MPEG-1 or MPEG-2 video in an ES descriptor is VMP2 with its sequence header, never MPEG-4 visual.
  const Bytes sequenceHeader = {0x00, 0x00, 0x01, 0xB3, 0x0B, 0x00, 0x90, 0x13};
  for (const char* format : {"mp4v", "m2v1"}) {
    const ParsedMovie movie = VideoMovie(format, EsdsBox({0x61, sequenceHeader}));
    Bytes extra;
    EXPECT_EQ(Describe(movie, 0, &extra), "{32504D56-0000-0010-8000-00AA00389B71} 24 VMP2");
    EXPECT_EQ(extra, sequenceHeader);
    EXPECT_EQ(Describe(movie, 1), "VFW_S_NO_MORE_ITEMS");
  }
}

TEST(Mpeg2SequenceProbeTest, Hdv2TakesTheSequenceHeaderOfSampleZeroOnce) {
  // Sequence header, extension, GOP header, picture.
  const Bytes hdv = {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, 0x35, 0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A,
                     0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
  // The header runs over its extensions to the next other start code, or to the end.
  size_t start = 99, length = 99;
  EXPECT_TRUE(FindMpeg2SequenceHeader(hdv.data(), 8, &start, &length));
  EXPECT_EQ(std::make_pair(start, length), std::make_pair(size_t{0}, size_t{8}));
  const ParsedMovie movie = VideoMovie("hdv2", {}, 24, {hdv, {0x00, 0x00, 0x01, 0xB3, 0xEE, 0xEE}});
  Bytes expected = {14, 0}, extra;  // a 16-bit length, then the header
  expected.insert(expected.end(), hdv.begin(), hdv.begin() + 14);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Describe(movie, 1, &extra), "{32504D56-0000-0010-8000-00AA00389B71} 24 VMP2");
    EXPECT_EQ(extra, expected);
  }
  const ParsedMovie withoutHeader = VideoMovie("hdv2", {}, 24, {{0x00, 0x00, 0x01, 0x00, 0x01, 0x02}});
  Describe(withoutHeader, 1, &extra);
  EXPECT_TRUE(extra.empty());
  EXPECT_EQ(withoutHeader.Track(0).sampleEntry->lastResult, VFW_S_NO_MORE_ITEMS);
  ComPtr<MemorySource> failing = MemorySource::Create({});
  failing->FailReadsFrom(0, E_ABORT);
  const ParsedMovie unreadable = VideoMovie("hdv2");
  unreadable.Track(0).SetReader(failing.Get());
  EXPECT_EQ(Describe(unreadable, 1), "E_ABORT");
}

}  // namespace
