// isodmx play, dump and extract, run as processes: the pictures extract
// writes, and inputs without a playable track. The reports of play and
// dump are in tool_invocation_test.cc, what is delivered for every sample
// of the real files in real_files_test.cc.
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
