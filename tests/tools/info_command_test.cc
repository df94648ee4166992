// isodmx info, run as a process: the container half of the document (movie
// header, tracks, sample entries) for real files and built ones.
#include "support/tool_process.h"
#include "support/box_builder.h"
#include "support/json_value.h"
#include "support/movie_builder.h"
#include "support/temporary_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

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
  // The filter's GetDuration: the audio's media duration, 97024 / 48000 s.
  EXPECT_EQ((*document)["duration"].Int(), 20213333);
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

  // One output pin per track, offering the track's media types.
  const JsonValue& pins = (*document)["pins"];
  ASSERT_EQ(pins.Size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(pins[k]["name"].String(), k == 0 ? "Output 01" : "Output 02");
    EXPECT_EQ(pins[k]["trackId"].Int(), static_cast<int64_t>(k + 1));
    const JsonValue& offered = source["tracks"][k]["mediaTypes"];
    ASSERT_EQ(pins[k]["mediaTypes"].Size(), offered.Size());
    for (size_t i = 0; i < offered.Size(); ++i) {
      EXPECT_EQ(pins[k]["mediaTypes"][i]["subtype"].String(), offered[i]["subtype"].String());
      EXPECT_EQ(pins[k]["mediaTypes"][i]["extra"].String(), offered[i]["extra"].String());
    }
  }
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

// Every fixture with facts that is not a fragmented movie: their tracks
// offer media types from the movie box alone.
std::vector<std::string> PlainFixtures() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ISODMX_TEST_DATA)) {
    const std::string path = entry.path().string();
    const std::string suffix = ".facts.json";
    if (path.size() <= suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    const std::string media = path.substr(0, path.size() - suffix.size());
    const auto bytes = ReadTextFile(media);
    if (!bytes || bytes->find("mvex") != std::string::npos) continue;
    names.push_back(std::filesystem::path(media).filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsFourCCRuleGuid(const std::string& guid) {
  const std::string tail = "-0000-0010-8000-00AA00389B71}";
  return guid.size() > tail.size() && guid.compare(guid.size() - tail.size(), tail.size(), tail) == 0;
}

const JsonValue* StreamWithId(const JsonValue& facts, int64_t id) {
  for (const JsonValue& stream : facts["streams"].Array()) {
    if (stream["id"].Int() == id) return &stream;
  }
  return nullptr;
}

class InfoMediaTypesFactsTest : public ::testing::TestWithParam<std::string> {};

// What a decoder is handed must agree with what an independent reader saw:
// picture size, channels and rate in every type, and the decoder
// configuration in the first public type that carries one.
TEST_P(InfoMediaTypesFactsTest, MediaTypesAgreeWithFfprobe) {
  const std::string path = std::string(ISODMX_TEST_DATA) + "/" + GetParam();
  const auto factsText = ReadTextFile(path + ".facts.json");
  ASSERT_TRUE(factsText);
  const auto facts = JsonValue::Parse(*factsText);
  ASSERT_TRUE(facts);
  const ToolRun run = RunTool("info --json " + path);
  ASSERT_EQ(run.status, 0) << run.out;
  const auto document = JsonValue::Parse(run.out);
  ASSERT_TRUE(document) << run.out;

  for (const JsonValue& track : (*document)["sources"][0]["tracks"].Array()) {
    const JsonValue* stream = StreamWithId(*facts, track["trackId"].Int());
    ASSERT_NE(stream, nullptr) << track["trackId"].Int();
    const std::string kind = (*stream)["codec_type"].String();
    const JsonValue& types = track["mediaTypes"];
    ASSERT_GT(types.Size(), 0u) << kind;
    EXPECT_EQ(track["mediaTypesResult"].String(), "0x00040103");
    const JsonValue* configType = nullptr;
    for (const JsonValue& type : types.Array()) {
      if (kind == "video") {
        EXPECT_EQ(type["video"]["width"].Int(), (*stream)["width"].Int());
        EXPECT_EQ(std::llabs(type["video"]["height"].Int()), (*stream)["height"].Int());
      } else if (kind == "audio") {
        EXPECT_EQ(type["audio"]["channels"].Int(), (*stream)["channels"].Int());
        EXPECT_EQ(type["audio"]["samplesPerSec"].Int(), (*stream)["sample_rate"].Int());
        // MPEG audio blocks extend WAVEFORMATEX with fields of their own.
        const int64_t tag = type["audio"]["formatTag"].Int();
        if (tag == 0x50 || tag == 0x55) continue;
      } else if (kind == "subtitle") {
        EXPECT_EQ(type["subtitle"]["isoLang"].String(), (*stream)["language"].String());
        continue;
      }
      if (!configType && IsFourCCRuleGuid(type["subtype"].String())) configType = &type;
    }
    if (configType) {
      EXPECT_EQ((*configType)["extra"].String(), (*stream)["extradata"].String()) << kind;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(RealFiles, InfoMediaTypesFactsTest, ::testing::ValuesIn(PlainFixtures()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                           return name;
                         });

TEST(InfoCommandTest, MediaTypeShowsTheDecodedVideoFormat) {
  const ToolRun run = RunTool(std::string("info --json ") + ISODMX_TEST_DATA + "/hevc_sar.mp4");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto document = JsonValue::Parse(run.out);
  ASSERT_TRUE(document) << run.out;
  const JsonValue& types = OnlyTrack(*document)["mediaTypes"];
  ASSERT_EQ(types.Size(), 2u);
  const JsonValue& type = types[1];
  EXPECT_EQ(type["majortype"].String(), "{73646976-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(type["subtype"].String(), "{31637668-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(type["formattype"].String(), "{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");
  EXPECT_FALSE(type["fixedSizeSamples"].Bool());
  EXPECT_TRUE(type["temporalCompression"].Bool());
  const JsonValue& video = type["video"];
  EXPECT_EQ(video["compression"].String(), "hvc1");
  EXPECT_EQ(video["bitCount"].Int(), 24);
  // 24 frames over 12288 / 12288 s.
  EXPECT_EQ(video["avgTimePerFrame"].Int(), 416666);
  // "pasp" 4:3 on 176 x 144.
  EXPECT_EQ(video["pictAspectX"].Int(), 235);
  EXPECT_EQ(video["pictAspectY"].Int(), 144);
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
    const ToolRun run = RunTool(arguments.substr(0, arguments.rfind(' ') + 1) + ISODMX_TEST_DATA + "/" +
                                arguments.substr(arguments.rfind(' ') + 1));
    ASSERT_EQ(run.status, 0) << arguments << "\n" << run.out;
    for (const std::string& word : words) EXPECT_NE(run.out.find(word), std::string::npos) << arguments << ": " << word;
  }
}

}  // namespace
