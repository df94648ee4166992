// Timed text as subtitles: a "tx3g" track offers one UTF-8 subtitle type
// whose SUBTITLEINFO names the track's language; nothing else a null-media
// track holds is offered.
#include "sample_entry_fixtures.h"
#include "test_files.h"

#include "platform/media_guids.h"

#include <gtest/gtest.h>

namespace {

TEST(SubtitleMediaTypeTest, TimedTextIsUtf8SubtitlesInTheTracksLanguage) {
  const ParsedMovie movie = ParseMovie(MakeMemoryReader(LoadTestFile("tx3g.mp4")).Get(), 0, CreateSampleEntry);
  ASSERT_EQ(movie.result, S_OK);
  CMediaType type;
  ASSERT_EQ(movie.Track(1).GetTrackMediaType(0, &type), S_OK);
  EXPECT_EQ(std::make_tuple(type.majortype, type.subtype, type.formattype),
            std::make_tuple(MEDIATYPE_Subtitle, MEDIASUBTYPE_UTF8, FORMAT_SubtitleInfo));
  EXPECT_EQ(BlockTail(type, 0), BytesOf(SUBTITLEINFO{520, "eng", {}}));
  EXPECT_EQ(movie.Track(1).GetTrackMediaType(1, &type), VFW_S_NO_MORE_ITEMS);
  MediaTypeTrack other;
  other.handler = "text", other.mediaHeader = "nmhd", other.format = "text";
  other.entryBody = std::vector<uint8_t>(40);
  EXPECT_EQ(TrackType(ParseMediaTypeMovie(other), 0, &type), VFW_S_NO_MORE_ITEMS);
}

}  // namespace
