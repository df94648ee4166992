// The media types of video tracks: which subtypes each format offers in
// which order, the format block a decoder reads (size, aspect, bit rate,
// frame duration, extra bytes), and the MPEG-2 sequence-header probe.
#include "media_type_movie.h"

#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/media_subtypes.h"
#include "streams/mpeg2_sequence_probe.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAvcConfig = {0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x04, 0x67, 0x64, 0x00, 0x1F};

Bytes ChildBox(const char (&type)[5], const Bytes& payload) {
  BoxBuilder b;
  return b.Box(type, [&] { b.Bytes(payload); }).Data();
}

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

MediaTypeTrack VideoTrack(const char* format, uint16_t width, uint16_t height, const Bytes& children = {},
                          uint16_t depth = 24) {
  MediaTypeTrack track;
  track.format = format;
  track.entryBody = VisualEntryBody(width, height, children, depth);
  return track;
}

Bytes Extra(const CMediaType& type) {
  return BlockTail(type, type.formattype == FORMAT_VideoInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
}

// The bitmap header fields a decoder sizes itself from.
std::vector<int64_t> Bitmap(const BITMAPINFOHEADER& b) {
  return {b.biSize, b.biWidth, b.biHeight, b.biBitCount, b.biCompression, b.biXPelsPerMeter};
}

TEST(VideoMediaTypeTest, Avc1OffersPrivateTypeWithChildBoxesThenFourCCTypeWithAvcC) {
  const Bytes children = Join(ChildBox("avcC", kAvcConfig), ChildBox("btrt", Bytes(12)));
  const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("avc1", 720, 480, children));
  ASSERT_EQ(movie.result, S_OK);
  // "avc1", then the twelve bytes "ISOMEDIATYPE" in memory order.
  const std::pair<const char*, Bytes> rows[] = {{"{31637661-5349-4D4F-4544-494154595045}", children},
                                                {"{31637661-0000-0010-8000-00AA00389B71}", kAvcConfig}};
  for (int index = 0; index < 2; ++index) {
    const auto& [subtype, extra] = rows[index];
    CMediaType type;
    ASSERT_EQ(TrackType(movie, index, &type), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Video);
    EXPECT_EQ(GuidToString(type.subtype), subtype);
    ASSERT_EQ(type.formattype, FORMAT_VideoInfo);
    // 72 dots per inch is 2835 per metre.
    EXPECT_EQ(Bitmap(FormatBlock<VIDEOINFOHEADER>(type).bmiHeader),
              (std::vector<int64_t>{int64_t(40 + extra.size()), 720, 480, 24, MAKEFOURCC('a', 'v', 'c', '1'), 2835}));
    EXPECT_EQ(Extra(type), extra);
  }
  CMediaType type;
  EXPECT_EQ(TrackType(movie, 2, &type), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(TrackType(movie, -1, &type), E_INVALIDARG);
}

TEST(VideoMediaTypeTest, PixelAspectRatioGivesVideoInfo2WithUnreducedPictureAspect) {
  // 720x480 pictures.
  const std::array<DWORD, 4> rows[] = {{4, 3, 960, 480}, {10, 11, 720, 528}, {16, 11, 1047, 480}, {1, 1, 720, 480}};
  for (const auto& [h, v, aspectX, aspectY] : rows) {
    BoxBuilder pasp;
    pasp.U32(h).U32(v);
    const ParsedMovie movie =
        ParseMediaTypeMovie(VideoTrack("avc1", 720, 480, Join(ChildBox("avcC", kAvcConfig), ChildBox("pasp", pasp.Data()))));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
    ASSERT_EQ(type.formattype, FORMAT_VideoInfo2);
    const VIDEOINFOHEADER2 header = FormatBlock<VIDEOINFOHEADER2>(type);
    EXPECT_EQ(std::make_pair(header.dwPictAspectRatioX, header.dwPictAspectRatioY), std::make_pair(aspectX, aspectY))
        << h << ":" << v;
    EXPECT_EQ(header.bmiHeader.biWidth, 720);
    EXPECT_EQ(Extra(type), kAvcConfig);
  }
}

TEST(VideoMediaTypeTest, BitRateFrameDurationAndImageSizeComeFromTheSampleTables) {
  MediaTypeTrack track = VideoTrack("avc1", 64, 48);
  // 600 bytes over 3 × 20 / 600 s: 6000 bytes per second.
  track.samples = {Bytes(100), Bytes(200), Bytes(300)};
  track.syncSamples = std::vector<uint32_t>{1};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
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
    const char* subtype;  // null: no type at this index
    DWORD compression;
    WORD bitCount;
  } rows[] = {
      {"yuv2", 24, 0, "{32595559-0000-0010-8000-00AA00389B71}", MAKEFOURCC('Y', 'U', 'Y', '2'), 16},
      {"yuvs", 24, 0, "{32595559-0000-0010-8000-00AA00389B71}", MAKEFOURCC('Y', 'U', 'Y', '2'), 16},
      {"2vuy", 24, 0, "{59565955-0000-0010-8000-00AA00389B71}", MAKEFOURCC('U', 'Y', 'V', 'Y'), 16},
      {"2vuY", 32, 0, "{59565955-0000-0010-8000-00AA00389B71}", MAKEFOURCC('U', 'Y', 'V', 'Y'), 16},
      {"yuv2", 24, 1, nullptr, 0, 0},
      {"raw ", 24, 0, "{20776172-5349-4D4F-4544-494154595045}", MAKEFOURCC('r', 'a', 'w', ' '), 24},
      {"raw ", 24, 1, "{E436EB7D-524F-11CE-9F53-0020AF0BA770}", BI_RGB, 24},
      {"raw ", 16, 1, "{E436EB7B-524F-11CE-9F53-0020AF0BA770}", BI_RGB, 16},
      {"raw ", 1, 1, "{E436EB78-524F-11CE-9F53-0020AF0BA770}", BI_RGB, 1},
      {"raw ", 15, 1, nullptr, 0, 0},
      {"s263", 24, 1, "{33363268-0000-0010-8000-00AA00389B71}", MAKEFOURCC('h', '2', '6', '3'), 24},
      {"mp4v", 24, 1, "{5634504D-0000-0010-8000-00AA00389B71}", MAKEFOURCC('M', 'P', '4', 'V'), 24},
      {"mjpa", 24, 1, "{67706A6D-0000-0010-8000-00AA00389B71}", MAKEFOURCC('m', 'j', 'p', 'g'), 24},
      {"rpza", 16, 1, "{617A7072-0000-0010-8000-00AA00389B71}", MAKEFOURCC('r', 'p', 'z', 'a'), 16},
      {"hvc1", 24, 1, "{31637668-0000-0010-8000-00AA00389B71}", MAKEFOURCC('h', 'v', 'c', '1'), 24},
      {"hvc1", 24, 2, nullptr, 0, 0},
  };
  for (const auto& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack(row.format, 32, 24, {}, row.depth));
    CMediaType type;
    const HRESULT hr = TrackType(movie, row.index, &type);
    const std::string name = std::string(row.format) + " index " + std::to_string(row.index);
    if (!row.subtype) {
      EXPECT_EQ(hr, VFW_S_NO_MORE_ITEMS) << name;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << name;
    EXPECT_EQ(GuidToString(type.subtype), row.subtype) << name;
    const BITMAPINFOHEADER bitmap = FormatBlock<VIDEOINFOHEADER>(type).bmiHeader;
    EXPECT_EQ(std::make_pair(bitmap.biCompression, bitmap.biBitCount), std::make_pair(row.compression, row.bitCount))
        << name;
  }
}

TEST(VideoMediaTypeTest, Vc1IsWvc1OnlyForAnAdvancedProfileSequenceHeader) {
  Bytes simple(16);
  simple[0] = 0x40;
  simple.insert(simple.end(), {0x4E, 0x29, 0x1A, 0x01});
  const struct {
    Bytes dvc1;
    DWORD code;
    Bytes extra;
  } rows[] = {
      {{0xC4, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x01, 0x0F, 0xAA}, FourCC("WVC1"), {0x01, 0x00, 0x00, 0x01, 0x0F, 0xAA}},
      {simple, FourCC("WMV3"), {0x4E, 0x29, 0x1A, 0x01}},
  };
  for (const auto& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("vc-1", 64, 48, ChildBox("dvc1", row.dvc1)));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
    EXPECT_EQ(type.subtype, FourCCSubtype(row.code));
    EXPECT_EQ(FormatBlock<VIDEOINFOHEADER>(type).bmiHeader.biCompression, SwapFourCC(row.code));
    EXPECT_EQ(Extra(type), row.extra);
    EXPECT_EQ(TrackType(movie, 1, &type), VFW_S_NO_MORE_ITEMS);
  }
}

TEST(VideoMediaTypeTest, MpegOneAndTwoVideoInEsdsIsNeverOfferedAsMpeg4Part2) {
  const Bytes sequenceHeader = {0x00, 0x00, 0x01, 0xB3, 0x0B, 0x00, 0x90, 0x13};
  const struct {
    const char* format;
    uint8_t objectType;
    bool vmp2;
  } rows[] = {
      {"mp4v", 0x61, true}, {"mp4v", 0x60, true},  {"mp4v", 0x65, true},  {"mp4v", 0x6A, true},
      {"m2v1", 0x61, true}, {"mp4v", 0x20, false}, {"mp4v", 0x66, false}, {"m2v1", 0x6A, false},
  };
  for (const auto& row : rows) {
    EsDescriptorSpec spec;
    spec.objectType = row.objectType;
    spec.decoderSpecificInfo = sequenceHeader;
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack(row.format, 64, 48, EsdsBox(spec)));
    const std::string name = std::string(row.format) + " " + std::to_string(row.objectType);
    CMediaType first, second;
    ASSERT_EQ(TrackType(movie, 0, &first), S_OK) << name;
    const HRESULT hr = TrackType(movie, 1, &second);
    if (row.vmp2) {
      EXPECT_EQ(first.subtype, FourCCSubtype(FourCC("VMP2"))) << name;
      EXPECT_EQ(Extra(first), sequenceHeader) << name;
      EXPECT_EQ(hr, VFW_S_NO_MORE_ITEMS) << name;
    } else {
      EXPECT_TRUE(IsPrivateSubtype(first.subtype)) << name;
      ASSERT_EQ(hr, S_OK) << name;
      EXPECT_NE(second.subtype, FourCCSubtype(FourCC("VMP2"))) << name;
    }
  }
}

// An "hdv2" sample: sequence header, extension, GOP header, picture.
const Bytes kHdvSample = {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, 0x35, 0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A,
                          0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};

TEST(Mpeg2SequenceProbeTest, SequenceHeaderWithExtensionsRunsToTheNextOtherStartCode) {
  const struct {
    const char* name;
    Bytes data;
    bool found;
    size_t start, length;
  } rows[] = {
      {"header, extension, GOP", kHdvSample, true, 0, 14},
      {"leading bytes", {0xFF, 0x00, 0x00, 0x01, 0xB3, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x05}, true, 1, 6},
      {"header to the end", {0x00, 0x00, 0x01, 0xB3, 0x01, 0x02, 0x03}, true, 0, 7},
      {"picture first", {0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0xB3, 0x02}, false, 99, 99},
      {"no start code", {0x00, 0x00, 0x02, 0xB3, 0x01}, false, 99, 99},
  };
  for (const auto& row : rows) {
    size_t start = 99, length = 99;
    EXPECT_EQ(FindMpeg2SequenceHeader(row.data.data(), row.data.size(), &start, &length), row.found) << row.name;
    if (row.found) {
      EXPECT_EQ(std::make_pair(start, length), std::make_pair(row.start, row.length)) << row.name;
    }
  }
}

TEST(Mpeg2SequenceProbeTest, Hdv2TakesTheSequenceHeaderOfSampleZeroOnce) {
  MediaTypeTrack track = VideoTrack("hdv2", 1440, 1080);
  track.samples = {kHdvSample, {0x00, 0x00, 0x01, 0xB3, 0xEE, 0xEE}};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  Bytes expected = {14, 0};
  expected.insert(expected.end(), kHdvSample.begin(), kHdvSample.begin() + 14);
  for (int round = 0; round < 2; ++round) {
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
    EXPECT_EQ(type.subtype, FourCCSubtype(FourCC("VMP2")));
    EXPECT_EQ(Extra(type), expected);
  }
  track.samples = {{0x00, 0x00, 0x01, 0x00, 0x01, 0x02}};
  const ParsedMovie withoutHeader = ParseMediaTypeMovie(track);
  CMediaType type;
  ASSERT_EQ(TrackType(withoutHeader, 1, &type), S_OK);
  EXPECT_EQ(type.cbFormat, sizeof(VIDEOINFOHEADER));
  EXPECT_EQ(withoutHeader.Track(0).sampleEntry->lastResult, VFW_S_NO_MORE_ITEMS);

  ComPtr<MemorySource> failing = MemorySource::Create({});
  failing->FailReadsFrom(0, E_ABORT);
  const ParsedMovie unreadable = ParseMediaTypeMovie(VideoTrack("hdv2", 1440, 1080));
  unreadable.Track(0).SetReader(failing.Get());
  EXPECT_EQ(TrackType(unreadable, 1, &type), E_ABORT) << "a failed read of sample 0 fails the request";
}

}  // namespace
