// Timed text as subtitles: a "tx3g" track offers one UTF-8 subtitle type
// whose SUBTITLEINFO names the track's language; nothing else a null-media
// track holds is offered.
#include "media_type_movie.h"
#include "test_files.h"

#include "platform/media_guids.h"

#include <gtest/gtest.h>

namespace {

TEST(SubtitleMediaTypeTest, TimedTextIsUtf8SubtitlesInTheTracksLanguage) {
  const ParsedMovie movie = ParseMovie(MakeMemoryReader(LoadTestFile("tx3g.mp4")).Get(), 0, CreateSampleEntry);
  ASSERT_EQ(movie.result, S_OK);
  trakBox& text = movie.Track(1);
  ASSERT_EQ(text.FormatFourCC(), FourCC("tx3g"));
  CMediaType type;
  ASSERT_EQ(text.GetTrackMediaType(0, &type), S_OK);
  EXPECT_EQ(type.majortype, MEDIATYPE_Subtitle);
  EXPECT_EQ(type.subtype, MEDIASUBTYPE_UTF8);
  EXPECT_EQ(type.formattype, FORMAT_SubtitleInfo);
  SUBTITLEINFO expected{520, "eng", {}};
  EXPECT_EQ(BlockTail(type, 0), BytesOf(expected));
  EXPECT_EQ(text.GetTrackMediaType(1, &type), VFW_S_NO_MORE_ITEMS);

  MediaTypeTrack other;
  other.handler = "text", other.mediaHeader = "nmhd", other.format = "text";
  other.entryBody = std::vector<uint8_t>(40);
  EXPECT_EQ(TrackType(ParseMediaTypeMovie(other), 0, &type), VFW_S_NO_MORE_ITEMS);
}

}  // namespace
