// isodmx play, dump and extract, run as processes: the reports' counts,
// segments, events and results, starts, stops and rates, and the files
// extract writes. What is delivered for every sample of the real files is
// checked in real_files_test.cc.
#include "support/box_builder.h"
#include "support/movie_builder.h"
#include "support/temporary_file.h"
#include "support/test_data.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using isotest::DataPath;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string text = ReadTextFile(path).value_or("");
  return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(PlayCommandTest, ReportsCountsEventsAndTheSegmentPerPin) {
  const JsonValue play = RunJson("play --json " + DataPath("h264_bframes.mp4"));
  EXPECT_EQ(play["result"].String(), "0x00000000");
  ASSERT_EQ(play["events"].Size(), 1u);
  EXPECT_EQ(play["events"][0]["code"].Int(), 1);  // EC_COMPLETE
  const JsonValue& pins = play["pins"];
  ASSERT_EQ(pins.Size(), 2u);
  const std::tuple<std::string, int64_t, int64_t, std::string> expected[] = {
      {"Output 01", 48, 4, "{73646976-0000-0010-8000-00AA00389B71}"},
      {"Output 02", 95, 95, "{73647561-0000-0010-8000-00AA00389B71}"},
  };
  for (size_t k = 0; k < 2; ++k) {
    const JsonValue& pin = pins[k];
    EXPECT_EQ(std::make_tuple(pin["name"].String(), pin["samples"].Int(), pin["syncSamples"].Int(),
                              pin["majortype"].String()),
              expected[k]);
    // Discontinuities, preroll samples, first start, end of stream.
    EXPECT_EQ(std::make_tuple(pin["discontinuities"].Int(), pin["preroll"].Int(), pin["firstStart"].Int(),
                              pin["endOfStream"].Bool()),
              std::make_tuple(1, 0, 0, true))
        << k;
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
    ASSERT_EQ(RunTool(command, " 2>/dev/null").status, 0);
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
  EXPECT_EQ(RunTool("play --media-type x " + DataPath("mjpeg.mov"), " 2>/dev/null").status, 2);
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

}  // namespace
