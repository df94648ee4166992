// Sample entries of the real files in tests/data, parsed as the filter
// parses them, against the facts ffprobe reported (the *.facts.json files).
#include "test_files.h"

#include "support/box_builder.h"

#include "container/dar_edo_source.h"
#include "platform/fourcc.h"
#include "streams/audio_sample_entry.h"
#include "streams/sample_entry_factory.h"
#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string Hex(const CBuffer& buffer) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (LONG i = 0; i < buffer.Length(); ++i) {
    text.push_back(kDigits[buffer.Data()[i] >> 4]);
    text.push_back(kDigits[buffer.Data()[i] & 0xF]);
  }
  return text;
}

// What the entry says: format, then picture size and pixel aspect (1:1
// without "pasp"), or
// channels, rate and object type.
std::string Describe(const SampleEntry& entry) {
  std::string text = FourCCText(entry.Format());
  if (const auto* video = dynamic_cast<const VideoSampleEntry*>(&entry)) {
    text += " " + std::to_string(video->width) + "x" + std::to_string(video->height);
    text += " sar " + std::to_string(video->pixelAspectH) + ":" + std::to_string(video->pixelAspectV);
  } else if (const auto* audio = dynamic_cast<const AudioSampleEntry*>(&entry)) {
    text += " " + std::to_string(audio->channelCount) + "ch " + std::to_string(audio->sampleRate) + "Hz";
  }
  char objectType[16] = "";
  if (entry.objectTypeIndication != SampleEntry::kNoObjectType) {
    std::snprintf(objectType, sizeof objectType, " oti %02X", entry.objectTypeIndication);
  }
  return text + objectType;
}

constexpr char kAvcFfmpeg[] =
    "0164000affe100196764000aacd9428df93011000003000100000300300f12259601000668ebe112c8b0fdf8f800";
constexpr char kAacFfmpeg[] = "119056e500";
constexpr char kHevcStart[] =
    "0101600000009000000000003cf000fcfdf8f800000f03a00001001840010c01ffff01600000030090000003000003003c959809a1"
    "0001002a42010101600000030090000003000003003ca0162024596566924caf0";
constexpr char kHevcEnd[] = "6808000003000800000300c040a2000100074401c172b42240";

// ffprobe's size, channels, rate and extradata (the avcC/hvcC payload, the
// AudioSpecificConfig or VOL from the ES descriptor, or the timed-text entry
// after its common fields); its codec names give the MP3 object types.
TEST(SampleEntryFilesTest, EntriesAgreeWithFfprobe) {
  const struct {
    const char* file;
    DWORD trackId;
    const char* entry;
    std::string extradata;
  } streams[] = {
      {"h264_bframes.mp4", 1, "avc1 160x90 sar 1:1", kAvcFfmpeg},
      {"h264_bframes.mp4", 2, "mp4a 2ch 48000Hz oti 40", kAacFfmpeg},
      {"gst_h264_aac.mp4", 1, "avc1 160x90 sar 1:1",
       "01640014ffe1001d67640014acd9428df93016a0c0c0d4a0000003002000000611e28532c001000668ebe112c8b0"},
      {"gst_h264_aac.mp4", 2, "mp4a 2ch 48000Hz oti 40", "1190"},
      {"hevc_hvc1.mp4", 1, "hvc1 176x144 sar 1:1", std::string(kHevcStart) + "1" + kHevcEnd},
      {"hevc_sar.mp4", 1, "hvc1 176x144 sar 4:3", std::string(kHevcStart) + "e" + kHevcEnd},
      {"mpeg4_part2.mp4", 1, "mp4v 176x144 sar 1:1 oti 20", "000001b001000001b58913000001000000012000c48d8800c50584121463"},
      {"mp3_in_mp4.mp4", 1, "mp4a 2ch 44100Hz oti 6B", ""},
      // ffprobe's mono comes from the MP3 frames; the ISO entry says 2.
      {"mp3_22khz.mp4", 1, "mp4a 2ch 22050Hz oti 69", ""},
      {"pcm_twos.mov", 1, "twos 2ch 44100Hz", ""},
      {"pcm_sowt.mov", 1, "sowt 2ch 44100Hz", ""},
      {"ulaw.mov", 1, "ulaw 1ch 8000Hz", ""},
      {"mjpeg.mov", 1, "jpeg 160x90 sar 1:1", ""},
      {"raw_rgb24.mov", 1, "raw  32x24 sar 1:1", ""},
      {"yuv2.mov", 1, "yuv2 32x24 sar 1:1", ""},
      {"tx3g.mp4", 2, "tx3g",
       "0000000001ff000000ff00000000000000000000000000010010ffffffff00000012667461620001000105417269616c000000146274"
       "727400000000000000a0000000a0"},
      {"smooth.ismv", 1, "avc1 160x90 sar 1:1", kAvcFfmpeg},
      {"smooth.ismv", 2, "mp4a 2ch 48000Hz oti 40", kAacFfmpeg},
  };
  for (const auto& facts : streams) {
    SCOPED_TRACE(std::string(facts.file) + " track " + std::to_string(facts.trackId));
    const std::vector<uint8_t> bytes = LoadTestFile(facts.file);
    ComPtr<IAsyncReader> reader = MakeMemoryReader(bytes);
    CDarEdoSource source(reader.Get(), facts.trackId, CreateSampleEntry);
    ASSERT_EQ(source.ParseFile(), S_OK);
    ASSERT_EQ(source.TrackCount(), 1u);
    ASSERT_NE(source.Track(0)->sampleEntry, nullptr);
    const SampleEntry& entry = *source.Track(0)->sampleEntry;
    EXPECT_EQ(Describe(entry), facts.entry);
    // A timed-text entry's own fields are part of its payload.
    EXPECT_EQ(Hex(entry.entryKind == kSampleEntryNull ? entry.payload : entry.codecConfig), facts.extradata);
  }
}

}  // namespace
