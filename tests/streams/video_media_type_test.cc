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

const std::vector<uint8_t> kAvcConfig = {0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x04, 0x67, 0x64, 0x00, 0x1F};

std::vector<uint8_t> ChildBox(const char (&type)[5], const std::vector<uint8_t>& payload) {
  BoxBuilder b;
  b.Box(type, [&] { b.Bytes(payload); });
  return b.Data();
}

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

MediaTypeTrack VideoTrack(const char* format, uint16_t width, uint16_t height,
                          const std::vector<uint8_t>& children = {}, uint16_t depth = 24) {
  MediaTypeTrack track;
  track.format = format;
  track.entryBody = VisualEntryBody(width, height, children, depth);
  return track;
}

std::vector<uint8_t> Extra(const CMediaType& type) {
  return BlockTail(type, type.formattype == FORMAT_VideoInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER));
}

class VideoMediaTypeTest : public ::testing::Test {};

TEST_F(VideoMediaTypeTest, Avc1OffersPrivateTypeWithChildBoxesThenFourCCTypeWithAvcC) {
  const std::vector<uint8_t> children = Join(ChildBox("avcC", kAvcConfig), ChildBox("btrt", std::vector<uint8_t>(12)));
  const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("avc1", 720, 480, children));
  ASSERT_EQ(movie.result, S_OK);
  struct Row {
    const char* subtype;
    std::vector<uint8_t> extra;
  };
  // "avc1", then the twelve bytes "ISOMEDIATYPE" in memory order.
  const Row rows[] = {{"{31637661-5349-4D4F-4544-494154595045}", children},
                      {"{31637661-0000-0010-8000-00AA00389B71}", kAvcConfig}};
  for (int index = 0; index < 2; ++index) {
    CMediaType type;
    ASSERT_EQ(TrackType(movie, index, &type), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Video);
    EXPECT_EQ(GuidToString(type.subtype), rows[index].subtype);
    EXPECT_EQ(type.formattype, FORMAT_VideoInfo);
    ASSERT_EQ(type.cbFormat, sizeof(VIDEOINFOHEADER) + rows[index].extra.size());
    const BITMAPINFOHEADER bitmap = FormatBlock<VIDEOINFOHEADER>(type).bmiHeader;
    EXPECT_EQ(bitmap.biSize, 40 + rows[index].extra.size());
    EXPECT_EQ(bitmap.biWidth, 720);
    EXPECT_EQ(bitmap.biHeight, 480);
    EXPECT_EQ(bitmap.biBitCount, 24);
    EXPECT_EQ(bitmap.biCompression, MAKEFOURCC('a', 'v', 'c', '1'));
    // 72 dots per inch.
    EXPECT_EQ(bitmap.biXPelsPerMeter, 2835);
    EXPECT_EQ(Extra(type), rows[index].extra);
  }
  CMediaType type;
  EXPECT_EQ(TrackType(movie, 2, &type), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(TrackType(movie, -1, &type), E_INVALIDARG);
}

TEST_F(VideoMediaTypeTest, PixelAspectRatioGivesVideoInfo2WithUnreducedPictureAspect) {
  struct Row {
    uint32_t h, v;
    DWORD aspectX, aspectY;
  };
  for (const Row& row : {Row{4, 3, 960, 480}, Row{10, 11, 720, 528}, Row{16, 11, 1047, 480}, Row{1, 1, 720, 480}}) {
    BoxBuilder pasp;
    pasp.U32(row.h).U32(row.v);
    const std::vector<uint8_t> children = Join(ChildBox("avcC", kAvcConfig), ChildBox("pasp", pasp.Data()));
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("avc1", 720, 480, children));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
    ASSERT_EQ(type.formattype, FORMAT_VideoInfo2);
    const VIDEOINFOHEADER2 header = FormatBlock<VIDEOINFOHEADER2>(type);
    EXPECT_EQ(header.dwPictAspectRatioX, row.aspectX) << row.h << ":" << row.v;
    EXPECT_EQ(header.dwPictAspectRatioY, row.aspectY) << row.h << ":" << row.v;
    EXPECT_EQ(header.bmiHeader.biWidth, 720);
    EXPECT_EQ(Extra(type), kAvcConfig);
  }
}

TEST_F(VideoMediaTypeTest, BitRateFrameDurationAndImageSizeComeFromTheSampleTables) {
  MediaTypeTrack track = VideoTrack("avc1", 64, 48);
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
  EXPECT_FALSE(type.bFixedSizeSamples);
  EXPECT_TRUE(type.bTemporalCompression);
}

TEST_F(VideoMediaTypeTest, SubtypesFollowTheFormatTable) {
  struct Row {
    const char* format;
    uint16_t depth;
    int index;
    // Null: no type at this index.
    const char* subtype;
    DWORD compression;
    WORD bitCount;
  };
  const Row rows[] = {
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
  for (const Row& row : rows) {
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
    EXPECT_EQ(bitmap.biCompression, row.compression) << name;
    EXPECT_EQ(bitmap.biBitCount, row.bitCount) << name;
  }
}

TEST_F(VideoMediaTypeTest, Vc1IsWvc1OnlyForAnAdvancedProfileSequenceHeader) {
  struct Row {
    std::vector<uint8_t> dvc1;
    DWORD code;
    std::vector<uint8_t> extra;
  };
  std::vector<uint8_t> simple(16);
  simple[0] = 0x40;
  simple.insert(simple.end(), {0x4E, 0x29, 0x1A, 0x01});
  const Row rows[] = {
      {{0xC4, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x01, 0x0F, 0xAA}, FourCC("WVC1"), {0x01, 0x00, 0x00, 0x01, 0x0F, 0xAA}},
      {simple, FourCC("WMV3"), {0x4E, 0x29, 0x1A, 0x01}},
  };
  for (const Row& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack("vc-1", 64, 48, ChildBox("dvc1", row.dvc1)));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
    EXPECT_EQ(type.subtype, FourCCSubtype(row.code));
    EXPECT_EQ(FormatBlock<VIDEOINFOHEADER>(type).bmiHeader.biCompression, SwapFourCC(row.code));
    EXPECT_EQ(Extra(type), row.extra);
    EXPECT_EQ(TrackType(movie, 1, &type), VFW_S_NO_MORE_ITEMS);
  }
}

TEST_F(VideoMediaTypeTest, MpegOneAndTwoVideoInEsdsIsNeverOfferedAsMpeg4Part2) {
  const std::vector<uint8_t> sequenceHeader = {0x00, 0x00, 0x01, 0xB3, 0x0B, 0x00, 0x90, 0x13};
  struct Row {
    const char* format;
    uint8_t objectType;
    bool vmp2;
  };
  const Row rows[] = {
      {"mp4v", 0x61, true}, {"mp4v", 0x60, true},  {"mp4v", 0x65, true},  {"mp4v", 0x6A, true},
      {"m2v1", 0x61, true}, {"mp4v", 0x20, false}, {"mp4v", 0x66, false}, {"m2v1", 0x6A, false},
  };
  for (const Row& row : rows) {
    EsDescriptorSpec spec;
    spec.objectType = row.objectType;
    spec.decoderSpecificInfo = sequenceHeader;
    BoxBuilder esds;
    WriteEsds(esds, spec);
    const ParsedMovie movie = ParseMediaTypeMovie(VideoTrack(row.format, 64, 48, esds.Data()));
    const std::string name = std::string(row.format) + " " + std::to_string(row.objectType);
    CMediaType first;
    CMediaType second;
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
const std::vector<uint8_t> kHdvSample = {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, 0x35, 0x00, 0x00,
                                         0x01, 0xB5, 0x14, 0x8A, 0x00, 0x00, 0x01, 0xB8, 0x00, 0x08,
                                         0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};

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
      {"picture first", {0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0xB3, 0x02}, false, 0, 0},
      {"no start code", {0x00, 0x00, 0x02, 0xB3, 0x01}, false, 0, 0},
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
  std::vector<uint8_t> expected = {14, 0};
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
