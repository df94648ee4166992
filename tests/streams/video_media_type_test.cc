// The media types of video tracks: which subtypes each format offers in
// which order, the format block a decoder reads (size, aspect, bit rate,
// frame duration, extra bytes), and the MPEG-2 sequence-header probe.
#include "media_type_movie.h"

#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/media_subtypes.h"
#include "streams/mpeg2_sequence_probe.h"
#include "streams/video_sample_entry.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

const std::vector<uint8_t> kAvcConfig = {0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x04,
                                         0x67, 0x64, 0x00, 0x1F, 0x01, 0x00, 0x02, 0x68, 0xEB};

// A format held as text, in file order.
DWORD FormatCode(const std::string& text) {
  return (DWORD{static_cast<uint8_t>(text[0])} << 24) | (DWORD{static_cast<uint8_t>(text[1])} << 16) |
         (DWORD{static_cast<uint8_t>(text[2])} << 8) | static_cast<uint8_t>(text[3]);
}

std::vector<uint8_t> AvcCBox(const std::vector<uint8_t>& config = kAvcConfig) {
  BoxBuilder b;
  b.Box("avcC", [&] { b.Bytes(config); });
  return b.Data();
}

std::vector<uint8_t> PaspBox(uint32_t h, uint32_t v) {
  BoxBuilder b;
  b.Box("pasp", [&] { b.U32(h).U32(v); });
  return b.Data();
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

MediaTypeTrack VideoTrack(const std::string& format, uint16_t width, uint16_t height,
                          const std::vector<uint8_t>& children = {}, uint16_t depth = 24) {
  MediaTypeTrack track;
  track.format = format;
  track.entryBody = VisualEntryBody(width, height, children, depth);
  return track;
}

std::string SubtypeText(const CMediaType& type) { return GuidToString(type.subtype); }

class VideoMediaTypeTest : public ::testing::Test {};

TEST_F(VideoMediaTypeTest, Avc1OffersPrivateTypeWithChildBoxesThenFourCCTypeWithAvcC) {
  const std::vector<uint8_t> children = AvcCBox();
  const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("avc1", 720, 480, children));
  ASSERT_EQ(movie.result, S_OK);

  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  EXPECT_EQ(type.majortype, MEDIATYPE_Video);
  // "avc1" then the twelve bytes "ISOMEDIATYPE" in memory order.
  EXPECT_EQ(SubtypeText(type), "{31637661-5349-4D4F-4544-494154595045}");
  EXPECT_EQ(type.formattype, FORMAT_VideoInfo);
  ASSERT_EQ(type.cbFormat, sizeof(VIDEOINFOHEADER) + children.size());
  VIDEOINFOHEADER header = FormatBlock<VIDEOINFOHEADER>(type);
  EXPECT_EQ(header.bmiHeader.biSize, 40 + children.size());
  EXPECT_EQ(header.bmiHeader.biWidth, 720);
  EXPECT_EQ(header.bmiHeader.biHeight, 480);
  EXPECT_EQ(header.bmiHeader.biPlanes, 1);
  EXPECT_EQ(header.bmiHeader.biBitCount, 24);
  EXPECT_EQ(header.bmiHeader.biCompression, MAKEFOURCC('a', 'v', 'c', '1'));
  EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), children);

  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  EXPECT_EQ(SubtypeText(type), "{31637661-0000-0010-8000-00AA00389B71}");
  ASSERT_EQ(type.cbFormat, sizeof(VIDEOINFOHEADER) + kAvcConfig.size());
  header = FormatBlock<VIDEOINFOHEADER>(type);
  EXPECT_EQ(header.bmiHeader.biSize, 40 + kAvcConfig.size());
  EXPECT_EQ(header.bmiHeader.biCompression, MAKEFOURCC('a', 'v', 'c', '1'));
  EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), kAvcConfig);

  EXPECT_EQ(TrackType(movie, 2, &type), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(TrackType(movie, -1, &type), E_INVALIDARG);
}

TEST_F(VideoMediaTypeTest, PixelAspectRatioGivesVideoInfo2WithUnreducedPictureAspect) {
  struct Row {
    uint32_t h, v;
    DWORD aspectX, aspectY;
  };
  const Row rows[] = {
      {4, 3, 960, 480},
      {3, 4, 720, 640},
      {1, 1, 720, 480},
      {10, 11, 720, 528},
      {16, 11, 1047, 480},
  };
  for (const Row& row : rows) {
    const std::vector<uint8_t> children = Concat(AvcCBox(), PaspBox(row.h, row.v));
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("avc1", 720, 480, children));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
    EXPECT_EQ(type.formattype, FORMAT_VideoInfo2);
    ASSERT_EQ(type.cbFormat, sizeof(VIDEOINFOHEADER2) + kAvcConfig.size());
    const VIDEOINFOHEADER2 header = FormatBlock<VIDEOINFOHEADER2>(type);
    EXPECT_EQ(header.dwPictAspectRatioX, row.aspectX) << row.h << ":" << row.v;
    EXPECT_EQ(header.dwPictAspectRatioY, row.aspectY) << row.h << ":" << row.v;
    EXPECT_EQ(header.bmiHeader.biWidth, 720);
    EXPECT_EQ(header.dwInterlaceFlags, 0u);
    EXPECT_EQ(header.rcSource.right, 0);
    EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER2)), kAvcConfig);
  }
}

TEST_F(VideoMediaTypeTest, BitRateFrameDurationAndImageSizeComeFromTheSampleTables) {
  MediaTypeTrack track = VideoTrack("avc1", 64, 48, AvcCBox());
  // 600 bytes over 3 × 20 / 600 s: 6000 bytes per second.
  track.samples = {std::vector<uint8_t>(100), std::vector<uint8_t>(200), std::vector<uint8_t>(300)};
  track.syncSamples = std::vector<uint32_t>{1};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  const VIDEOINFOHEADER header = FormatBlock<VIDEOINFOHEADER>(type);
  EXPECT_EQ(header.dwBitRate, 48000u);
  EXPECT_EQ(header.AvgTimePerFrame, 333333);
  EXPECT_EQ(header.bmiHeader.biSizeImage, 200u);
  // 72 dots per inch.
  EXPECT_EQ(header.bmiHeader.biXPelsPerMeter, 2835);
  EXPECT_EQ(header.bmiHeader.biYPelsPerMeter, 2835);
  EXPECT_FALSE(type.bFixedSizeSamples);
  EXPECT_TRUE(type.bTemporalCompression);
}

TEST_F(VideoMediaTypeTest, PackedYuvFormatsOfferOnlyTheirPublicSubtypeWith16Bits) {
  struct Row {
    const char* format;
    const GUID* subtype;
    DWORD compression;
  };
  const Row rows[] = {
      {"yuv2", &MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2')},
      {"yuvs", &MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2')},
      {"2vuy", &MEDIASUBTYPE_UYVY, MAKEFOURCC('U', 'Y', 'V', 'Y')},
      {"2vuY", &MEDIASUBTYPE_UYVY, MAKEFOURCC('U', 'Y', 'V', 'Y')},
  };
  for (const Row& row : rows) {
    MediaTypeTrack track = VideoTrack(row.format, 32, 24, {}, 24);
    track.constantSize = 1536;
    const ParsedMovie movie = ParseMediaTypeMovie(track);
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK) << row.format;
    EXPECT_EQ(type.subtype, *row.subtype) << row.format;
    const VIDEOINFOHEADER header = FormatBlock<VIDEOINFOHEADER>(type);
    EXPECT_EQ(header.bmiHeader.biBitCount, 16) << row.format;
    EXPECT_EQ(header.bmiHeader.biCompression, row.compression) << row.format;
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_EQ(type.lSampleSize, 1536u);
    EXPECT_EQ(TrackType(movie, 1, &type), VFW_S_NO_MORE_ITEMS) << row.format;
  }
}

TEST_F(VideoMediaTypeTest, RawVideoOffersAnRgbSubtypeByDepth) {
  struct Row {
    uint16_t depth;
    const GUID* subtype;
  };
  const Row rows[] = {
      {1, &MEDIASUBTYPE_RGB1},    {4, &MEDIASUBTYPE_RGB4},   {8, &MEDIASUBTYPE_RGB8},
      {16, &MEDIASUBTYPE_RGB565}, {24, &MEDIASUBTYPE_RGB24}, {32, &MEDIASUBTYPE_RGB32},
      {15, nullptr},              {40, nullptr},
  };
  for (const Row& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("raw ", 32, 24, {}, row.depth));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
    EXPECT_EQ(SubtypeText(type), "{20776172-5349-4D4F-4544-494154595045}");
    const HRESULT hr = TrackType(movie, 1, &type);
    if (!row.subtype) {
      EXPECT_EQ(hr, VFW_S_NO_MORE_ITEMS) << row.depth;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << row.depth;
    EXPECT_EQ(type.subtype, *row.subtype) << row.depth;
    const VIDEOINFOHEADER header = FormatBlock<VIDEOINFOHEADER>(type);
    EXPECT_EQ(header.bmiHeader.biCompression, BI_RGB);
    EXPECT_EQ(header.bmiHeader.biBitCount, row.depth);
  }
}

TEST_F(VideoMediaTypeTest, SecondSubtypeFollowsTheFormatTable) {
  struct Row {
    const char* format;
    const char* subtype;
    DWORD compression;
  };
  const Row rows[] = {
      {"s263", "{33363268-0000-0010-8000-00AA00389B71}", MAKEFOURCC('h', '2', '6', '3')},
      {"mjpa", "{67706A6D-0000-0010-8000-00AA00389B71}", MAKEFOURCC('m', 'j', 'p', 'g')},
      {"jpeg", "{6765706A-0000-0010-8000-00AA00389B71}", MAKEFOURCC('j', 'p', 'e', 'g')},
      {"rpza", "{617A7072-0000-0010-8000-00AA00389B71}", MAKEFOURCC('r', 'p', 'z', 'a')},
      {"smc ", "{20636D73-0000-0010-8000-00AA00389B71}", MAKEFOURCC('s', 'm', 'c', ' ')},
      {"hvc1", "{31637668-0000-0010-8000-00AA00389B71}", MAKEFOURCC('h', 'v', 'c', '1')},
  };
  for (const Row& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack(row.format, 64, 48));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK) << row.format;
    EXPECT_EQ(SubtypeText(type), row.subtype) << row.format;
    EXPECT_EQ(FormatBlock<VIDEOINFOHEADER>(type).bmiHeader.biCompression, row.compression) << row.format;
    EXPECT_EQ(TrackType(movie, 2, &type), VFW_S_NO_MORE_ITEMS) << row.format;
  }
}

TEST_F(VideoMediaTypeTest, Vc1IsWvc1OnlyForAnAdvancedProfileSequenceHeader) {
  BoxBuilder advanced;
  advanced.Box("dvc1", [&] { advanced.Bytes({0xC4, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x01, 0x0F, 0xAA, 0xBB}); });
  BoxBuilder simple;
  simple.Box("dvc1", [&] { simple.U8(0x40).Zeros(15).Bytes({0x4E, 0x29, 0x1A, 0x01}); });

  CMediaType type;
  const ParsedMovie wvc1 = ParseMediaTypeMovie(VideoTrack("vc-1", 64, 48, advanced.Data()));
  ASSERT_EQ(TrackType(wvc1, 0, &type), S_OK);
  EXPECT_EQ(type.subtype, FourCCSubtype(FourCC("WVC1")));
  EXPECT_EQ(FormatBlock<VIDEOINFOHEADER>(type).bmiHeader.biCompression, MAKEFOURCC('W', 'V', 'C', '1'));
  EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)),
            (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x01, 0x0F, 0xAA, 0xBB}));
  EXPECT_EQ(TrackType(wvc1, 1, &type), VFW_S_NO_MORE_ITEMS);

  const ParsedMovie wmv3 = ParseMediaTypeMovie(VideoTrack("vc-1", 64, 48, simple.Data()));
  ASSERT_EQ(TrackType(wmv3, 0, &type), S_OK);
  EXPECT_EQ(type.subtype, FourCCSubtype(FourCC("WMV3")));
  EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), (std::vector<uint8_t>{0x4E, 0x29, 0x1A, 0x01}));
}

TEST_F(VideoMediaTypeTest, MpegOneAndTwoVideoInEsdsIsNeverOfferedAsMpeg4Part2) {
  const std::vector<uint8_t> sequenceHeader = {0x00, 0x00, 0x01, 0xB3, 0x0B, 0x00, 0x90, 0x13};
  struct Row {
    const char* format;
    uint8_t objectType;
    bool vmp2;
  };
  const Row rows[] = {
      {"mp4v", 0x61, true},  {"mp4v", 0x60, true},  {"mp4v", 0x65, true},  {"mp4v", 0x6A, true},
      {"m2v1", 0x61, true},  {"mp4v", 0x20, false}, {"mp4v", 0x66, false}, {"m2v1", 0x6A, false},
  };
  for (const Row& row : rows) {
    EsDescriptorSpec spec;
    spec.objectType = row.objectType;
    spec.decoderSpecificInfo = sequenceHeader;
    BoxBuilder esds;
    WriteEsds(esds, spec);
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack(row.format, 64, 48, esds.Data()));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
    if (row.vmp2) {
      EXPECT_EQ(type.subtype, FourCCSubtype(FourCC("VMP2"))) << row.format << " " << int{row.objectType};
      EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), sequenceHeader);
      EXPECT_EQ(TrackType(movie, 1, &type), VFW_S_NO_MORE_ITEMS);
    } else {
      EXPECT_EQ(type.subtype, PrivateSubtype(FormatCode(row.format)));
      ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
      EXPECT_NE(type.subtype, FourCCSubtype(FourCC("VMP2"))) << row.format << " " << int{row.objectType};
    }
  }
}

TEST_F(VideoMediaTypeTest, Mp4vSecondTypeIsMP4VWithTheDecoderConfiguration) {
  const std::vector<uint8_t> config = {0x00, 0x00, 0x01, 0xB0, 0x01};
  EsDescriptorSpec spec;
  spec.objectType = 0x20;
  spec.decoderSpecificInfo = config;
  BoxBuilder esds;
  WriteEsds(esds, spec);
  const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("mp4v", 176, 144, esds.Data()));
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  EXPECT_EQ(SubtypeText(type), "{5634504D-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), config);
}

TEST_F(VideoMediaTypeTest, ReusedMediaTypeIsRefilledWhole) {
  const std::vector<uint8_t> children = Concat(AvcCBox(), PaspBox(4, 3));
  const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("avc1", 720, 480, children));
  CMediaType type;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
    EXPECT_EQ(type.cbFormat, sizeof(VIDEOINFOHEADER2) + children.size());
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
    EXPECT_EQ(type.cbFormat, sizeof(VIDEOINFOHEADER2) + kAvcConfig.size());
  }
}

TEST_F(VideoMediaTypeTest, TrackWithoutMediaHeaderOffersNothing) {
  MediaTypeTrack track = VideoTrack("avc1", 64, 48);
  track.handler = "hint";
  track.mediaHeader = "hint";
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  CMediaType type;
  EXPECT_EQ(TrackType(movie, 0, &type), E_UNEXPECTED);
}

// An "hdv2" sample: sequence header, extension, GOP header, picture.
const std::vector<uint8_t> kHdvSample = {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, 0x35, 0x00, 0x00, 0x01,
                                         0xB5, 0x14, 0x8A, 0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00,
                                         0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};

class Mpeg2SequenceProbeTest : public ::testing::Test {};

TEST_F(Mpeg2SequenceProbeTest, SequenceHeaderWithExtensionsRunsToTheNextOtherStartCode) {
  struct Row {
    const char* name;
    std::vector<uint8_t> data;
    bool found;
    size_t start, length;
  };
  const Row rows[] = {
      {"header, extension, GOP", kHdvSample, true, 0, 14},
      {"leading bytes", {0xFF, 0x00, 0x00, 0x01, 0xB3, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x05}, true, 1, 6},
      {"header to the end", {0x00, 0x00, 0x01, 0xB3, 0x01, 0x02, 0x03}, true, 0, 7},
      {"second header kept", {0x00, 0x00, 0x01, 0xB3, 0x01, 0x00, 0x00, 0x01, 0xB3, 0x02, 0x00, 0x00, 0x01, 0xB8, 0x0},
       true, 0, 10},
      {"picture first", {0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0xB3, 0x02}, false, 0, 0},
      {"no start code", {0x00, 0x00, 0x02, 0xB3, 0x01}, false, 0, 0},
      {"empty", {}, false, 0, 0},
  };
  for (const Row& row : rows) {
    size_t start = 99, length = 99;
    EXPECT_EQ(FindMpeg2SequenceHeader(row.data.data(), row.data.size(), &start, &length), row.found) << row.name;
    if (!row.found) continue;
    EXPECT_EQ(start, row.start) << row.name;
    EXPECT_EQ(length, row.length) << row.name;
  }
}

TEST_F(Mpeg2SequenceProbeTest, Hdv2TakesTheSequenceHeaderOfSampleZeroOnce) {
  MediaTypeTrack track = VideoTrack("hdv2", 1440, 1080);
  track.samples = {kHdvSample, {0x00, 0x00, 0x01, 0xB3, 0xEE, 0xEE}};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  EXPECT_EQ(type.subtype, FourCCSubtype(FourCC("VMP2")));
  std::vector<uint8_t> expected = {14, 0};
  expected.insert(expected.end(), kHdvSample.begin(), kHdvSample.begin() + 14);
  EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), expected);
  const auto& video = dynamic_cast<const VideoSampleEntry&>(*movie.Track(0).sampleEntry);
  EXPECT_EQ(Slice(video.codecConfig), expected);
  EXPECT_EQ(video.dimensionsProbed, 1);

  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), expected);
}

TEST_F(Mpeg2SequenceProbeTest, Hdv2WithoutSequenceHeaderIsStillOfferedAndNotesIt) {
  MediaTypeTrack track = VideoTrack("hdv2", 1440, 1080);
  track.samples = {{0x00, 0x00, 0x01, 0x00, 0x01, 0x02}};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  EXPECT_EQ(type.subtype, FourCCSubtype(FourCC("VMP2")));
  EXPECT_EQ(type.cbFormat, sizeof(VIDEOINFOHEADER));
  EXPECT_EQ(movie.Track(0).sampleEntry->lastResult, VFW_S_NO_MORE_ITEMS);
}

TEST_F(Mpeg2SequenceProbeTest, FailedReadOfSampleZeroFailsTheRequest) {
  const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("hdv2", 1440, 1080));
  ComPtr<MemorySource> failing = MemorySource::Create({});
  failing->FailReadsFrom(0, E_ABORT);
  movie.Track(0).SetReader(failing.Get());
  CMediaType type;
  EXPECT_EQ(TrackType(movie, 1, &type), E_ABORT);
}

}  // namespace
