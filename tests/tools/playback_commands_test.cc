// isodmx play, dump and extract, run as processes: what the graph delivers
// against what the container walk (isodmx samples, itself checked against
// ffprobe) lists, and the reports' counts, segments, events and results.
#include "support/tool_process.h"
#include "support/box_builder.h"
#include "support/json_value.h"
#include "support/movie_builder.h"
#include "support/temporary_file.h"

#include "platform/crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

// Progress and failure lines on standard error are dropped.
ToolRun RunToolQuietly(const std::string& arguments) { return RunTool(arguments, " 2>/dev/null"); }


JsonValue RunJson(const std::string& arguments, int expectedStatus = 0) {
  const ToolRun run = RunToolQuietly(arguments);
  EXPECT_EQ(run.status, expectedStatus) << arguments << "\n" << run.out;
  auto document = JsonValue::Parse(run.out);
  EXPECT_TRUE(document) << arguments << "\n" << run.out;
  return document ? *document : JsonValue{};
}

std::string DataPath(const std::string& name) { return std::string(ISODMX_TEST_DATA) + "/" + name; }

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> MediaFixtures() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ISODMX_TEST_DATA)) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".mp4" || extension == ".mov" || extension == ".m4a" || extension == ".ismv") {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string FixtureTestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
}

// Bytes per sample reversed (big-endian) or 8-bit samples biased (-1) to
// make the PCM that ffprobe names into little-endian unsigned-8-bit PCM.
int PcmReversal(const std::string& codec) {
  static const std::pair<const char*, int> kCodecs[] = {{"pcm_s8", -1},     {"pcm_s16be", 2}, {"pcm_s24be", 3},
                                                        {"pcm_s32be", 4},   {"pcm_f32be", 4}, {"pcm_f64be", 8}};
  for (const auto& [name, width] : kCodecs) {
    if (codec == name) return width;
  }
  return 0;
}

// The bytes a pin must deliver for one row of the walk: timed text without
// its length word, big-endian or signed 8-bit PCM as PCM, "yuv2" chroma
// biased.
std::vector<uint8_t> ExpectedBytes(const std::vector<uint8_t>& file, const std::string& format,
                                   const std::string& codec, int64_t offset, int64_t size) {
  if (offset < 0 || size < 0 || static_cast<size_t>(offset + size) > file.size()) return {};
  std::vector<uint8_t> bytes(file.begin() + offset, file.begin() + offset + size);
  if (format == "tx3g") {
    if (bytes.size() < 2) return {};
    const size_t length = (static_cast<size_t>(bytes[0]) << 8) | bytes[1];
    return std::vector<uint8_t>(bytes.begin() + 2, bytes.begin() + 2 + std::min(length, bytes.size() - 2));
  }
  const int reversal = PcmReversal(codec);
  if (reversal < 0) {
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(byte + 0x80);
  }
  for (size_t i = 0; reversal > 1 && i + reversal <= bytes.size(); i += reversal) {
    std::reverse(bytes.begin() + i, bytes.begin() + i + reversal);
  }
  if (format == "yuv2") {
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
      bytes[i + 1] = static_cast<uint8_t>(bytes[i + 1] - 0x80);
      bytes[i + 3] = static_cast<uint8_t>(bytes[i + 3] - 0x80);
    }
  }
  return bytes;
}

// ffprobe's codec name for the stream of `trackId`.
std::string CodecOf(const std::string& path, int64_t trackId) {
  const std::vector<uint8_t> text = ReadBytes(path + ".facts.json");
  const auto facts = JsonValue::Parse(std::string(text.begin(), text.end()));
  if (!facts) return "";
  for (const JsonValue& stream : (*facts)["streams"].Array()) {
    if (stream["id"].Int() == trackId) return stream["codec_name"].String();
  }
  return "";
}

// 100-ns units from media units, rounded to nearest with halves down.
int64_t ToReference(int64_t media, int64_t timescale) {
  return (media * 10000000 + (timescale - 1) / 2) / timescale;
}

class DeliveredSamplesTest : public ::testing::TestWithParam<std::string> {};

TEST_P(DeliveredSamplesTest, EveryListedSampleIsDeliveredOnceInOrderWithItsBytes) {
  const std::string path = DataPath(GetParam());
  const JsonValue walk = RunJson("samples --json " + path);
  const JsonValue dump = RunJson("dump --json " + path);
  ASSERT_EQ(dump["result"].String(), "0x00000000");
  const std::vector<uint8_t> file = ReadBytes(path);
  const JsonValue& pins = dump["pins"];
  size_t checkedPins = 0;
  for (const JsonValue& track : walk["sources"][0]["tracks"].Array()) {
    const JsonValue* pin = nullptr;
    for (const JsonValue& candidate : pins.Array()) {
      if (candidate["trackId"].Int() == track["trackId"].Int()) pin = &candidate;
    }
    if (track["format"].IsNull()) continue;
    ASSERT_NE(pin, nullptr) << "track " << track["trackId"].Int();
    ++checkedPins;
    SCOPED_TRACE("track " + std::to_string(track["trackId"].Int()));
    const std::string format = track["format"].String();
    const std::string codec = CodecOf(path, track["trackId"].Int());
    const int64_t timescale = track["timescale"].Int();
    const JsonValue& rows = track["samples"];
    const JsonValue& delivered = (*pin)["delivered"];
    ASSERT_EQ(delivered.Size(), rows.Size());
    EXPECT_TRUE((*pin)["endOfStream"].Bool());
    int64_t sample = 0;
    for (size_t i = 0; i < rows.Size(); ++i) {
      const JsonValue& row = rows[i];
      const JsonValue& got = delivered[i];
      const std::vector<uint8_t> bytes = ExpectedBytes(file, format, codec, row[0].Int(), row[1].Int());
      ASSERT_EQ(got[7].Int(), static_cast<int64_t>(bytes.size())) << "length of sample " << i;
      ASSERT_EQ(static_cast<uint32_t>(got[8].Int()), Crc32(bytes.data(), bytes.size())) << "bytes of sample " << i;
      EXPECT_EQ(got[2].Int(), sample) << "media start of sample " << i;
      EXPECT_EQ(got[3].Int(), sample + row[5].Int()) << "media stop of sample " << i;
      EXPECT_EQ(got[0].Int(), ToReference(row[2].Int(), timescale)) << "start of sample " << i;
      EXPECT_EQ(got[4].Int(), row[4].Int()) << "sync mark of sample " << i;
      EXPECT_EQ(got[6].Int(), i == 0 ? 1 : 0) << "discontinuity of sample " << i;
      sample += row[5].Int();
    }
  }
  EXPECT_EQ(checkedPins, pins.Size());
}

INSTANTIATE_TEST_SUITE_P(RealFiles, DeliveredSamplesTest, ::testing::ValuesIn(MediaFixtures()), FixtureTestName);

TEST(PlayCommandTest, ReportsCountsEventsAndTheSegmentPerPin) {
  const JsonValue play = RunJson("play --json " + DataPath("h264_bframes.mp4"));
  EXPECT_EQ(play["result"].String(), "0x00000000");
  ASSERT_EQ(play["events"].Size(), 1u);
  EXPECT_EQ(play["events"][0]["code"].Int(), 1);  // EC_COMPLETE
  const JsonValue& pins = play["pins"];
  ASSERT_EQ(pins.Size(), 2u);
  const struct {
    const char* name;
    int64_t trackId, samples, syncSamples;
    const char* majortype;
  } expected[] = {
      {"Output 01", 1, 48, 4, "{73646976-0000-0010-8000-00AA00389B71}"},
      {"Output 02", 2, 95, 95, "{73647561-0000-0010-8000-00AA00389B71}"},
  };
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const JsonValue& pin = pins[k];
    EXPECT_EQ(pin["name"].String(), expected[k].name);
    EXPECT_EQ(pin["trackId"].Int(), expected[k].trackId);
    EXPECT_EQ(pin["majortype"].String(), expected[k].majortype);
    EXPECT_EQ(pin["samples"].Int(), expected[k].samples);
    EXPECT_EQ(pin["syncSamples"].Int(), expected[k].syncSamples);
    EXPECT_EQ(pin["discontinuities"].Int(), 1);
    EXPECT_EQ(pin["preroll"].Int(), 0);
    EXPECT_EQ(pin["firstStart"].Int(), 0);
    EXPECT_TRUE(pin["endOfStream"].Bool());
    ASSERT_EQ(pin["newSegments"].Size(), 1u);
    EXPECT_EQ(pin["newSegments"][0][0].Int(), 0);
    EXPECT_EQ(pin["newSegments"][0][2].Int(), 1);
  }
  // The segment runs to the movie's duration, the longer track's.
  EXPECT_EQ(pins[0]["newSegments"][0][1].Int(), pins[1]["newSegments"][0][1].Int());
  EXPECT_GE(pins[0]["newSegments"][0][1].Int(), pins[0]["lastStop"].Int());
}

TEST(PlayCommandTest, StartAndRateReachEveryPinInTimeOrFrames) {
  const std::string path = DataPath("h264_bframes.mp4");
  // 1 s at rate 2: video starts a key frame early (key frames every 0.5 s)
  // and audio at the frame holding the start (1024 samples at 48 kHz), so
  // both are stamped before it, at half their distance.
  const JsonValue fast = RunJson("play --json --start 1 --rate 2 " + path);
  for (const JsonValue& pin : fast["pins"].Array()) {
    ASSERT_EQ(pin["newSegments"].Size(), 1u);
    EXPECT_EQ(pin["newSegments"][0][0].Int(), 10000000);
    EXPECT_EQ(pin["newSegments"][0][2].Int(), 2);
  }
  EXPECT_EQ(fast["pins"][0]["firstStart"].Int(), -2500000);
  EXPECT_EQ(fast["pins"][0]["samples"].Int(), 36);
  EXPECT_EQ(fast["pins"][1]["firstStart"].Int(), (46 * 1024 * 10000000LL / 48000 - 10000000) / 2);

  // Frame 24 is the time of video sample 24: 1 s.
  const JsonValue frames = RunJson("play --json --frames --start 24 " + path);
  EXPECT_EQ(frames["pins"][0]["newSegments"][0][0].Int(), 10000000);
  EXPECT_EQ(frames["pins"][0]["samples"].Int(), 36);

  // The stop cuts after the first sample that ends past it.
  const JsonValue cut = RunJson("play --json --stop 0.5 " + path);
  EXPECT_EQ(cut["pins"][0]["newSegments"][0][1].Int(), 5000000);
  EXPECT_EQ(cut["pins"][0]["samples"].Int(), 13);
}

TEST(PlayCommandTest, ReverseRatePlaysVideoKeyFramesBackwardAndEndsAudioAtOnce) {
  const JsonValue reverse = RunJson("dump --json --start 1.9 --rate -1 " + DataPath("h264_bframes.mp4"));
  EXPECT_EQ(reverse["result"].String(), "0x00000000");
  const JsonValue& video = reverse["pins"][0];
  const JsonValue& audio = reverse["pins"][1];
  // Key frames 36, 24, 12, 0, newest first.
  ASSERT_EQ(video["delivered"].Size(), 4u);
  int64_t previousStart = INT64_MIN;
  for (size_t i = 0; i < 4; ++i) {
    const JsonValue& row = video["delivered"][i];
    EXPECT_EQ(row[2].Int(), 36 - 12 * static_cast<int64_t>(i));
    EXPECT_EQ(row[4].Int(), 1);
    EXPECT_GT(row[0].Int(), previousStart);
    previousStart = row[0].Int();
  }
  EXPECT_TRUE(video["endOfStream"].Bool());
  EXPECT_EQ(audio["samples"].Int(), 0);
  EXPECT_EQ(audio["newSegments"].Size(), 0u);
  EXPECT_TRUE(audio["endOfStream"].Bool());
}

TEST(ExtractCommandTest, MediaTypeOneDeliversRawRgbAsThePictureFfmpegDecodes) {
  // Raw 30 x 24 pictures as RGB24 and RGB32 (type 1): bottom-up B,G,R(,A)
  // rows, those of 90 bytes padded to 92; ffmpeg's reference rows are not.
  // A pin without type 5 keeps its first, the stored bytes.
  const std::tuple<const char*, const char*, const char*, size_t> cases[] = {
      {"1", "raw_rgb24_odd.mov", "raw_rgb24_odd.bgr24", 90},
      {"1", "raw_argb.mov", "raw_argb.bgra", 120},
      {"5", "raw_rgb24_odd.mov", "", 0}};
  for (const auto& [index, file, reference, rowBytes] : cases) {
    SCOPED_TRACE(file);
    const std::string dir = ::testing::TempDir() + "media_type_" + std::to_string(getpid());
    const std::string command = std::string("extract --media-type ") + index + " " + DataPath(file) + " -o " + dir;
    ASSERT_EQ(RunToolQuietly(command).status, 0);
    const std::vector<uint8_t> out = ReadBytes(dir + "/output01.bin");
    std::filesystem::remove_all(dir);
    if (rowBytes == 0) {
      EXPECT_EQ(out.size(), 3u * 30 * 24 * 3);
      continue;
    }
    const std::vector<uint8_t> rows = ReadBytes(DataPath(reference));
    std::vector<uint8_t> expected;
    for (size_t row = 0; row < 24; ++row) {
      expected.insert(expected.end(), rows.begin() + row * rowBytes, rows.begin() + (row + 1) * rowBytes);
      expected.resize((expected.size() + 3) & ~size_t{3}, 0);
    }
    ASSERT_GE(out.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
  }
  EXPECT_EQ(RunToolQuietly("play --media-type x " + DataPath("mjpeg.mov")).status, 2);
}

// A file that connects without an output pin (no track has a usable
// sample entry) has nothing to play: each command says so and fails at
// once instead of waiting for a completion that never comes.
TEST(PlayCommandTest, InputWithoutPlayableTrackFailsAtOnceNamingTheFile) {
  const std::function<void(BoxBuilder&)> descriptions[] = {
      [](BoxBuilder& b) { b.FullBox("stsd", 0, 0, [&] { b.U32(0); }); },
      [](BoxBuilder& b) {
        b.FullBox("stsd", 0, 0, [&] { b.U32(2).Box("avc1", [&] { b.Zeros(78); }).Box("avc1", [&] { b.Zeros(78); }); });
      },
      [](BoxBuilder& b) { b.FullBox("stsd", 0, 0, [&] { b.U32(0xFFFFFFFF); }); },
  };
  const std::string dir = ::testing::TempDir() + "no_track_" + std::to_string(getpid());
  for (const auto& description : descriptions) {
    BoxBuilder b;
    b.Box("moov", [&] { WriteTrackWithSampleTable(b, 1, [&] { description(b); }); });
    const TemporaryFile file(b.Data());
    for (const std::string& command : {std::string("play"), std::string("dump"), "extract -o " + dir}) {
      const ToolRun run = RunToolWithin(60, command + " " + file.Path(), " 2>&1");
      EXPECT_EQ(run.status, 1) << command << "\n" << run.out;
      EXPECT_NE(run.out.find(file.Path() + ": has no playable track"), std::string::npos) << command << "\n" << run.out;
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(ExtractCommandTest, WritesEachPinsDeliveredBytes) {
  const std::string dir = ::testing::TempDir() + "extract_" + std::to_string(getpid());
  const std::string path = DataPath("tx3g.mp4");
  ASSERT_EQ(RunToolQuietly("extract " + path + " -o " + dir).status, 0);
  const JsonValue play = RunJson("play --json " + path);
  ASSERT_EQ(play["pins"].Size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    const std::string file = dir + "/output0" + std::to_string(k + 1) + ".bin";
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(file)), play["pins"][k]["bytes"].Int());
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
