// The tool over every real file of tests/data against what ffprobe
// reported of it: the walk of isodmx samples (every offset, size, key flag
// and decode time) and what isodmx dump delivers for each of its samples,
// and the media types of isodmx info. ffprobe's own times apply edit
// lists; its raw_dts column (edit lists ignored) is the sample-table time
// the walk gives. PCM tracks are compared by the bytes and frames they
// cover, since ffprobe cuts PCM into packets of its own.
#include "platform/crc32.h"
#include "support/test_data.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using isotest::DataPath;
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

// Bytes per sample reversed (big-endian) or 8-bit samples biased (-1) to
// make the PCM that ffprobe names into little-endian unsigned-8-bit PCM.
int PcmReversal(const std::string& codec) {
  static const std::pair<const char*, int> kCodecs[] = {{"pcm_s8", -1},   {"pcm_s16be", 2}, {"pcm_s24be", 3},
                                                        {"pcm_s32be", 4}, {"pcm_f32be", 4}, {"pcm_f64be", 8}};
  for (const auto& [name, width] : kCodecs) {
    if (codec == name) return width;
  }
  return 0;
}

// The bytes a pin must deliver for one row of the walk: timed text without
// its length word, big-endian or signed 8-bit PCM as PCM, "yuv2" chroma
// biased.
std::vector<uint8_t> ExpectedBytes(const std::string& file, const std::string& format, const std::string& codec,
                                   int64_t offset, int64_t size) {
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

const JsonValue* WithTrackId(const JsonValue& list, const char* key, int64_t id) {
  for (const JsonValue& item : list.Array()) {
    if (item[key].Int() == id) return &item;
  }
  return nullptr;
}

bool IsFourCCRuleGuid(const std::string& guid) {
  const std::string tail = "-0000-0010-8000-00AA00389B71}";
  return guid.size() > tail.size() && guid.compare(guid.size() - tail.size(), tail.size(), tail) == 0;
}

class RealFileTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    facts_ = JsonValue::Parse(ReadTextFile(path_ + ".facts.json").value_or("")).value_or(JsonValue{});
    ASSERT_GT(facts_["streams"].Size(), 0u) << path_;
  }

  const std::string path_ = DataPath(GetParam());
  const std::string bytes_ = ReadTextFile(path_).value_or("");
  const bool fragmented_ = bytes_.find("mvex") != std::string::npos;
  JsonValue facts_;
};

// 100-ns units from media units, rounded to nearest with halves down.
int64_t ToReference(int64_t media, int64_t timescale) { return (media * 10000000 + (timescale - 1) / 2) / timescale; }

// Every sample of the walk is delivered once, in order, with its bytes and
// times. A fragmented file walks every fragment, and its samples are the
// ones ffprobe reads from the same fragments. Only a run's first sample can be a
// sync sample, so a run of audio frames that are all key frames to ffprobe
// shows one sync sample per run; a sync sample must still be a key frame,
// and for video (one key frame per fragment) the two agree.
TEST_P(RealFileTest, WalkAgreesWithFfprobeAndEverySampleIsDeliveredWithItsBytes) {
  const JsonValue document = RunJson("samples --json " + path_);
  const JsonValue dump = RunJson("dump --json " + path_);
  ASSERT_EQ(dump["result"].String(), "0x00000000");
  size_t checkedPins = 0;
  EXPECT_EQ(document["result"].String(), "0x00000000");
  ASSERT_EQ(document["sources"].Size(), 1u);
  EXPECT_EQ(document["sources"][0]["fragmented"].Bool(), fragmented_);
  const JsonValue& tracks = document["sources"][0]["tracks"];
  ASSERT_EQ(tracks.Size(), facts_["streams"].Size());

  for (const JsonValue& stream : facts_["streams"].Array()) {
    const int64_t id = stream["id"].Int();
    SCOPED_TRACE("track " + std::to_string(id));
    const JsonValue* track = WithTrackId(tracks, "trackId", id);
    ASSERT_NE(track, nullptr);
    const JsonValue& rows = (*track)["samples"];
    if (!(*track)["format"].IsNull()) {
      const JsonValue* pin = WithTrackId(dump["pins"], "trackId", id);
      ASSERT_NE(pin, nullptr);
      ++checkedPins;
      const JsonValue& delivered = (*pin)["delivered"];
      ASSERT_EQ(delivered.Size(), rows.Size());
      EXPECT_TRUE((*pin)["endOfStream"].Bool());
      int64_t sample = 0;
      for (size_t i = 0; i < rows.Size(); ++i) {
        const JsonValue& row = rows[i];
        const JsonValue& got = delivered[i];
        const std::vector<uint8_t> bytes = ExpectedBytes(bytes_, (*track)["format"].String(),
                                                         stream["codec_name"].String(), row[0].Int(), row[1].Int());
        ASSERT_EQ(got[7].Int(), static_cast<int64_t>(bytes.size())) << "length of sample " << i;
        ASSERT_EQ(static_cast<uint32_t>(got[8].Int()), Crc32(bytes.data(), bytes.size())) << "bytes of sample " << i;
        // Media start and stop, start time, sync mark and discontinuity.
        EXPECT_EQ(std::make_tuple(got[2].Int(), got[3].Int(), got[0].Int(), got[4].Int(), got[6].Int()),
                  std::make_tuple(sample, sample + row[5].Int(), ToReference(row[2].Int(), (*track)["timescale"].Int()),
                                  row[4].Int(), int64_t{i == 0}))
            << "delivery of sample " << i;
        sample += row[5].Int();
      }
    }
    std::vector<const JsonValue*> packets;
    for (const JsonValue& packet : facts_["packets"].Array()) {
      if (packet[0].Int() == stream["index"].Int()) packets.push_back(&packet);
    }
    std::sort(packets.begin(), packets.end(),
              [](const JsonValue* a, const JsonValue* b) { return (*a)[1].Int() < (*b)[1].Int(); });

    if (stream["codec_name"].String().rfind("pcm_", 0) == 0) {
      Ranges ours, theirs;
      int64_t frames = 0;
      for (const JsonValue& row : rows.Array()) {
        EXPECT_EQ(row[2].Int(), frames) << "PCM unit start";
        ours.emplace_back(row[0].Int(), row[0].Int() + row[1].Int());
        frames += row[5].Int();
      }
      for (const JsonValue* packet : packets) theirs.emplace_back((*packet)[1].Int(), (*packet)[1].Int() + (*packet)[2].Int());
      EXPECT_EQ(frames, stream["nb_frames"].Int());
      EXPECT_EQ(Merge(ours), Merge(theirs));
      continue;
    }
    if (!fragmented_) {
      EXPECT_EQ((*track)["format"].String(), stream["codec_tag_string"].String());
      ASSERT_EQ(static_cast<int64_t>(rows.Size()), stream["nb_frames"].Int());
    }
    ASSERT_EQ(rows.Size(), packets.size());
    const bool runsMarkTheirFirstSample = fragmented_ && stream["codec_type"].String() != "video";
    int syncSamples = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
      const JsonValue& row = rows[i];
      const JsonValue& packet = *packets[i];
      const bool key = packet[6].String().find('K') != std::string::npos;
      EXPECT_EQ(std::make_tuple(row[0].Int(), row[1].Int(), row[2].Int(), row[5].Int()),
                std::make_tuple(packet[1].Int(), packet[2].Int(), packet[7].Int(), int64_t{1}))
          << "offset, size, decode time and span of sample " << i;
      if (runsMarkTheirFirstSample) {
        EXPECT_TRUE(row[4].Int() == 0 || key) << "sync sample " << i;
      } else {
        EXPECT_EQ(row[4].Int(), key ? 1 : 0) << "sync of sample " << i;
      }
      syncSamples += static_cast<int>(row[4].Int());
    }
    EXPECT_GT(syncSamples, 0);
  }
  EXPECT_EQ(checkedPins, dump["pins"].Size());
}

// What a decoder is handed must agree with what an independent reader saw:
// picture size, channels and rate in every type, and the decoder
// configuration in the first public type that carries one. Fragmented
// movies are left out: their tracks offer types from more than the movie
// box.
TEST_P(RealFileTest, MediaTypesAgreeWithFfprobe) {
  if (fragmented_) return;
  const JsonValue document = RunJson("info --json " + path_);
  for (const JsonValue& track : document["sources"][0]["tracks"].Array()) {
    const JsonValue* stream = WithTrackId(facts_["streams"], "id", track["trackId"].Int());
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

INSTANTIATE_TEST_SUITE_P(RealFiles, RealFileTest, ::testing::ValuesIn(isotest::FilesWithFacts()),
                         isotest::FileTestName);

}  // namespace
