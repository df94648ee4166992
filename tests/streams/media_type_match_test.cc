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

constexpr RECT kEmpty = {0, 0, 0, 0};

struct VideoTypeSpec {
  const GUID* formatType = &FORMAT_VideoInfo;
  const GUID* subtype = &MEDIASUBTYPE_YV12;
  LONG width = 720;
  LONG height = 576;
  DWORD compression = MAKEFOURCC('Y', 'V', '1', '2');
  WORD bitCount = 12;
  DWORD sizeImage = 622080;
  REFERENCE_TIME duration = 400000;
  // Stored only by the VIDEOINFOHEADER2 family.
  DWORD aspectX = 720;
  DWORD aspectY = 576;
  RECT source = kEmpty;
  RECT target = kEmpty;
  DWORD biSize = 40;
  std::vector<uint8_t> extra;
};

ULONG MinimumSize(const GUID& formatType) {
  if (formatType == FORMAT_MPEGVideo) return 104;
  if (formatType == FORMAT_IsoVideoInfoPrivate) return 144;
  if (formatType == FORMAT_MPEG2Video) return 136;
  return 0;
}

CMediaType MakeVideoType(const VideoTypeSpec& spec) {
  CMediaType type(&MEDIATYPE_Video);
  type.SetSubtype(spec.subtype);
  type.SetFormatType(spec.formatType);
  BITMAPINFOHEADER bitmap{};
  bitmap.biSize = spec.biSize;
  bitmap.biWidth = spec.width;
  bitmap.biHeight = spec.height;
  bitmap.biPlanes = 1;
  bitmap.biBitCount = spec.bitCount;
  bitmap.biCompression = spec.compression;
  bitmap.biSizeImage = spec.sizeImage;
  std::vector<uint8_t> block;
  const bool second = *spec.formatType == FORMAT_VideoInfo2 || *spec.formatType == FORMAT_MPEG2Video;
  if (second) {
    VIDEOINFOHEADER2 header{};
    header.rcSource = spec.source;
    header.rcTarget = spec.target;
    header.AvgTimePerFrame = spec.duration;
    header.dwPictAspectRatioX = spec.aspectX;
    header.dwPictAspectRatioY = spec.aspectY;
    header.bmiHeader = bitmap;
    block.resize(sizeof header);
    std::memcpy(block.data(), &header, sizeof header);
  } else {
    VIDEOINFOHEADER header{};
    header.rcSource = spec.source;
    header.rcTarget = spec.target;
    header.AvgTimePerFrame = spec.duration;
    header.bmiHeader = bitmap;
    block.resize(sizeof header);
    std::memcpy(block.data(), &header, sizeof header);
  }
  block.insert(block.end(), spec.extra.begin(), spec.extra.end());
  if (block.size() < MinimumSize(*spec.formatType)) block.resize(MinimumSize(*spec.formatType));
  type.SetFormat(block.data(), static_cast<ULONG>(block.size()));
  return type;
}

CMediaType MakeAudioType(const std::vector<uint8_t>& block) {
  CMediaType type(&MEDIATYPE_Audio);
  type.SetSubtype(&MEDIASUBTYPE_PCM);
  type.SetFormatType(&FORMAT_WaveFormatEx);
  if (!block.empty()) type.SetFormat(block.data(), static_cast<ULONG>(block.size()));
  return type;
}

template <class Change>
VideoTypeSpec With(Change change) {
  VideoTypeSpec spec;
  change(spec);
  return spec;
}

class MediaTypeMatchTest : public ::testing::Test {};

TEST_F(MediaTypeMatchTest, VideoTypesMatchWhenTheyDescribeTheSamePicture) {
  const RECT full = {0, 0, 720, 576};
  struct Row {
    const char* name;
    VideoTypeSpec a;
    VideoTypeSpec b;
    bool match;
  };
  const Row rows[] = {
      {"identical", {}, {}, true},
      {"VIDEOINFOHEADER2 with the bitmap's aspect", {}, With([](auto& s) { s.formatType = &FORMAT_VideoInfo2; }), true},
      {"VIDEOINFOHEADER2 with 16:9",
       {},
       With([](auto& s) {
         s.formatType = &FORMAT_VideoInfo2;
         s.aspectX = 16;
         s.aspectY = 9;
       }),
       false},
      {"MPEG2VIDEOINFO", {}, With([](auto& s) { s.formatType = &FORMAT_MPEG2Video; }), true},
      {"MPEG1VIDEOINFO", {}, With([](auto& s) { s.formatType = &FORMAT_MPEGVideo; }), true},
      {"private video format", {}, With([](auto& s) { s.formatType = &FORMAT_IsoVideoInfoPrivate; }), true},
      {"YV12 bottom-up and top-down", {}, With([](auto& s) { s.height = -576; }), true},
      {"RGB bottom-up and top-down",
       With([](auto& s) {
         s.compression = BI_RGB;
         s.bitCount = 24;
       }),
       With([](auto& s) {
         s.compression = BI_RGB;
         s.bitCount = 24;
         s.height = -576;
       }),
       false},
      {"other width", {}, With([](auto& s) { s.width = 704; }), false},
      {"other bit count", {}, With([](auto& s) { s.bitCount = 16; }), false},
      {"other compression", {}, With([](auto& s) { s.compression = MAKEFOURCC('I', '4', '2', '0'); }), false},
      {"other image size only", {}, With([](auto& s) { s.sizeImage = 0; }), true},
      {"durations one apart", {}, With([](auto& s) { s.duration = 400001; }), true},
      {"durations two apart", {}, With([](auto& s) { s.duration = 400002; }), false},
      {"zero duration is 30 fps",
       With([](auto& s) { s.duration = 0; }),
       With([](auto& s) { s.duration = 333334; }),
       true},
      {"zero duration is not 29.97 fps",
       With([](auto& s) { s.duration = 0; }),
       With([](auto& s) { s.duration = 333367; }),
       false},
      {"empty and full target", {}, With([full](auto& s) { s.target = full; }), true},
      {"empty and full source", {}, With([full](auto& s) { s.source = full; }), true},
      {"empty and half target", {}, With([](auto& s) { s.target = {0, 0, 360, 288}; }), false},
      {"offset target", {}, With([](auto& s) { s.target = {8, 0, 720, 576}; }), false},
      {"different extra bytes", With([](auto& s) { s.extra = {1, 2}; }), With([](auto& s) { s.extra = {3, 4}; }),
       true},
      {"longer block with the same start", {}, With([](auto& s) { s.extra = {1, 2, 3}; }), true},
      {"different subtype", {}, With([](auto& s) { s.subtype = &MEDIASUBTYPE_I420; }), false},
      {"different subtype, same block",
       With([](auto& s) { s.subtype = &MEDIASUBTYPE_NV12; }),
       With([](auto& s) { s.subtype = &MEDIASUBTYPE_I420; }),
       false},
  };
  for (const Row& row : rows) {
    const CMediaType a = MakeVideoType(row.a);
    const CMediaType b = MakeVideoType(row.b);
    EXPECT_EQ(MediaTypesMatch(a, b), row.match) << row.name;
    EXPECT_EQ(MediaTypesMatch(b, a), row.match) << row.name << " (reversed)";
  }
}

TEST_F(MediaTypeMatchTest, FormatBlocksThatCannotBeReadDoNotMatch) {
  const CMediaType whole = MakeVideoType({});
  CMediaType cut = whole;
  cut.SetFormat(whole.pbFormat, 80);
  EXPECT_FALSE(MediaTypesMatch(cut, whole));
  EXPECT_FALSE(MediaTypesMatch(whole, cut));

  CMediaType shortPrivate = MakeVideoType(With([](auto& s) { s.formatType = &FORMAT_IsoVideoInfoPrivate; }));
  const std::vector<uint8_t> privateStart(shortPrivate.pbFormat, shortPrivate.pbFormat + 120);
  shortPrivate.SetFormat(privateStart.data(), 120);
  EXPECT_FALSE(MediaTypesMatch(shortPrivate, whole));

  CMediaType noBlock = whole;
  CoTaskMemFree(noBlock.pbFormat);
  noBlock.pbFormat = nullptr;
  EXPECT_FALSE(MediaTypesMatch(noBlock, whole));
  EXPECT_FALSE(MediaTypesMatch(whole, noBlock));
  noBlock.cbFormat = 0;

  CMediaType empty = whole;
  empty.ResetFormatBuffer();
  EXPECT_FALSE(MediaTypesMatch(empty, whole));
  EXPECT_TRUE(MediaTypesMatch(empty, empty));
}

TEST_F(MediaTypeMatchTest, OtherFormatTypesMatchOnlyByteForByte) {
  const std::vector<uint8_t> stereo = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0};
  std::vector<uint8_t> mono = stereo;
  mono[2] = 1;
  std::vector<uint8_t> longer = stereo;
  longer.push_back(0);
  EXPECT_TRUE(MediaTypesMatch(MakeAudioType(stereo), MakeAudioType(stereo)));
  EXPECT_FALSE(MediaTypesMatch(MakeAudioType(stereo), MakeAudioType(mono)));
  EXPECT_FALSE(MediaTypesMatch(MakeAudioType(stereo), MakeAudioType(longer)));
  EXPECT_TRUE(MediaTypesMatch(MakeAudioType({}), MakeAudioType({})));
  // A video block under an audio major type is no video type.
  CMediaType video = MakeVideoType({});
  CMediaType audioMajor = video;
  audioMajor.SetType(&MEDIATYPE_Audio);
  EXPECT_FALSE(MediaTypesMatch(audioMajor, video));
  CMediaType waveFormat = video;
  waveFormat.SetFormatType(&FORMAT_WaveFormatEx);
  EXPECT_FALSE(MediaTypesMatch(waveFormat, video));
}

TEST_F(MediaTypeMatchTest, GreyFormatComparesItsLongerHeader) {
  const auto grey = [](std::vector<uint8_t> extra) {
    return MakeVideoType(With([&](auto& s) {
      s.compression = MAKEFOURCC('V', 'G', 'R', 'Y');
      s.biSize = 48;
      s.extra = extra;
    }));
  };
  EXPECT_TRUE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8}), grey({1, 2, 3, 4, 5, 6, 7, 8, 9})));
  EXPECT_FALSE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8}), grey({1, 2, 3, 4, 5, 6, 7, 9, 9})));
  // Past the header the bytes are the grey format's, not ours to compare.
  EXPECT_TRUE(MediaTypesMatch(grey({1, 2, 3, 4, 5, 6, 7, 8, 0xAA}), grey({1, 2, 3, 4, 5, 6, 7, 8, 0xBB})));
}

TEST_F(MediaTypeMatchTest, RectanglesMeanTheWholePictureWhenEmptyOrFull) {
  BITMAPINFOHEADER bitmap{};
  bitmap.biWidth = 640;
  bitmap.biHeight = -480;
  struct Row {
    RECT a, b;
    bool equivalent;
  };
  const Row rows[] = {
      {{0, 0, 640, 480}, {0, 0, 0, 0}, true},
      {{0, 0, 640, 0}, {0, 0, 0, 480}, true},
      {{10, 10, 100, 100}, {10, 10, 100, 100}, true},
      {{0, 0, 640, 479}, {0, 0, 0, 0}, false},
      {{0, 1, 640, 480}, {0, 0, 640, 480}, false},
      {{0, 0, -640, 480}, {0, 0, 640, 480}, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RectanglesEquivalent(row.a, row.b, bitmap), row.equivalent)
        << row.a.left << "," << row.a.top << "," << row.a.right << "," << row.a.bottom;
  }
}

TEST_F(MediaTypeMatchTest, RendererTypesMatchWhatAYuv2TrackOffers) {
  MediaTypeTrack track;
  track.format = "yuv2";
  track.entryBody = VisualEntryBody(32, 24);
  track.constantSize = 1536;
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  CMediaType offered;
  ASSERT_EQ(TrackType(movie, 0, &offered), S_OK);

  // A renderer proposes top-down rows, its own rectangles and 30 fps.
  CMediaType proposed = offered;
  VIDEOINFOHEADER header = FormatBlock<VIDEOINFOHEADER>(proposed);
  header.bmiHeader.biHeight = -24;
  header.rcSource = {0, 0, 32, 24};
  header.rcTarget = {0, 0, 32, 24};
  header.bmiHeader.biSizeImage = 0;
  std::memcpy(proposed.pbFormat, &header, sizeof header);
  EXPECT_TRUE(MediaTypesMatch(proposed, offered));

  header.bmiHeader.biWidth = 64;
  std::memcpy(proposed.pbFormat, &header, sizeof header);
  EXPECT_FALSE(MediaTypesMatch(proposed, offered));
}

}  // namespace
