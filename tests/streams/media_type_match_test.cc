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

using Bytes = std::vector<uint8_t>;

// A 720x576 YV12 picture at 25 fps with its rectangles left empty.
struct VideoTypeSpec {
  const GUID* formatType = &FORMAT_VideoInfo;
  const GUID* subtype = &MEDIASUBTYPE_YV12;
  LONG width = 720, height = 576;
  DWORD compression = MAKEFOURCC('Y', 'V', '1', '2'), biSize = 40;
  WORD bitCount = 12;
  DWORD sizeImage = 622080;
  REFERENCE_TIME duration = 400000;
  DWORD aspectX = 720, aspectY = 576;  // stored only by the VIDEOINFOHEADER2 family
  RECT target = {0, 0, 0, 0};
  Bytes extra;
};

template <class Header>
Bytes HeaderBytes(const VideoTypeSpec& s, Header header) {
  header.rcTarget = s.target;
  header.AvgTimePerFrame = s.duration;
  header.bmiHeader = {s.biSize, s.width, s.height, 1, s.bitCount, s.compression, s.sizeImage, 0, 0, 0, 0};
  Bytes block(reinterpret_cast<const uint8_t*>(&header), reinterpret_cast<const uint8_t*>(&header + 1));
  block.insert(block.end(), s.extra.begin(), s.extra.end());
  return block;
}

template <class Change>
CMediaType VideoType(Change change) {
  VideoTypeSpec s;
  change(s);
  VIDEOINFOHEADER2 second{};
  second.dwPictAspectRatioX = s.aspectX, second.dwPictAspectRatioY = s.aspectY;
  const bool isSecond = *s.formatType == FORMAT_VideoInfo2 || *s.formatType == FORMAT_MPEG2Video;
  Bytes block = isSecond ? HeaderBytes(s, second) : HeaderBytes(s, VIDEOINFOHEADER{});
  // The MPEG-2 and private video blocks run past the header.
  block.resize(std::max<size_t>(block.size(), *s.formatType == FORMAT_MPEG2Video ? 136 : *s.formatType == FORMAT_IsoVideoInfoPrivate ? 144 : 0));
  CMediaType type(&MEDIATYPE_Video);
  type.SetSubtype(s.subtype);
  type.SetFormatType(s.formatType);
  type.SetFormat(block.data(), static_cast<ULONG>(block.size()));
  return type;
}
const auto kDefault = [](VideoTypeSpec&) {};

TEST(MediaTypeMatchTest, VideoTypesMatchWhenTheyDescribeTheSamePicture) {
  const auto rgb = [](VideoTypeSpec& s) { s.compression = BI_RGB, s.bitCount = 24; };
  const auto zero = [](VideoTypeSpec& s) { s.duration = 0; };
  const struct {
    const char* name;
    CMediaType a, b;
    bool match;
  } rows[] = {
      {"identical", VideoType(kDefault), VideoType(kDefault), true},
      {"VIDEOINFOHEADER2 with the bitmap's aspect", VideoType(kDefault), VideoType([](auto& s) { s.formatType = &FORMAT_VideoInfo2; }), true},
      {"VIDEOINFOHEADER2 with 16:9", VideoType(kDefault),
       VideoType([](auto& s) { s.formatType = &FORMAT_VideoInfo2, s.aspectX = 16, s.aspectY = 9; }), false},
      {"MPEG2VIDEOINFO", VideoType(kDefault), VideoType([](auto& s) { s.formatType = &FORMAT_MPEG2Video; }), true},
      {"private video format", VideoType(kDefault), VideoType([](auto& s) { s.formatType = &FORMAT_IsoVideoInfoPrivate; }), true},
      {"YV12 bottom-up and top-down", VideoType(kDefault), VideoType([](auto& s) { s.height = -576; }), true},
      {"RGB bottom-up and top-down", VideoType(rgb), VideoType([&](auto& s) { rgb(s), s.height = -576; }), false},
      {"other width", VideoType(kDefault), VideoType([](auto& s) { s.width = 704; }), false},
      {"other compression", VideoType(kDefault), VideoType([](auto& s) { s.compression = MAKEFOURCC('I', '4', '2', '0'); }), false},
      {"other image size only", VideoType(kDefault), VideoType([](auto& s) { s.sizeImage = 0; }), true},
      {"durations one apart", VideoType(kDefault), VideoType([](auto& s) { s.duration = 400001; }), true},
      {"durations two apart", VideoType(kDefault), VideoType([](auto& s) { s.duration = 400002; }), false},
      {"zero duration is 30 fps", VideoType(zero), VideoType([](auto& s) { s.duration = 333334; }), true},
      {"zero duration is not 29.97 fps", VideoType(zero), VideoType([](auto& s) { s.duration = 333367; }), false},
      {"empty and full target", VideoType(kDefault), VideoType([](auto& s) { s.target = {0, 0, 720, 576}; }), true},
      {"full width, empty height", VideoType(kDefault), VideoType([](auto& s) { s.target = {0, 0, 720, 0}; }), true},
      {"offset target", VideoType(kDefault), VideoType([](auto& s) { s.target = {8, 0, 720, 576}; }), false},
      {"one row short", VideoType(kDefault), VideoType([](auto& s) { s.target = {0, 0, 720, 575}; }), false},
      {"different extra bytes", VideoType([](auto& s) { s.extra = {1, 2}; }), VideoType([](auto& s) { s.extra = {3, 4}; }), true},
      {"longer block with the same start", VideoType(kDefault), VideoType([](auto& s) { s.extra = {1, 2, 3}; }), true},
      {"different subtype, same block", VideoType([](auto& s) { s.subtype = &MEDIASUBTYPE_NV12; }),
       VideoType([](auto& s) { s.subtype = &MEDIASUBTYPE_I420; }), false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(MediaTypesMatch(row.a, row.b), row.match) << row.name;
    EXPECT_EQ(MediaTypesMatch(row.b, row.a), row.match) << row.name << " (reversed)";
  }
}

TEST(MediaTypeMatchTest, FormatBlocksThatCannotBeReadDoNotMatch) {
  const CMediaType whole = VideoType(kDefault);
  CMediaType cut = whole, noBlock = whole, empty = whole;
  cut.SetFormat(whole.pbFormat, 80);
  CMediaType shortPrivate = VideoType([](auto& s) { s.formatType = &FORMAT_IsoVideoInfoPrivate; });
  shortPrivate.cbFormat = 120;
  CoTaskMemFree(noBlock.pbFormat);
  noBlock.pbFormat = nullptr;
  for (const CMediaType* unreadable : {&cut, &shortPrivate, &noBlock}) {
    EXPECT_FALSE(MediaTypesMatch(*unreadable, whole));
    EXPECT_FALSE(MediaTypesMatch(whole, *unreadable));
  }
  noBlock.cbFormat = 0;
  empty.ResetFormatBuffer();
  EXPECT_FALSE(MediaTypesMatch(empty, whole));
  EXPECT_TRUE(MediaTypesMatch(empty, empty));
}

TEST(MediaTypeMatchTest, OtherFormatTypesMatchOnlyByteForByte) {
  const auto audio = [](Bytes block) {
    CMediaType type(&MEDIATYPE_Audio);
    type.SetSubtype(&MEDIASUBTYPE_PCM);
    type.SetFormatType(&FORMAT_WaveFormatEx);
    if (!block.empty()) type.SetFormat(block.data(), static_cast<ULONG>(block.size()));
    return type;
  };
  const Bytes stereo = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0};
  Bytes mono = stereo, longer = stereo;
  mono[2] = 1;
  longer.push_back(0);
  EXPECT_TRUE(MediaTypesMatch(audio(stereo), audio(stereo)));
  EXPECT_FALSE(MediaTypesMatch(audio(stereo), audio(mono)));
  EXPECT_FALSE(MediaTypesMatch(audio(stereo), audio(longer)));
  EXPECT_TRUE(MediaTypesMatch(audio({}), audio({})));
  // A video block under an audio major type or format type is no video type.
  const CMediaType video = VideoType(kDefault);
  CMediaType audioMajor = video, waveFormat = video;
  audioMajor.SetType(&MEDIATYPE_Audio);
  waveFormat.SetFormatType(&FORMAT_WaveFormatEx);
  EXPECT_FALSE(MediaTypesMatch(audioMajor, video));
  EXPECT_FALSE(MediaTypesMatch(waveFormat, video));
}

TEST(MediaTypeMatchTest, GreyFormatComparesItsLongerHeader) {
  const auto grey = [](Bytes extra) {
    return VideoType([&](auto& s) { s.compression = MAKEFOURCC('V', 'G', 'R', 'Y'), s.biSize = 48, s.extra = extra; });
  };
  EXPECT_TRUE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8}), grey({1, 2, 3, 4, 5, 6, 7, 8, 9})));
  EXPECT_FALSE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8}), grey({1, 2, 3, 4, 5, 6, 7, 9, 9})));
  // Past the header the bytes are the grey format's, not ours to compare.
  EXPECT_TRUE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8, 0xAA}), grey({1, 2, 3, 4, 5, 6, 7, 8, 0xBB})));
}

}  // namespace
