// Sample entries of the real files in tests/data, parsed as the filter
// parses them, against the facts ffprobe reported (the *.facts.json files).
// The tool's tests compare every plain file's media types with the same
// facts; these rows hold what those cannot see: the pixel aspect, the MPEG
// audio object types, the timed-text entry and fragmented files.
#include "sample_entry_fixtures.h"

#include "container/dar_edo_source.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// What the entry says: format, then picture size and pixel aspect (1:1
// without "pasp"), or channels and rate; then the object type.
std::string Describe(const SampleEntry& entry) {
  char text[64];
  const auto* video = dynamic_cast<const VideoSampleEntry*>(&entry);
  const auto* audio = dynamic_cast<const AudioSampleEntry*>(&entry);
  if (video) {
    std::snprintf(text, sizeof text, " %ux%u sar %u:%u", video->width, video->height, video->pixelAspectH,
                  video->pixelAspectV);
  }
  if (audio) std::snprintf(text, sizeof text, " %uch %uHz", audio->channelCount, audio->sampleRate);
  if (!video && !audio) text[0] = 0;
  std::string described = FourCCText(entry.Format()) + text;
  if (entry.objectTypeIndication == SampleEntry::kNoObjectType) return described;
  std::snprintf(text, sizeof text, " oti %02X", entry.objectTypeIndication);
  return described + text;
}

std::string Hex(const CBuffer& buffer) {
  std::string text(2 * size_t(buffer.Length()) + 1, 0);
  for (LONG i = 0; i < buffer.Length(); ++i) std::snprintf(&text[2 * i], 3, "%02x", buffer.Data()[i]);
  return text.substr(0, 2 * size_t(buffer.Length()));
}

// The extradata is the decoder configuration, or a timed-text entry's own
// fields after the common ones; the tool's test already compares it for hevc_sar.
TEST(SampleEntryFilesTest, EntriesAgreeWithFfprobe) {
  const std::tuple<const char*, DWORD, const char*, const char*> streams[] = {
      {"hevc_sar.mp4", 1, "hvc1 176x144 sar 4:3", nullptr},
      {"mp3_in_mp4.mp4", 1, "mp4a 2ch 44100Hz oti 6B", ""},
      // ffprobe's mono comes from the MP3 frames; the ISO entry says 2.
      {"mp3_22khz.mp4", 1, "mp4a 2ch 22050Hz oti 69", ""},
      {"tx3g.mp4", 2, "tx3g", "0000000001ff000000ff00000000000000000000000000010010ffffffff000000126674616200010001"
                              "05417269616c000000146274727400000000000000a0000000a0"},
      {"smooth.ismv", 1, "avc1 160x90 sar 1:1",
       "0164000affe100196764000aacd9428df93011000003000100000300300f12259601000668ebe112c8b0fdf8f800"},
      {"smooth.ismv", 2, "mp4a 2ch 48000Hz oti 40", "119056e500"},
  };
  for (const auto& [file, trackId, facts, extradata] : streams) {
    const std::vector<uint8_t> bytes = LoadTestFile(file);
    CDarEdoSource source(MakeMemoryReader(bytes).Get(), trackId, CreateSampleEntry);
    ASSERT_EQ(source.ParseFile(), S_OK) << file;
    const SampleEntry& entry = *source.Track(0)->sampleEntry;
    EXPECT_EQ(Describe(entry), facts) << file;
    const CBuffer& config = entry.entryKind == kSampleEntryNull ? entry.payload : entry.codecConfig;
    EXPECT_EQ(Hex(config), extradata ? extradata : Hex(config)) << file;
  }
  // Timed text is offered as UTF-8 subtitles whose SUBTITLEINFO names the track's language.
  const ParsedMovie movie = ParseMovie(MakeMemoryReader(LoadTestFile("tx3g.mp4")).Get(), 0, CreateSampleEntry);
  CMediaType type;
  ASSERT_EQ(movie.Track(1).GetTrackMediaType(0, &type), S_OK);
  EXPECT_EQ(std::make_pair(type.subtype, BlockTail(type, 0)),
            std::make_pair(MEDIASUBTYPE_UTF8, BytesOf(SUBTITLEINFO{520, "eng", {}})));
}

}  // namespace
