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

#include <cctype>
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

// One stream of a facts file: what ffprobe said about the track.
struct StreamFacts {
  const char* file;
  DWORD trackId;
  const char* format;
  // Video: picture size. Audio: channels (0: not compared) and rate.
  DWORD first, second;
  // ffprobe's extradata: the avcC/hvcC payload, the AudioSpecificConfig or
  // VOL from the ES descriptor, or the timed-text entry after its common
  // fields.
  const char* extradata;
};

constexpr char kAvcFfmpeg[] =
    "0164000affe100196764000aacd9428df93011000003000100000300300f12259601000668ebe112c8b0fdf8f800";
constexpr char kAvcGstreamer[] =
    "01640014ffe1001d67640014acd9428df93016a0c0c0d4a0000003002000000611e28532c001000668ebe112c8b0";
constexpr char kAacFfmpeg[] = "119056e500";

const StreamFacts kStreams[] = {
    {"h264_bframes.mp4", 1, "avc1", 160, 90, kAvcFfmpeg},
    {"h264_bframes.mp4", 2, "mp4a", 2, 48000, kAacFfmpeg},
    {"h264_faststart.mp4", 1, "avc1", 160, 90, kAvcFfmpeg},
    {"gst_h264_aac.mp4", 1, "avc1", 160, 90, kAvcGstreamer},
    {"gst_h264_aac.mp4", 2, "mp4a", 2, 48000, "1190"},
    {"aac_only.m4a", 1, "mp4a", 2, 48000, kAacFfmpeg},
    {"hevc_hvc1.mp4", 1, "hvc1", 176, 144,
     "0101600000009000000000003cf000fcfdf8f800000f03a00001001840010c01ffff01600000030090000003000003003c959809a1"
     "0001002a42010101600000030090000003000003003ca0162024596566924caf016808000003000800000300c040a200010007440"
     "1c172b42240"},
    {"hevc_sar.mp4", 1, "hvc1", 176, 144,
     "0101600000009000000000003cf000fcfdf8f800000f03a00001001840010c01ffff01600000030090000003000003003c959809a1"
     "0001002a42010101600000030090000003000003003ca0162024596566924caf0e6808000003000800000300c040a200010007440"
     "1c172b42240"},
    {"mpeg4_part2.mp4", 1, "mp4v", 176, 144, "000001b001000001b58913000001000000012000c48d8800c50584121463"},
    {"mpeg4_part2.mp4", 2, "mp4a", 2, 48000, kAacFfmpeg},
    {"mp3_in_mp4.mp4", 1, "mp4a", 2, 44100, ""},
    // ffprobe's mono comes from the MP3 frames; the ISO entry says 2.
    {"mp3_22khz.mp4", 1, "mp4a", 0, 22050, ""},
    {"pcm_twos.mov", 1, "twos", 2, 44100, ""},
    {"pcm_sowt.mov", 1, "sowt", 2, 44100, ""},
    {"ulaw.mov", 1, "ulaw", 1, 8000, ""},
    {"mjpeg.mov", 1, "jpeg", 160, 90, ""},
    {"raw_rgb24.mov", 1, "raw ", 32, 24, ""},
    {"yuv2.mov", 1, "yuv2", 32, 24, ""},
    {"tx3g.mp4", 1, "avc1", 160, 90,
     "0164000affe100196764000aacd9428df93011000003000100000300180f12259601000668ebe112c8b0fdf8f800"},
    {"tx3g.mp4", 2, "tx3g", 0, 0,
     "0000000001ff000000ff00000000000000000000000000010010ffffffff00000012667461620001000105417269616c000000146274"
     "727400000000000000a0000000a0"},
    {"frag_empty_moov.mp4", 1, "avc1", 160, 90, kAvcFfmpeg},
    {"frag_empty_moov.mp4", 2, "mp4a", 2, 48000, kAacFfmpeg},
    {"smooth.ismv", 1, "avc1", 160, 90, kAvcFfmpeg},
    {"smooth.ismv", 2, "mp4a", 2, 48000, kAacFfmpeg},
};

class SampleEntryFilesTest : public ::testing::TestWithParam<StreamFacts> {};

TEST_P(SampleEntryFilesTest, EntryAgreesWithFfprobe) {
  const StreamFacts& facts = GetParam();
  const std::vector<uint8_t> bytes = LoadTestFile(facts.file);
  ASSERT_FALSE(bytes.empty()) << facts.file;
  ComPtr<IAsyncReader> reader = MakeMemoryReader(bytes);
  CDarEdoSource source(reader.Get(), facts.trackId, CreateSampleEntry);
  ASSERT_EQ(source.ParseFile(), S_OK);
  ASSERT_EQ(source.TrackCount(), 1u);
  const trakBox& track = *source.Track(0);
  ASSERT_NE(track.sampleEntry, nullptr);
  const SampleEntry& entry = *track.sampleEntry;
  EXPECT_EQ(FourCCText(entry.Format()), facts.format);

  // A timed-text entry's own fields are part of its payload.
  const CBuffer& config = entry.entryKind == kSampleEntryNull ? entry.payload : entry.codecConfig;
  EXPECT_EQ(Hex(config), facts.extradata);

  if (const auto* video = dynamic_cast<const VideoSampleEntry*>(&entry)) {
    EXPECT_EQ(video->width, facts.first);
    EXPECT_EQ(video->height, facts.second);
  } else if (const auto* audio = dynamic_cast<const AudioSampleEntry*>(&entry)) {
    if (facts.first != 0) {
      EXPECT_EQ(audio->channelCount, facts.first);
    }
    EXPECT_EQ(audio->sampleRate, facts.second);
  } else {
    EXPECT_EQ(entry.entryKind, kSampleEntryNull);
  }
}

INSTANTIATE_TEST_SUITE_P(TestData, SampleEntryFilesTest, ::testing::ValuesIn(kStreams),
                         [](const ::testing::TestParamInfo<StreamFacts>& info) {
                           std::string name = std::string(info.param.file) + "_" + std::to_string(info.param.trackId);
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// ffprobe: the MP3 files differ in their object type (MPEG-1 and MPEG-2
// audio); hevc_sar has a 4:3 sample aspect.
TEST(SampleEntryFilesExtrasTest, HevcPaspAndMp3ObjectTypes) {
  const std::pair<const char*, DWORD> rows[] = {{"mp3_in_mp4.mp4", 0x6B}, {"mp3_22khz.mp4", 0x69}, {"aac_only.m4a", 0x40}, {"hevc_sar.mp4", 0}};
  for (const auto& [file, objectType] : rows) {
    const std::vector<uint8_t> bytes = LoadTestFile(file);
    ComPtr<IAsyncReader> reader = MakeMemoryReader(bytes);
    CDarEdoSource source(reader.Get(), 1, CreateSampleEntry);
    ASSERT_EQ(source.ParseFile(), S_OK) << file;
    ASSERT_EQ(source.TrackCount(), 1u) << file;
    const SampleEntry& entry = *source.Track(0)->sampleEntry;
    if (const auto* video = dynamic_cast<const VideoSampleEntry*>(&entry)) {
      EXPECT_EQ(std::vector<DWORD>({video->hasPixelAspect, video->pixelAspectH, video->pixelAspectV}), std::vector<DWORD>({1, 4, 3}));
    } else {
      EXPECT_EQ(entry.objectTypeIndication, objectType) << file;
    }
  }
}

}  // namespace
