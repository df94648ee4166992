// Whether a proposed media type counts as one the pin offers. Too strict,
// and a renderer that writes the same picture another way is refused; too
// loose, and a decoder is connected to a picture it cannot take.
#include "sample_entry_fixtures.h"

#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/task_memory.h"
#include "streams/media_type_match.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

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
