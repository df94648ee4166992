// The media types of video tracks: which subtypes each format offers in
// which order, the format block a decoder reads (size, aspect, bit rate,
// frame duration, extra bytes), and the MPEG-2 sequence-header probe.
#include "sample_entry_fixtures.h"

#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/task_memory.h"
#include "streams/media_type_match.h"
#include "streams/mpeg2_sequence_probe.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

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
  const Bytes avcChildren = ChildBox("btrt", Bytes(12), ChildBox("avcC", kAvcConfig));
  const Bytes advancedVc1 = ChildBox("dvc1", {0xC4, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x0F, 0xAA});
  const Bytes simpleVc1 = ChildBox("dvc1", {0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  // MPEG-1 or MPEG-2 video in an ES descriptor: VMP2 with its sequence header, never MPEG-4 visual.
  const Bytes sequenceHeader = {0x00, 0x00, 0x01, 0xB3, 0x0B, 0x00, 0x90, 0x13};
  const Bytes mpeg2 = EsdsBox({0x61, sequenceHeader});
  // Format, children, depth, list index; the type and, where given, the bytes after its header.
  const std::tuple<const char*, Bytes, uint16_t, int, const char*, std::optional<Bytes>> rows[] = {
      // "avc1", then the twelve bytes "ISOMEDIATYPE" in memory order.
      {"avc1", avcChildren, 24, 0, "{31637661-5349-4D4F-4544-494154595045} 24 avc1", avcChildren},
      {"avc1", avcChildren, 24, 1, "{31637661-0000-0010-8000-00AA00389B71} 24 avc1", kAvcConfig},
      {"avc1", avcChildren, 24, 2, "VFW_S_NO_MORE_ITEMS", {}},
      {"avc1", avcChildren, 24, -1, "E_INVALIDARG", {}},
      {"yuv2", {}, 24, 0, "{32595559-0000-0010-8000-00AA00389B71} 16 YUY2", {}},
      {"2vuY", {}, 32, 0, "{59565955-0000-0010-8000-00AA00389B71} 16 UYVY", {}},
      {"raw ", {}, 24, 0, "{20776172-5349-4D4F-4544-494154595045} 24 raw ", {}},
      {"raw ", {}, 24, 1, "{E436EB7D-524F-11CE-9F53-0020AF0BA770} 24 RGB", {}},
      {"raw ", {}, 15, 1, "VFW_S_NO_MORE_ITEMS", {}},
      {"mjpa", {}, 24, 1, "{67706A6D-0000-0010-8000-00AA00389B71} 24 mjpg", {}},
      {"mp4v", {}, 24, 1, "{5634504D-0000-0010-8000-00AA00389B71} 24 MP4V", {}},
      {"hvc1", {}, 24, 1, "{31637668-0000-0010-8000-00AA00389B71} 24 hvc1", {}},
      // VC-1 is WVC1 only with an advanced-profile sequence header.
      {"vc-1", advancedVc1, 24, 0, "{31435657-0000-0010-8000-00AA00389B71} 24 WVC1", {}},
      {"vc-1", simpleVc1, 24, 0, "{33564D57-0000-0010-8000-00AA00389B71} 24 WMV3", {}},
      {"mp4v", mpeg2, 24, 0, "{32504D56-0000-0010-8000-00AA00389B71} 24 VMP2", sequenceHeader},
      {"mp4v", mpeg2, 24, 1, "VFW_S_NO_MORE_ITEMS", {}},
      {"m2v1", mpeg2, 24, 0, "{32504D56-0000-0010-8000-00AA00389B71} 24 VMP2", sequenceHeader},
      {"m2v1", mpeg2, 24, 1, "VFW_S_NO_MORE_ITEMS", {}},
  };
  for (const auto& [format, children, depth, index, type, extra] : rows) {
    Bytes tail;
    EXPECT_EQ(Describe(VideoMovie(format, children, depth), index, &tail), type) << format << " " << index;
    EXPECT_EQ(tail, extra.value_or(tail)) << format << " " << index;
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

// Whether a proposed media type counts as one the pin offers. Too strict,
// and a renderer that writes the same picture another way is refused; too
// loose, and a decoder is connected to a picture it cannot take.
// A 720x576 YV12 picture at 25 fps with its rectangles left empty.
struct VideoTypeSpec {
  const GUID *formatType = &FORMAT_VideoInfo, *subtype = &MEDIASUBTYPE_YV12;
  LONG width = 720, height = 576;
  DWORD compression = MAKEFOURCC('Y', 'V', '1', '2'), biSize = 40, sizeImage = 622080;
  REFERENCE_TIME duration = 400000;
  DWORD aspectX = 720, aspectY = 576;  // stored only by the VIDEOINFOHEADER2 family
  RECT target = {0, 0, 0, 0};
  Bytes extra = {};
};

template <class Header>
Bytes Block(const VideoTypeSpec& s, Header header) {
  header.rcTarget = s.target;
  header.AvgTimePerFrame = s.duration;
  header.bmiHeader = {s.biSize, s.width, s.height, 1, 12, s.compression, s.sizeImage, 0, 0, 0, 0};
  Bytes block(reinterpret_cast<const uint8_t*>(&header), reinterpret_cast<const uint8_t*>(&header + 1));
  block.insert(block.end(), s.extra.begin(), s.extra.end());
  return block;
}

CMediaType VideoType(const VideoTypeSpec& s = {}) {
  VIDEOINFOHEADER2 second{};
  second.dwPictAspectRatioX = s.aspectX, second.dwPictAspectRatioY = s.aspectY;
  const bool stored = *s.formatType == FORMAT_VideoInfo2 || *s.formatType == FORMAT_MPEG2Video;
  Bytes block = stored ? Block(s, second) : Block(s, VIDEOINFOHEADER{});
  // The MPEG-2 and private video blocks run past the header.
  if (*s.formatType == FORMAT_MPEG2Video || *s.formatType == FORMAT_IsoVideoInfoPrivate) block.resize(144);
  CMediaType type(&MEDIATYPE_Video);
  type.SetSubtype(s.subtype);
  type.SetFormatType(s.formatType);
  type.SetFormat(block.data(), static_cast<ULONG>(block.size()));
  return type;
}

TEST(MediaTypeMatchTest, VideoTypesMatchWhenTheyDescribeTheSamePicture) {
  const struct {
    VideoTypeSpec a, b;
    bool match;
  } rows[] = {
      {{}, {}, true},
      {{}, {.formatType = &FORMAT_VideoInfo2}, true},
      {{}, {.formatType = &FORMAT_VideoInfo2, .aspectX = 16, .aspectY = 9}, false},
      {{}, {.formatType = &FORMAT_MPEG2Video}, true},
      {{}, {.formatType = &FORMAT_IsoVideoInfoPrivate}, true},
      // Rows may run either way for YUV, not for RGB.
      {{}, {.height = -576}, true},
      {{.compression = BI_RGB}, {.height = -576, .compression = BI_RGB}, false},
      {{}, {.width = 704}, false},
      {{}, {.compression = MAKEFOURCC('I', '4', '2', '0')}, false},
      {{}, {.sizeImage = 0}, true},
      // Frame durations one apart agree; zero means 30 fps.
      {{}, {.duration = 400001}, true},
      {{}, {.duration = 400002}, false},
      {{.duration = 0}, {.duration = 333334}, true},
      {{.duration = 0}, {.duration = 333367}, false},
      // The empty rectangle and the full one both mean the whole picture.
      {{}, {.target = {0, 0, 720, 576}}, true},
      {{}, {.target = {8, 0, 720, 576}}, false},
      {{}, {.target = {0, 0, 720, 575}}, false},
      // Extra bytes after the header are not compared, nor a longer block.
      {{.extra = {1, 2}}, {.extra = {3, 4}}, true},
      {{}, {.extra = {1, 2, 3}}, true},
      {{}, {.subtype = &MEDIASUBTYPE_I420}, false},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(MediaTypesMatch(VideoType(rows[i].a), VideoType(rows[i].b)), rows[i].match) << "row " << i;
    EXPECT_EQ(MediaTypesMatch(VideoType(rows[i].b), VideoType(rows[i].a)), rows[i].match) << "row " << i << " reversed";
  }
  // The grey format's longer bitmap header is compared up to its own size; past it the bytes are not ours.
  const auto grey = [](Bytes extra) {
    return VideoType({.compression = MAKEFOURCC('V', 'G', 'R', 'Y'), .biSize = 48, .extra = extra});
  };
  EXPECT_TRUE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8}), grey({1, 2, 3, 4, 5, 6, 7, 8, 9})));
  EXPECT_FALSE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8}), grey({1, 2, 3, 4, 5, 6, 7, 9, 9})));
  EXPECT_TRUE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8, 0xAA}), grey({1, 2, 3, 4, 5, 6, 7, 8, 0xBB})));
}

TEST(MediaTypeMatchTest, BlocksThatCannotBeReadOrAreNoVideoMatchOnlyByteForByte) {
  const CMediaType whole = VideoType();
  CMediaType cut = whole, shortPrivate = VideoType({.formatType = &FORMAT_IsoVideoInfoPrivate}), noBlock = whole;
  CMediaType waveFormat = whole, mono = whole, empty = whole;
  cut.SetFormat(whole.pbFormat, 80);
  shortPrivate.cbFormat = 120;
  CoTaskMemFree(noBlock.pbFormat);
  noBlock.pbFormat = nullptr;
  empty.ResetFormatBuffer();
  waveFormat.SetFormatType(&FORMAT_WaveFormatEx);
  // Another format type's block: matched byte for byte, so one changed byte is another type.
  mono.SetFormatType(&FORMAT_WaveFormatEx);
  mono.pbFormat[20] ^= 1;
  for (const CMediaType* other : {&cut, &shortPrivate, &noBlock, &empty, &waveFormat}) {
    EXPECT_FALSE(MediaTypesMatch(*other, whole));
    EXPECT_FALSE(MediaTypesMatch(whole, *other));
  }
  EXPECT_TRUE(MediaTypesMatch(waveFormat, waveFormat));
  EXPECT_FALSE(MediaTypesMatch(waveFormat, mono));
  EXPECT_TRUE(MediaTypesMatch(empty, empty));
  noBlock.cbFormat = 0;
}

}  // namespace
