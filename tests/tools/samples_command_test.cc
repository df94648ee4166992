// isodmx samples against what ffprobe reported for the real files in
// tests/data: per track the sample count, every offset, size and key flag,
// and the decode times. ffprobe's own times apply edit lists; its raw_dts
// column (edit lists ignored) is the sample-table time that the walk gives.
// PCM tracks are compared by the bytes and frames they cover, since
// ffprobe cuts PCM into packets of its own.
#include "support/tool_process.h"
#include "support/json_value.h"
#include "support/movie_builder.h"
#include "support/temporary_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <utility>
#include <vector>

namespace {


// Every fixture with facts.
std::vector<std::string> Fixtures() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ISODMX_TEST_DATA)) {
    const std::string path = entry.path().string();
    const std::string suffix = ".facts.json";
    if (path.size() <= suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    names.push_back(std::filesystem::path(path.substr(0, path.size() - suffix.size())).filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

using Ranges = std::vector<std::pair<int64_t, int64_t>>;

// Byte ranges merged where they touch.
Ranges Merge(Ranges ranges) {
  std::sort(ranges.begin(), ranges.end());
  Ranges merged;
  for (const auto& [start, end] : ranges) {
    if (!merged.empty() && merged.back().second >= start) {
      merged.back().second = std::max(merged.back().second, end);
    } else {
      merged.emplace_back(start, end);
    }
  }
  return merged;
}

class SamplesCommandFactsTest : public ::testing::TestWithParam<std::string> {};

// A fragmented file walks every fragment, and its samples are the ones
// ffprobe reads from the same fragments. Only a run's first sample can be a
// sync sample, so a run of audio frames that are all key frames to ffprobe
// shows one sync sample per run; a sync sample must still be a key frame,
// and for video (one key frame per fragment) the two agree.
TEST_P(SamplesCommandFactsTest, WalkAgreesWithFfprobe) {
  const std::string path = std::string(ISODMX_TEST_DATA) + "/" + GetParam();
  const auto factsText = ReadTextFile(path + ".facts.json");
  ASSERT_TRUE(factsText);
  const auto facts = JsonValue::Parse(*factsText);
  ASSERT_TRUE(facts);
  const ToolRun run = RunTool("samples --json " + path);
  ASSERT_EQ(run.status, 0) << run.out;
  const auto document = JsonValue::Parse(run.out);
  ASSERT_TRUE(document) << run.out;
  EXPECT_EQ((*document)["result"].String(), "0x00000000");
  ASSERT_EQ((*document)["sources"].Size(), 1u);
  const JsonValue& source = (*document)["sources"][0];
  const auto media = ReadTextFile(path);
  const bool fragmented = media && media->find("mvex") != std::string::npos;
  EXPECT_EQ(source["fragmented"].Bool(), fragmented);
  const JsonValue& tracks = source["tracks"];
  const JsonValue& streams = (*facts)["streams"];
  ASSERT_EQ(tracks.Size(), streams.Size());

  for (const JsonValue& stream : streams.Array()) {
    const int64_t id = stream["id"].Int();
    const JsonValue* track = nullptr;
    for (const JsonValue& candidate : tracks.Array()) {
      if (candidate["trackId"].Int() == id) track = &candidate;
    }
    ASSERT_NE(track, nullptr) << "track " << id;
    const JsonValue& rows = (*track)["samples"];

    std::vector<const JsonValue*> packets;
    for (const JsonValue& packet : (*facts)["packets"].Array()) {
      if (packet[0].Int() == stream["index"].Int()) packets.push_back(&packet);
    }
    std::sort(packets.begin(), packets.end(),
              [](const JsonValue* a, const JsonValue* b) { return (*a)[1].Int() < (*b)[1].Int(); });

    const std::string codec = stream["codec_name"].String();
    if (codec.rfind("pcm_", 0) == 0) {
      Ranges ours;
      Ranges theirs;
      int64_t frames = 0;
      for (const JsonValue& row : rows.Array()) {
        EXPECT_EQ(row[2].Int(), frames) << "PCM unit start of track " << id;
        ours.emplace_back(row[0].Int(), row[0].Int() + row[1].Int());
        frames += row[5].Int();
      }
      for (const JsonValue* packet : packets)
        theirs.emplace_back((*packet)[1].Int(), (*packet)[1].Int() + (*packet)[2].Int());
      EXPECT_EQ(frames, stream["nb_frames"].Int()) << "track " << id;
      EXPECT_EQ(Merge(ours), Merge(theirs)) << "track " << id;
      continue;
    }

    if (!fragmented) {
      EXPECT_EQ((*track)["format"].String(), stream["codec_tag_string"].String()) << "track " << id;
      ASSERT_EQ(static_cast<int64_t>(rows.Size()), stream["nb_frames"].Int()) << "track " << id;
    }
    ASSERT_EQ(rows.Size(), packets.size()) << "track " << id;
    const bool runsMarkTheirFirstSample = fragmented && stream["codec_type"].String() != "video";
    int syncSamples = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
      const JsonValue& row = rows[i];
      const JsonValue& packet = *packets[i];
      const bool key = packet[6].String().find('K') != std::string::npos;
      EXPECT_EQ(row[0].Int(), packet[1].Int()) << "offset of sample " << i << " of track " << id;
      EXPECT_EQ(row[1].Int(), packet[2].Int()) << "size of sample " << i << " of track " << id;
      EXPECT_EQ(row[2].Int(), packet[7].Int()) << "decode time of sample " << i << " of track " << id;
      EXPECT_EQ(row[5].Int(), 1);
      if (runsMarkTheirFirstSample) {
        EXPECT_TRUE(row[4].Int() == 0 || key) << "sync sample " << i << " of track " << id;
      } else {
        EXPECT_EQ(row[4].Int(), key ? 1 : 0) << "sync of sample " << i << " of track " << id;
      }
      syncSamples += static_cast<int>(row[4].Int());
    }
    EXPECT_GT(syncSamples, 0) << "track " << id;
  }
}

std::string FixtureTestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(RealFiles, SamplesCommandFactsTest, ::testing::ValuesIn(Fixtures()), FixtureTestName);

// A constant-size track's walk ends at its sample count, not where its
// chunk table runs out: spare chunks, and a samples-per-chunk value that
// would list billions of rows.
TEST(SamplesCommandTest, ConstantSizeTrackListsItsSampleCountOnly) {
  const std::vector<std::array<uint32_t, 3>> chunkTables[] = {{{1, 2, 1}}, {{1, 0x7FFFFFFF, 1}}};
  for (const auto& stsc : chunkTables) {
    TrackSpec track;
    track.entryBody.assign(70, 0);
    track.stts = {{3, 20}};
    track.stsc = stsc;
    track.constantSize = 10;
    track.constantCount = 3;
    track.chunkOffsets = {0, 100, 200};
    BoxBuilder b;
    WriteMovie(b, {track});
    const TemporaryFile file(b.Data());
    const ToolRun run = RunToolWithin(60, "samples --json " + file.Path());
    ASSERT_EQ(run.status, 0) << stsc[0][1];
    const auto document = JsonValue::Parse(run.out);
    ASSERT_TRUE(document) << run.out;
    EXPECT_EQ((*document)["sources"][0]["tracks"][0]["samples"].Size(), 3u) << stsc[0][1];
  }
}

}  // namespace
