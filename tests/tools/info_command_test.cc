// isodmx info and samples, run as processes: the container half of the
// document (movie header, tracks, sample entries) and its text, and the
// walk, for real files and built ones.
#include "support/box_builder.h"
#include "support/movie_builder.h"
#include "support/temporary_file.h"
#include "support/test_data.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

namespace {

using isotest::DataPath;
using Matrix = std::array<uint32_t, 9>;

// A movie of one video track whose track header carries `matrix`.
std::vector<uint8_t> MovieWithTrackMatrix(const Matrix& matrix) {
  TrackSpec track;
  track.entryBody.assign(70, 0);
  track.stts = {{1, 20}};
  track.stsc = {{1, 1, 1}};
  track.sizes = {10};
  track.chunkOffsets = {0};
  BoxBuilder b;
  WriteMovie(b, {track});
  std::vector<uint8_t> bytes = b.Data();
  // In a version 0 "tkhd" the matrix follows 40 bytes of other fields.
  const char type[] = "tkhd";
  size_t at = std::search(bytes.begin(), bytes.end(), type, type + 4) - bytes.begin() + 4 + 40;
  for (const uint32_t value : matrix) {
    for (int shift = 24; shift >= 0 && at < bytes.size(); shift -= 8) bytes[at++] = static_cast<uint8_t>(value >> shift);
  }
  return bytes;
}

const JsonValue& OnlyTrack(const JsonValue& document) { return document["sources"][0]["tracks"][0]; }

// What ffprobe cannot tell (sizes, rates and decoder configurations are
// compared with it in real_files_test.cc).
TEST(InfoCommandTest, RealFileShowsMovieTracksEntriesAndPins) {
  const JsonValue document = RunJson("info --json " + DataPath("mpeg4_part2.mp4"));
  EXPECT_EQ(document["result"].String(), "0x00000000");
  // The filter's GetDuration: the audio's media duration, 97024 / 48000 s.
  EXPECT_EQ(document["duration"].Int(), 20213333);
  const JsonValue& source = document["sources"][0];
  EXPECT_FALSE(source["fragmented"].Bool());
  EXPECT_EQ(source["movie"]["timescale"].Int(), 1000);
  // 2 s in 100-ns units (ffprobe: 24576 / 12288 for the video).
  EXPECT_EQ(source["movie"]["duration"].Int(), 20000000);
  ASSERT_EQ(source["tracks"].Size(), 2u);
  const JsonValue& video = source["tracks"][0];
  EXPECT_EQ(std::make_tuple(video["trackId"].Int(), video["handler"].String(), video["mediaKind"].Int(),
                            video["timescale"].Int(), video["mediaDuration"].Int(), video["language"].String(),
                            video["sampleCount"].Int(), video["matrix"][8].Int()),
            std::make_tuple(1, "vide", 1, 12288, 24576, "und", 48, 0x40000000));
  EXPECT_EQ(video["sampleEntry"]["objectTypeIndication"].Int(), 0x20);
  EXPECT_EQ(video["sampleEntry"]["codecConfig"].String(),
            "000001b001000001b58913000001000000012000c48d8800c50584121463");
  // The payload is the entry's child boxes: it begins with the esds header.
  EXPECT_EQ(video["sampleEntry"]["payload"].String().substr(8, 8), "65736473");
  EXPECT_EQ(source["tracks"][1]["sampleEntry"]["codecConfig"].String(), "119056e500");

  // One output pin per track, offering the track's media types.
  const JsonValue& pins = document["pins"];
  ASSERT_EQ(pins.Size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(pins[k]["name"].String(), k == 0 ? "Output 01" : "Output 02");
    EXPECT_EQ(pins[k]["trackId"].Int(), static_cast<int64_t>(k + 1));
    const JsonValue& offered = source["tracks"][k]["mediaTypes"];
    ASSERT_EQ(pins[k]["mediaTypes"].Size(), offered.Size());
    for (size_t i = 0; i < offered.Size(); ++i) {
      for (const char* field : {"subtype", "extra"}) {
        EXPECT_EQ(pins[k]["mediaTypes"][i][field].String(), offered[i][field].String()) << k << " " << i;
      }
    }
  }
}

TEST(InfoCommandTest, RotationComesFromTheTrackMatrix) {
  constexpr uint32_t kOne = 0x00010000, kMinusOne = 0xFFFF0000, kW = 0x40000000;
  const std::pair<Matrix, int64_t> rows[] = {
      {{kOne, 0, 0, 0, kOne, 0, 0, 0, kW}, 0},
      {{0, kOne, 0, kMinusOne, 0, 0, 0, 0, kW}, 90},
      {{0, kMinusOne, 0, kOne, 0, 0, 0, 0, kW}, 270},
      {{kMinusOne, 0, 0, 0, kMinusOne, 0, 0, 0, kW}, 180},
      // A shear is no right angle.
      {{kOne, kOne, 0, 0, kOne, 0, 0, 0, kW}, 0},
  };
  for (const auto& [matrix, rotation] : rows) {
    const TemporaryFile file(MovieWithTrackMatrix(matrix));
    const JsonValue document = RunJson("info --json " + file.Path());
    EXPECT_EQ(OnlyTrack(document)["rotation"].Int(), rotation) << matrix[1];
    EXPECT_EQ(OnlyTrack(document)["matrix"][1].Int(), matrix[1]);
  }
}

TEST(InfoCommandTest, TrackWithoutSampleEntryHasNullFormatAndEntry) {
  TrackSpec track;
  track.format.clear();
  BoxBuilder b;
  WriteMovie(b, {track});
  const TemporaryFile file(b.Data());
  const JsonValue document = RunJson("info --json " + file.Path());
  EXPECT_TRUE(OnlyTrack(document)["format"].IsNull());
  EXPECT_TRUE(OnlyTrack(document)["sampleEntry"].IsNull());
}

// A constant-size track's walk ends at its sample count, not where its
// chunk table runs out: spare chunks, and a samples-per-chunk value that
// would list billions of rows.
TEST(SamplesCommandTest, ConstantSizeTrackListsItsSampleCountOnly) {
  for (const uint32_t perChunk : {2u, 0x7FFFFFFFu}) {
    TrackSpec track;
    track.entryBody.assign(70, 0);
    track.stts = {{3, 20}};
    track.stsc = {{1, perChunk, 1}};
    track.constantSize = 10;
    track.constantCount = 3;
    track.chunkOffsets = {0, 100, 200};
    BoxBuilder b;
    WriteMovie(b, {track});
    const TemporaryFile file(b.Data());
    const ToolRun run = RunToolWithin(60, "samples --json " + file.Path());
    ASSERT_EQ(run.status, 0) << perChunk;
    const auto document = JsonValue::Parse(run.out);
    ASSERT_TRUE(document) << run.out;
    EXPECT_EQ((*document)["sources"][0]["tracks"][0]["samples"].Size(), 3u) << perChunk;
  }
}

TEST(InfoCommandTest, MediaTypeShowsTheDecodedVideoFormat) {
  const JsonValue document = RunJson("info --json " + DataPath("hevc_sar.mp4"));
  const JsonValue& types = OnlyTrack(document)["mediaTypes"];
  ASSERT_EQ(types.Size(), 2u);
  const JsonValue& type = types[1];
  EXPECT_EQ(type["majortype"].String(), "{73646976-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(type["subtype"].String(), "{31637668-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(type["formattype"].String(), "{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");
  EXPECT_FALSE(type["fixedSizeSamples"].Bool());
  EXPECT_TRUE(type["temporalCompression"].Bool());
  const JsonValue& video = type["video"];
  // 24 frames over 12288 / 12288 s; "pasp" 4:3 on 176 x 144.
  EXPECT_EQ(std::make_tuple(video["compression"].String(), video["bitCount"].Int(), video["avgTimePerFrame"].Int(),
                            video["pictAspectX"].Int(), video["pictAspectY"].Int()),
            std::make_tuple("hvc1", 24, 416666, 235, 144));
  EXPECT_EQ(type["cbFormat"].Int(), 112 + static_cast<int64_t>(type["extra"].String().size() / 2));
  EXPECT_EQ(types[0]["extra"].String().substr(8, 8), "68766343");
}

TEST(InfoCommandTest, OutputsNameTracksAndMediaTypesAsWritten) {
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"info tx3g.mp4", {"track 2 handler=sbtl kind=4", "language=eng format=tx3g", "duration 2.000 s"}},
      // RGB24 is BI_RGB, compression 0: a number in both outputs, never dots.
      {"info raw_rgb24.mov", {"compression=0x00000000"}},
      {"info --json raw_rgb24.mov", {"\"compression\":0,"}},
      // 64 kbit/s frames of 208 bytes, as the file's first packet is.
      {"info mp3_in_mp4.mp4",
       {"mediaType 1: Audio WAVE 0x0055 WaveFormatEx", "tag=0x0055 channels=2 rate=44100 avgBytesPerSec=8000 blockAlign=208"}},
  };
  for (const auto& [arguments, words] : rows) {
    const size_t file = arguments.rfind(' ') + 1;
    const ToolRun run = RunTool(arguments.substr(0, file) + DataPath(arguments.substr(file)));
    ASSERT_EQ(run.status, 0) << arguments << "\n" << run.out;
    for (const std::string& word : words) EXPECT_NE(run.out.find(word), std::string::npos) << arguments << ": " << word;
  }
}

}  // namespace
