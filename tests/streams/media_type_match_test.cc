// Whether a proposed media type counts as one the pin offers. Too strict,
// and a renderer that writes the same picture another way is refused; too
// loose, and a decoder is connected to a picture it cannot take.
#include "media_type_movie.h"

#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/task_memory.h"
#include "streams/media_type_match.h"

#include <gtest/gtest.h>

namespace {

struct VideoTypeSpec {
  const GUID* formatType = &FORMAT_VideoInfo;
  const GUID* subtype = &MEDIASUBTYPE_YV12;
  LONG width = 720, height = 576;
  DWORD compression = MAKEFOURCC('Y', 'V', '1', '2');
  WORD bitCount = 12;
  DWORD sizeImage = 622080;
  REFERENCE_TIME duration = 400000;
  DWORD aspectX = 720, aspectY = 576;  // stored only by the VIDEOINFOHEADER2 family
  RECT source = {0, 0, 0, 0}, target = {0, 0, 0, 0};
  DWORD biSize = 40;
  std::vector<uint8_t> extra;
};

template <class Header>
std::vector<uint8_t> HeaderBytes(const VideoTypeSpec& spec, Header header) {
  header.rcSource = spec.source;
  header.rcTarget = spec.target;
  header.AvgTimePerFrame = spec.duration;
  header.bmiHeader = {spec.biSize, spec.width, spec.height, 1, spec.bitCount, spec.compression, spec.sizeImage, 0, 0, 0, 0};
  const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
  return std::vector<uint8_t>(bytes, bytes + sizeof header);
}

CMediaType MakeVideoType(const VideoTypeSpec& spec) {
  CMediaType type(&MEDIATYPE_Video);
  type.SetSubtype(spec.subtype);
  type.SetFormatType(spec.formatType);
  VIDEOINFOHEADER2 second{};
  second.dwPictAspectRatioX = spec.aspectX;
  second.dwPictAspectRatioY = spec.aspectY;
  const bool isSecond = *spec.formatType == FORMAT_VideoInfo2 || *spec.formatType == FORMAT_MPEG2Video;
  std::vector<uint8_t> block = isSecond ? HeaderBytes(spec, second) : HeaderBytes(spec, VIDEOINFOHEADER{});
  block.insert(block.end(), spec.extra.begin(), spec.extra.end());
  // The MPEG and private video blocks run past the header.
  const size_t minimum = *spec.formatType == FORMAT_MPEGVideo ? 104 : *spec.formatType == FORMAT_MPEG2Video ? 136
                         : *spec.formatType == FORMAT_IsoVideoInfoPrivate ? 144 : 0;
  block.resize(std::max(block.size(), minimum));
  type.SetFormat(block.data(), static_cast<ULONG>(block.size()));
  return type;
}

template <class Change>
VideoTypeSpec With(Change change) {
  VideoTypeSpec spec;
  change(spec);
  return spec;
}

TEST(MediaTypeMatchTest, VideoTypesMatchWhenTheyDescribeTheSamePicture) {
  const VideoTypeSpec rgb = With([](auto& s) { s.compression = BI_RGB, s.bitCount = 24; });
  const struct {
    const char* name;
    VideoTypeSpec a, b;
    bool match;
  } rows[] = {
      {"identical", {}, {}, true},
      {"VIDEOINFOHEADER2 with the bitmap's aspect", {}, With([](auto& s) { s.formatType = &FORMAT_VideoInfo2; }), true},
      {"VIDEOINFOHEADER2 with 16:9", {}, With([](auto& s) { s.formatType = &FORMAT_VideoInfo2, s.aspectX = 16, s.aspectY = 9; }), false},
      {"MPEG2VIDEOINFO", {}, With([](auto& s) { s.formatType = &FORMAT_MPEG2Video; }), true},
      {"MPEG1VIDEOINFO", {}, With([](auto& s) { s.formatType = &FORMAT_MPEGVideo; }), true},
      {"private video format", {}, With([](auto& s) { s.formatType = &FORMAT_IsoVideoInfoPrivate; }), true},
      {"YV12 bottom-up and top-down", {}, With([](auto& s) { s.height = -576; }), true},
      {"RGB bottom-up and top-down", rgb, With([&](auto& s) { s = rgb, s.height = -576; }), false},
      {"other width", {}, With([](auto& s) { s.width = 704; }), false},
      {"other bit count", {}, With([](auto& s) { s.bitCount = 16; }), false},
      {"other compression", {}, With([](auto& s) { s.compression = MAKEFOURCC('I', '4', '2', '0'); }), false},
      {"other image size only", {}, With([](auto& s) { s.sizeImage = 0; }), true},
      {"durations one apart", {}, With([](auto& s) { s.duration = 400001; }), true},
      {"durations two apart", {}, With([](auto& s) { s.duration = 400002; }), false},
      {"zero duration is 30 fps", With([](auto& s) { s.duration = 0; }), With([](auto& s) { s.duration = 333334; }), true},
      {"zero duration is not 29.97 fps", With([](auto& s) { s.duration = 0; }), With([](auto& s) { s.duration = 333367; }), false},
      {"empty and full target", {}, With([](auto& s) { s.target = {0, 0, 720, 576}; }), true},
      {"empty and full source", {}, With([](auto& s) { s.source = {0, 0, 720, 576}; }), true},
      {"full width, empty height", {}, With([](auto& s) { s.target = {0, 0, 720, 0}; }), true},
      {"empty and half target", {}, With([](auto& s) { s.target = {0, 0, 360, 288}; }), false},
      {"offset target", {}, With([](auto& s) { s.target = {8, 0, 720, 576}; }), false},
      {"one row short", {}, With([](auto& s) { s.target = {0, 0, 720, 575}; }), false},
      {"different extra bytes", With([](auto& s) { s.extra = {1, 2}; }), With([](auto& s) { s.extra = {3, 4}; }), true},
      {"longer block with the same start", {}, With([](auto& s) { s.extra = {1, 2, 3}; }), true},
      {"different subtype", {}, With([](auto& s) { s.subtype = &MEDIASUBTYPE_I420; }), false},
      {"different subtype, same block", With([](auto& s) { s.subtype = &MEDIASUBTYPE_NV12; }),
       With([](auto& s) { s.subtype = &MEDIASUBTYPE_I420; }), false},
  };
  for (const auto& row : rows) {
    const CMediaType a = MakeVideoType(row.a), b = MakeVideoType(row.b);
    EXPECT_EQ(MediaTypesMatch(a, b), row.match) << row.name;
    EXPECT_EQ(MediaTypesMatch(b, a), row.match) << row.name << " (reversed)";
  }
}

TEST(MediaTypeMatchTest, FormatBlocksThatCannotBeReadDoNotMatch) {
  const CMediaType whole = MakeVideoType({});
  CMediaType cut = whole;
  cut.SetFormat(whole.pbFormat, 80);
  CMediaType shortPrivate = MakeVideoType(With([](auto& s) { s.formatType = &FORMAT_IsoVideoInfoPrivate; }));
  const std::vector<uint8_t> privateStart(shortPrivate.pbFormat, shortPrivate.pbFormat + 120);
  shortPrivate.SetFormat(privateStart.data(), 120);
  CMediaType noBlock = whole;
  CoTaskMemFree(noBlock.pbFormat);
  noBlock.pbFormat = nullptr;
  for (const CMediaType* unreadable : {&cut, &shortPrivate, &noBlock}) {
    EXPECT_FALSE(MediaTypesMatch(*unreadable, whole));
    EXPECT_FALSE(MediaTypesMatch(whole, *unreadable));
  }
  noBlock.cbFormat = 0;
  CMediaType empty = whole;
  empty.ResetFormatBuffer();
  EXPECT_FALSE(MediaTypesMatch(empty, whole));
  EXPECT_TRUE(MediaTypesMatch(empty, empty));
}

TEST(MediaTypeMatchTest, OtherFormatTypesMatchOnlyByteForByte) {
  const auto audio = [](std::vector<uint8_t> block) {
    CMediaType type(&MEDIATYPE_Audio);
    type.SetSubtype(&MEDIASUBTYPE_PCM);
    type.SetFormatType(&FORMAT_WaveFormatEx);
    if (!block.empty()) type.SetFormat(block.data(), static_cast<ULONG>(block.size()));
    return type;
  };
  const std::vector<uint8_t> stereo = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0};
  std::vector<uint8_t> mono = stereo, longer = stereo;
  mono[2] = 1;
  longer.push_back(0);
  EXPECT_TRUE(MediaTypesMatch(audio(stereo), audio(stereo)));
  EXPECT_FALSE(MediaTypesMatch(audio(stereo), audio(mono)));
  EXPECT_FALSE(MediaTypesMatch(audio(stereo), audio(longer)));
  EXPECT_TRUE(MediaTypesMatch(audio({}), audio({})));
  // A video block under an audio major type or format type is no video type.
  const CMediaType video = MakeVideoType({});
  CMediaType audioMajor = video, waveFormat = video;
  audioMajor.SetType(&MEDIATYPE_Audio);
  waveFormat.SetFormatType(&FORMAT_WaveFormatEx);
  EXPECT_FALSE(MediaTypesMatch(audioMajor, video));
  EXPECT_FALSE(MediaTypesMatch(waveFormat, video));
}

TEST(MediaTypeMatchTest, GreyFormatComparesItsLongerHeader) {
  const auto grey = [](std::vector<uint8_t> extra) {
    return MakeVideoType(With([&](auto& s) { s.compression = MAKEFOURCC('V', 'G', 'R', 'Y'), s.biSize = 48, s.extra = extra; }));
  };
  EXPECT_TRUE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8}), grey({1, 2, 3, 4, 5, 6, 7, 8, 9})));
  EXPECT_FALSE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8}), grey({1, 2, 3, 4, 5, 6, 7, 9, 9})));
  // Past the header the bytes are the grey format's, not ours to compare.
  EXPECT_TRUE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8, 0xAA}), grey({1, 2, 3, 4, 5, 6, 7, 8, 0xBB})));
}

TEST(MediaTypeMatchTest, RectanglesMeanTheWholePictureWhenEmptyOrFull) {
  BITMAPINFOHEADER bitmap{};
  bitmap.biWidth = 640;
  bitmap.biHeight = -480;  // a top-down picture is as tall
  const struct {
    RECT a, b;
    bool equivalent;
  } rows[] = {
      {{0, 0, 640, 480}, {0, 0, 0, 0}, true},          {{0, 0, 640, 0}, {0, 0, 0, 480}, true},
      {{10, 10, 100, 100}, {10, 10, 100, 100}, true},  {{0, 1, 640, 480}, {0, 0, 640, 480}, false},
      {{0, 0, -640, 480}, {0, 0, 640, 480}, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(RectanglesEquivalent(row.a, row.b, bitmap), row.equivalent)
        << row.a.left << "," << row.a.top << "," << row.a.right << "," << row.a.bottom;
  }
}

}  // namespace
