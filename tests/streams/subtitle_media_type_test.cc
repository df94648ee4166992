// Timed text as subtitles: a "tx3g" track offers one UTF-8 subtitle type
// whose SUBTITLEINFO names the track's language; nothing else a null-media
// track holds is offered.
#include "media_type_movie.h"

#include "platform/media_guids.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

std::vector<uint8_t> ReadTestFile(const std::string& name) {
  std::ifstream file(std::string(ISODMX_TEST_DATA) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class SubtitleMediaTypeTest : public ::testing::Test {};

TEST_F(SubtitleMediaTypeTest, TimedTextIsUtf8SubtitlesInTheTracksLanguage) {
  const std::vector<uint8_t> bytes = ReadTestFile("tx3g.mp4");
  ASSERT_FALSE(bytes.empty());
  const ParsedMovie movie = ParseMovie(MakeMemoryReader(bytes).Get(), 0, CreateSampleEntry);
  ASSERT_EQ(movie.result, S_OK);
  trakBox& text = movie.Track(1);
  ASSERT_EQ(text.FormatFourCC(), FourCC("tx3g"));

  CMediaType type;
  ASSERT_EQ(text.GetTrackMediaType(0, &type), S_OK);
  EXPECT_EQ(type.majortype, MEDIATYPE_Subtitle);
  EXPECT_EQ(type.subtype, MEDIASUBTYPE_UTF8);
  EXPECT_EQ(type.formattype, FORMAT_SubtitleInfo);
  ASSERT_EQ(type.cbFormat, 520u);
  const SUBTITLEINFO info = FormatBlock<SUBTITLEINFO>(type);
  EXPECT_EQ(info.dwOffset, 520u);
  EXPECT_STREQ(info.IsoLang, "eng");
  for (uint16_t unit : info.TrackName) ASSERT_EQ(unit, 0);
  EXPECT_EQ(text.GetTrackMediaType(1, &type), VFW_S_NO_MORE_ITEMS);
}

TEST_F(SubtitleMediaTypeTest, OtherNullMediaFormatsOfferNothing) {
  MediaTypeTrack track;
  track.handler = "text";
  track.mediaHeader = "nmhd";
  track.format = "text";
  track.entryBody = std::vector<uint8_t>(40);
  CMediaType type;
  EXPECT_EQ(TrackType(ParseMediaTypeMovie(track), 0, &type), VFW_S_NO_MORE_ITEMS);
}

}  // namespace
