// Sample entries of the real files in tests/data, parsed as the filter
// parses them, against the facts ffprobe reported (the *.facts.json files).
// The tool's tests compare every plain file's media types with the same
// facts; these rows hold what those cannot see: the pixel aspect, the MPEG
// audio object types, the timed-text entry and fragmented files.
#include "sample_entry_fixtures.h"
#include "test_files.h"

#include "container/dar_edo_source.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// What the entry says: format, then picture size and pixel aspect (1:1
// without "pasp"), or channels and rate; then the object type and the
// decoder configuration (a timed-text entry's own fields after the common ones).
std::string Describe(const SampleEntry& entry) {
  std::string text = FourCCText(entry.Format());
  if (const auto* video = dynamic_cast<const VideoSampleEntry*>(&entry)) {
    text += " " + std::to_string(video->width) + "x" + std::to_string(video->height) + " sar " +
            std::to_string(video->pixelAspectH) + ":" + std::to_string(video->pixelAspectV);
  } else if (const auto* audio = dynamic_cast<const AudioSampleEntry*>(&entry)) {
    text += " " + std::to_string(audio->channelCount) + "ch " + std::to_string(audio->sampleRate) + "Hz";
  }
  char hex[16] = "";
  if (entry.objectTypeIndication != SampleEntry::kNoObjectType) std::snprintf(hex, sizeof hex, " oti %02X", entry.objectTypeIndication);
  text += hex;
  const CBuffer& config = entry.entryKind == kSampleEntryNull ? entry.payload : entry.codecConfig;
  for (LONG i = 0; i < config.Length(); ++i) {
    std::snprintf(hex, sizeof hex, i == 0 ? " %02x" : "%02x", config.Data()[i]);
    text += hex;
  }
  return text;
}

TEST(SampleEntryFilesTest, EntriesAgreeWithFfprobe) {
  const std::tuple<const char*, DWORD, const char*> streams[] = {
      {"hevc_sar.mp4", 1, "hvc1 176x144 sar 4:3 0101600000009000000000003cf000fcfdf8f800000f03a00001001840010c01ffff"
                          "01600000030090000003000003003c959809a10001002a42010101600000030090000003000003003ca0162024596566"
                          "924caf0e6808000003000800000300c040a2000100074401c172b42240"},
      {"mp3_in_mp4.mp4", 1, "mp4a 2ch 44100Hz oti 6B"},
      // ffprobe's mono comes from the MP3 frames; the ISO entry says 2.
      {"mp3_22khz.mp4", 1, "mp4a 2ch 22050Hz oti 69"},
      {"tx3g.mp4", 2, "tx3g 0000000001ff000000ff00000000000000000000000000010010ffffffff00000012667461620001000105417269"
                      "616c000000146274727400000000000000a0000000a0"},
      {"smooth.ismv", 1, "avc1 160x90 sar 1:1 0164000affe100196764000aacd9428df93011000003000100000300300f12259601000"
                         "668ebe112c8b0fdf8f800"},
      {"smooth.ismv", 2, "mp4a 2ch 48000Hz oti 40 119056e500"},
  };
  for (const auto& [file, trackId, facts] : streams) {
    const std::vector<uint8_t> bytes = LoadTestFile(file);
    CDarEdoSource source(MakeMemoryReader(bytes).Get(), trackId, CreateSampleEntry);
    ASSERT_EQ(source.ParseFile(), S_OK) << file;
    ASSERT_EQ(source.TrackCount(), 1u) << file;
    ASSERT_NE(source.Track(0)->sampleEntry, nullptr) << file;
    EXPECT_EQ(Describe(*source.Track(0)->sampleEntry), facts) << file;
  }
}

// Timed text is offered as UTF-8 subtitles whose SUBTITLEINFO names the
// track's language; nothing else a null-media track holds is offered.
TEST(SampleEntryFilesTest, TimedTextIsUtf8SubtitlesInTheTracksLanguage) {
  const ParsedMovie movie = ParseMovie(MakeMemoryReader(LoadTestFile("tx3g.mp4")).Get(), 0, CreateSampleEntry);
  ASSERT_EQ(movie.result, S_OK);
  CMediaType type;
  ASSERT_EQ(movie.Track(1).GetTrackMediaType(0, &type), S_OK);
  EXPECT_EQ(std::make_tuple(type.majortype, type.subtype, type.formattype),
            std::make_tuple(MEDIATYPE_Subtitle, MEDIASUBTYPE_UTF8, FORMAT_SubtitleInfo));
  EXPECT_EQ(BlockTail(type, 0), BytesOf(SUBTITLEINFO{520, "eng", {}}));
  EXPECT_EQ(movie.Track(1).GetTrackMediaType(1, &type), VFW_S_NO_MORE_ITEMS);
  const ParsedMovie other = ParseMediaTypeMovie(
      {.handler = "text", .mediaHeader = "nmhd", .format = "text", .entryBody = std::vector<uint8_t>(40)});
  EXPECT_EQ(TrackType(other, 0, &type), VFW_S_NO_MORE_ITEMS);
}

}  // namespace
