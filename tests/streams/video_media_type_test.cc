// The media types of video tracks: which subtypes each format offers in
// which order, the format block a decoder reads (size, aspect, bit rate,
// frame duration, extra bytes), and the MPEG-2 sequence-header probe.
#include "media_type_movie.h"

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

ParsedMovie VideoMovie(const char* format, const Bytes& children = {}, uint16_t depth = 24, uint16_t width = 32,
                       uint16_t height = 24, std::vector<Bytes> samples = {{0, 0, 0, 0}}) {
  MediaTypeTrack track;
  track.format = format;
  track.entryBody = VisualEntryBody(width, height, children, depth);
  track.samples = std::move(samples);
  return ParseMediaTypeMovie(track);
}

// Media type `index` as "subtype WxHxbits compression", with the picture
// aspect of a VIDEOINFOHEADER2; the result's name when there is none.
std::string Describe(const ParsedMovie& movie, int index, Bytes* extra = nullptr) {
  CMediaType type;
  const HRESULT hr = TrackType(movie, index, &type);
  if (hr != S_OK) return HResultName(hr);
  const bool second = type.formattype == FORMAT_VideoInfo2;
  const VIDEOINFOHEADER2 header2 = second ? FormatBlock<VIDEOINFOHEADER2>(type) : VIDEOINFOHEADER2{};
  const BITMAPINFOHEADER b = second ? header2.bmiHeader : FormatBlock<VIDEOINFOHEADER>(type).bmiHeader;
  if (extra) *extra = BlockTail(type, second ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
  return GuidToString(type.subtype) + " " + std::to_string(b.biWidth) + "x" + std::to_string(b.biHeight) + "x" +
         std::to_string(b.biBitCount) + " " + (b.biCompression ? FourCCText(SwapFourCC(b.biCompression)) : "RGB") +
         (second ? " aspect " + std::to_string(header2.dwPictAspectRatioX) + ":" + std::to_string(header2.dwPictAspectRatioY) : "");
}

TEST(VideoMediaTypeTest, Avc1OffersPrivateTypeWithChildBoxesThenFourCCTypeWithAvcC) {
  const Bytes children = ChildBox("btrt", Bytes(12), ChildBox("avcC", kAvcConfig));
  const ParsedMovie movie = VideoMovie("avc1", children, 24, 720, 480);
  ASSERT_EQ(movie.result, S_OK);
  // "avc1", then the twelve bytes "ISOMEDIATYPE" in memory order.
  const std::pair<const char*, Bytes> rows[] = {{"{31637661-5349-4D4F-4544-494154595045} 720x480x24 avc1", children},
                                                {"{31637661-0000-0010-8000-00AA00389B71} 720x480x24 avc1", kAvcConfig}};
  for (int index = 0; index < 2; ++index) {
    Bytes extra;
    EXPECT_EQ(Describe(movie, index, &extra), rows[index].first);
    EXPECT_EQ(extra, rows[index].second);
    CMediaType type;
    ASSERT_EQ(TrackType(movie, index, &type), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Video);
    // biSize counts the extra bytes; 72 dots per inch is 2835 per metre.
    const BITMAPINFOHEADER bitmap = FormatBlock<VIDEOINFOHEADER>(type).bmiHeader;
    EXPECT_EQ(std::make_pair(bitmap.biSize, bitmap.biXPelsPerMeter), std::make_pair(DWORD(40 + extra.size()), 2835));
  }
  EXPECT_EQ(Describe(movie, 2), "VFW_S_NO_MORE_ITEMS");
  EXPECT_EQ(Describe(movie, -1), "E_INVALIDARG");
}

TEST(VideoMediaTypeTest, PixelAspectRatioGivesVideoInfo2WithUnreducedPictureAspect) {
  const std::array<DWORD, 2> ratios[] = {{4, 3}, {10, 11}, {16, 11}, {1, 1}};
  const char* const expected[] = {"aspect 960:480", "aspect 720:528", "aspect 1047:480", "aspect 720:480"};
  for (size_t i = 0; i < std::size(ratios); ++i) {
    BoxBuilder pasp;
    pasp.U32(ratios[i][0]).U32(ratios[i][1]);
    const ParsedMovie movie = VideoMovie("avc1", ChildBox("pasp", pasp.Data(), ChildBox("avcC", kAvcConfig)), 24, 720, 480);
    Bytes extra;
    EXPECT_EQ(Describe(movie, 1, &extra), std::string("{31637661-0000-0010-8000-00AA00389B71} 720x480x24 avc1 ") + expected[i]);
    EXPECT_EQ(extra, kAvcConfig);
  }
}

TEST(VideoMediaTypeTest, BitRateFrameDurationAndImageSizeComeFromTheSampleTables) {
  MediaTypeTrack track;
  track.entryBody = VisualEntryBody(64, 48);
  // 600 bytes over 3 × 20 / 600 s: 6000 bytes per second.
  track.samples = {Bytes(100), Bytes(200), Bytes(300)};
  track.syncSamples = std::vector<uint32_t>{1};
  CMediaType type;
  ASSERT_EQ(TrackType(ParseMediaTypeMovie(track), 1, &type), S_OK);
  const VIDEOINFOHEADER header = FormatBlock<VIDEOINFOHEADER>(type);
  EXPECT_EQ(header.dwBitRate, 48000u);
  EXPECT_EQ(header.AvgTimePerFrame, 333333);
  EXPECT_EQ(header.bmiHeader.biSizeImage, 200u);
  EXPECT_FALSE(type.bFixedSizeSamples);
  EXPECT_TRUE(type.bTemporalCompression);
}

TEST(VideoMediaTypeTest, SubtypesFollowTheFormatTable) {
  const struct {
    const char* format;
    uint16_t depth;
    int index;
    const char* type;
  } rows[] = {
      {"yuv2", 24, 0, "{32595559-0000-0010-8000-00AA00389B71} 32x24x16 YUY2"},
      {"yuvs", 24, 0, "{32595559-0000-0010-8000-00AA00389B71} 32x24x16 YUY2"},
      {"2vuy", 24, 0, "{59565955-0000-0010-8000-00AA00389B71} 32x24x16 UYVY"},
      {"2vuY", 32, 0, "{59565955-0000-0010-8000-00AA00389B71} 32x24x16 UYVY"},
      {"yuv2", 24, 1, "VFW_S_NO_MORE_ITEMS"},
      {"raw ", 24, 0, "{20776172-5349-4D4F-4544-494154595045} 32x24x24 raw "},
      {"raw ", 24, 1, "{E436EB7D-524F-11CE-9F53-0020AF0BA770} 32x24x24 RGB"},
      {"raw ", 16, 1, "{E436EB7B-524F-11CE-9F53-0020AF0BA770} 32x24x16 RGB"},
      {"raw ", 1, 1, "{E436EB78-524F-11CE-9F53-0020AF0BA770} 32x24x1 RGB"},
      {"raw ", 15, 1, "VFW_S_NO_MORE_ITEMS"},
      {"s263", 24, 1, "{33363268-0000-0010-8000-00AA00389B71} 32x24x24 h263"},
      {"mp4v", 24, 1, "{5634504D-0000-0010-8000-00AA00389B71} 32x24x24 MP4V"},
      {"mjpa", 24, 1, "{67706A6D-0000-0010-8000-00AA00389B71} 32x24x24 mjpg"},
      {"rpza", 16, 1, "{617A7072-0000-0010-8000-00AA00389B71} 32x24x16 rpza"},
      {"hvc1", 24, 1, "{31637668-0000-0010-8000-00AA00389B71} 32x24x24 hvc1"},
      {"hvc1", 24, 2, "VFW_S_NO_MORE_ITEMS"},
  };
  for (const auto& row : rows) EXPECT_EQ(Describe(VideoMovie(row.format, {}, row.depth), row.index), row.type) << row.format;
}

TEST(VideoMediaTypeTest, Vc1IsWvc1OnlyForAnAdvancedProfileSequenceHeader) {
  Bytes simple(16);
  simple[0] = 0x40;
  simple.insert(simple.end(), {0x4E, 0x29, 0x1A, 0x01});
  const struct {
    Bytes dvc1;
    const char* type;
    Bytes extra;
  } rows[] = {
      {{0xC4, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x0F, 0xAA}, "{31435657-0000-0010-8000-00AA00389B71} 32x24x24 WVC1", {1, 0, 0, 1, 0x0F, 0xAA}},
      {simple, "{33564D57-0000-0010-8000-00AA00389B71} 32x24x24 WMV3", {0x4E, 0x29, 0x1A, 0x01}},
  };
  for (const auto& row : rows) {
    const ParsedMovie movie = VideoMovie("vc-1", ChildBox("dvc1", row.dvc1));
    Bytes extra;
    EXPECT_EQ(Describe(movie, 0, &extra), row.type);
    EXPECT_EQ(extra, row.extra);
    EXPECT_EQ(Describe(movie, 1), "VFW_S_NO_MORE_ITEMS");
  }
}

TEST(VideoMediaTypeTest, MpegOneAndTwoVideoInEsdsIsNeverOfferedAsMpeg4Part2) {
  const Bytes sequenceHeader = {0x00, 0x00, 0x01, 0xB3, 0x0B, 0x00, 0x90, 0x13};
  const char* const kVmp2 = "{32504D56-0000-0010-8000-00AA00389B71} 32x24x24 VMP2";
  const struct {
    const char* format;
    uint8_t objectType;
    const char* first;
    const char* second;
  } rows[] = {
      {"mp4v", 0x61, kVmp2, "VFW_S_NO_MORE_ITEMS"},
      {"mp4v", 0x60, kVmp2, "VFW_S_NO_MORE_ITEMS"},
      {"mp4v", 0x65, kVmp2, "VFW_S_NO_MORE_ITEMS"},
      {"m2v1", 0x6A, "{3176326D-5349-4D4F-4544-494154595045} 32x24x24 m2v1",
       "{3176326D-0000-0010-8000-00AA00389B71} 32x24x24 m2v1"},
      {"mp4v", 0x20, "{7634706D-5349-4D4F-4544-494154595045} 32x24x24 mp4v",
       "{5634504D-0000-0010-8000-00AA00389B71} 32x24x24 MP4V"},
  };
  for (const auto& row : rows) {
    EsDescriptorSpec spec;
    spec.objectType = row.objectType;
    spec.decoderSpecificInfo = sequenceHeader;
    const ParsedMovie movie = VideoMovie(row.format, EsdsBox(spec));
    Bytes extra;
    EXPECT_EQ(Describe(movie, 0, &extra), row.first) << int(row.objectType);
    EXPECT_EQ(Describe(movie, 1), row.second) << int(row.objectType);
    if (row.first == kVmp2) {
      EXPECT_EQ(extra, sequenceHeader);
    }
  }
}

TEST(Mpeg2SequenceProbeTest, SequenceHeaderWithExtensionsRunsToTheNextOtherStartCode) {
  // An "hdv2" sample: sequence header, extension, GOP header, picture.
  const Bytes hdvSample = {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, 0x35, 0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A,
                           0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
  const struct {
    Bytes data;
    size_t start, length;  // 99: none found
  } rows[] = {
      {hdvSample, 0, 14},
      {{0xFF, 0x00, 0x00, 0x01, 0xB3, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x05}, 1, 6},
      {{0x00, 0x00, 0x01, 0xB3, 0x01, 0x02, 0x03}, 0, 7},
      {{0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0xB3, 0x02}, 99, 99},  // picture first
      {{0x00, 0x00, 0x02, 0xB3, 0x01}, 99, 99},
  };
  for (const auto& row : rows) {
    size_t start = 99, length = 99;
    EXPECT_EQ(FindMpeg2SequenceHeader(row.data.data(), row.data.size(), &start, &length), row.start != 99);
    EXPECT_EQ(std::make_pair(start, length), std::make_pair(row.start, row.length));
  }
  // Sample 0 gives the header once, as a 16-bit length and the bytes.
  const ParsedMovie movie = VideoMovie("hdv2", {}, 24, 32, 24, {hdvSample, {0x00, 0x00, 0x01, 0xB3, 0xEE, 0xEE}});
  Bytes expected = {14, 0}, extra;
  expected.insert(expected.end(), hdvSample.begin(), hdvSample.begin() + 14);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Describe(movie, 1, &extra), "{32504D56-0000-0010-8000-00AA00389B71} 32x24x24 VMP2");
    EXPECT_EQ(extra, expected);
  }
  const ParsedMovie withoutHeader = VideoMovie("hdv2", {}, 24, 32, 24, {{0x00, 0x00, 0x01, 0x00, 0x01, 0x02}});
  Describe(withoutHeader, 1, &extra);
  EXPECT_TRUE(extra.empty());
  EXPECT_EQ(withoutHeader.Track(0).sampleEntry->lastResult, VFW_S_NO_MORE_ITEMS);
  // A failed read of sample 0 fails the request.
  ComPtr<MemorySource> failing = MemorySource::Create({});
  failing->FailReadsFrom(0, E_ABORT);
  const ParsedMovie unreadable = VideoMovie("hdv2");
  unreadable.Track(0).SetReader(failing.Get());
  EXPECT_EQ(Describe(unreadable, 1), "E_ABORT");
}

}  // namespace
