// isodmx info, run as a process: the container half of the document (movie
// header, tracks, sample entries) for real files and built ones.
#include "support/box_builder.h"
#include "support/json_value.h"
#include "support/movie_builder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun RunTool(const std::string& arguments) {
  const std::string command = std::string(ISODMX_TOOL) + " " + arguments;
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// A file that removes itself.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::vector<uint8_t>& bytes)
      : path_(testing::TempDir() + "info_command_test_" + std::to_string(getpid()) + "_" +
              std::to_string(counter_++) + ".mp4") {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~TemporaryFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::string path_;
};

using Matrix = std::array<uint32_t, 9>;

// A movie of one video track whose track header carries `matrix`.
std::vector<uint8_t> MovieWithTrackMatrix(const Matrix& matrix) {
  TrackSpec track;
  track.entryBody.assign(70, 0);
  track.stts = {{1, 20}};
  track.stsc = {{1, 1, 1}};
  track.sizes = {10};
  track.chunkOffsets = {0};
  BoxBuilder stbl;
  WriteSampleTable(stbl, track);
  BoxBuilder b;
  b.Box("moov", [&] {
    b.FullBox("mvhd", 0, 0, [&] {
      b.U32(0).U32(0).U32(600).U32(1200).U32(0x00010000).U16(0x0100).Zeros(10);
      for (uint32_t value : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) b.U32(value);
      b.Zeros(24).U32(2);
    });
    b.Box("trak", [&] {
      b.FullBox("tkhd", 0, 7, [&] {
        b.U32(0).U32(0).U32(1).U32(0).U32(0).Zeros(16);
        for (uint32_t value : matrix) b.U32(value);
        b.U32(0).U32(0);
      });
      b.Box("mdia", [&] {
        b.FullBox("mdhd", 0, 0, [&] { b.U32(0).U32(0).U32(600).U32(20).U16(0x15C7).U16(0); });
        b.FullBox("hdlr", 0, 0, [&] { b.U32(0).FourCC("vide").Zeros(13); });
        b.Box("minf", [&] {
          b.FullBox("vmhd", 0, 1, [&] { b.Zeros(8); });
          b.Bytes(stbl.Data());
        });
      });
    });
  });
  return b.Data();
}

const JsonValue& OnlyTrack(const JsonValue& document) { return document["sources"][0]["tracks"][0]; }

TEST(InfoCommandTest, RealFileShowsMovieTracksAndEntries) {
  const ToolRun run = RunTool(std::string("info --json ") + ISODMX_TEST_DATA + "/mpeg4_part2.mp4");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto document = JsonValue::Parse(run.out);
  ASSERT_TRUE(document) << run.out;
  EXPECT_EQ((*document)["result"].String(), "0x00000000");
  EXPECT_EQ((*document)["pins"].Size(), 0u);
  const JsonValue& source = (*document)["sources"][0];
  EXPECT_FALSE(source["fragmented"].Bool());
  EXPECT_EQ(source["movie"]["timescale"].Int(), 1000);
  // 2 s in 100-ns units (ffprobe: 24576 / 12288 for the video).
  EXPECT_EQ(source["movie"]["duration"].Int(), 20000000);
  ASSERT_EQ(source["tracks"].Size(), 2u);

  const JsonValue& video = source["tracks"][0];
  EXPECT_EQ(video["trackId"].Int(), 1);
  EXPECT_EQ(video["handler"].String(), "vide");
  EXPECT_EQ(video["mediaKind"].Int(), 1);
  EXPECT_EQ(video["timescale"].Int(), 12288);
  EXPECT_EQ(video["mediaDuration"].Int(), 24576);
  EXPECT_EQ(video["language"].String(), "und");
  EXPECT_EQ(video["format"].String(), "mp4v");
  EXPECT_EQ(video["sampleCount"].Int(), 48);
  EXPECT_EQ(video["matrix"][8].Int(), 0x40000000);
  EXPECT_EQ(video["mediaTypes"].Size(), 2u);
  const JsonValue& visual = video["sampleEntry"];
  EXPECT_EQ(visual["width"].Int(), 176);
  EXPECT_EQ(visual["height"].Int(), 144);
  EXPECT_EQ(visual["objectTypeIndication"].Int(), 0x20);
  EXPECT_EQ(visual["codecConfig"].String(), "000001b001000001b58913000001000000012000c48d8800c50584121463");
  // The payload is the entry's child boxes: it begins with the esds header.
  EXPECT_EQ(visual["payload"].String().substr(8, 8), "65736473");

  const JsonValue& sound = source["tracks"][1]["sampleEntry"];
  EXPECT_EQ(sound["channelCount"].Int(), 2);
  EXPECT_EQ(sound["sampleRate"].Int(), 48000);
  EXPECT_EQ(sound["codecConfig"].String(), "119056e500");
}

TEST(InfoCommandTest, RotationComesFromTheTrackMatrix) {
  struct Row {
    Matrix matrix;
    int64_t rotation;
  };
  constexpr uint32_t kOne = 0x00010000;
  constexpr uint32_t kMinusOne = 0xFFFF0000;
  constexpr uint32_t kW = 0x40000000;
  const Row rows[] = {
      {{kOne, 0, 0, 0, kOne, 0, 0, 0, kW}, 0},
      {{0, kOne, 0, kMinusOne, 0, 0, 0, 0, kW}, 90},
      {{0, kMinusOne, 0, kOne, 0, 0, 0, 0, kW}, 270},
      {{kMinusOne, 0, 0, 0, kMinusOne, 0, 0, 0, kW}, 180},
      // A shear is no right angle.
      {{kOne, kOne, 0, 0, kOne, 0, 0, 0, kW}, 0},
  };
  for (const Row& row : rows) {
    const TemporaryFile file(MovieWithTrackMatrix(row.matrix));
    const ToolRun run = RunTool("info --json " + file.Path());
    ASSERT_EQ(run.status, 0) << run.out;
    const auto document = JsonValue::Parse(run.out);
    ASSERT_TRUE(document) << run.out;
    EXPECT_EQ(OnlyTrack(*document)["rotation"].Int(), row.rotation) << run.out;
    EXPECT_EQ(OnlyTrack(*document)["matrix"][1].Int(), row.matrix[1]);
  }
}

TEST(InfoCommandTest, TrackWithoutSampleEntryHasNullFormatAndEntry) {
  TrackSpec track;
  track.format.clear();
  BoxBuilder b;
  WriteMovie(b, {track});
  const TemporaryFile file(b.Data());
  const ToolRun run = RunTool("info --json " + file.Path());
  ASSERT_EQ(run.status, 0) << run.out;
  const auto document = JsonValue::Parse(run.out);
  ASSERT_TRUE(document) << run.out;
  EXPECT_TRUE(OnlyTrack(*document)["format"].IsNull());
  EXPECT_TRUE(OnlyTrack(*document)["sampleEntry"].IsNull());
}

TEST(InfoCommandTest, MalformedFileReportsTheParseFailure) {
  BoxBuilder b;
  b.Box("moov", [&] { b.Box(BoxSize::Forced(300), "trak"); });
  const TemporaryFile file(b.Data());
  ToolRun run = RunTool("info --json " + file.Path() + " 2>/dev/null");
  EXPECT_EQ(run.status, 1);
  const auto document = JsonValue::Parse(run.out);
  ASSERT_TRUE(document) << run.out;
  EXPECT_EQ((*document)["result"].String(), "0x8004022F");
  EXPECT_EQ(RunTool("info 2>/dev/null").status, 2);
  EXPECT_EQ(RunTool("info /nonexistent/input.mp4 2>/dev/null").status, 1);
}

TEST(InfoCommandTest, TextOutputNamesEachTrack) {
  const ToolRun run = RunTool(std::string("info ") + ISODMX_TEST_DATA + "/tx3g.mp4");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("track 2 handler=sbtl kind=4"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("language=eng format=tx3g"), std::string::npos) << run.out;
}

}  // namespace
