// The fragmented files of tests/data through the container model, as the
// filter drives it: seeks through the random-access index and a file cut
// inside a run. Expected samples come from ffprobe's facts, sorted by file
// position per track.
#include "support/json_value.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"

#include "container/field_reader.h"
#include "container/trak_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Packet {
  LONGLONG offset;
  LONGLONG size;
  LONGLONG decodeTime;
  bool key;
};

struct Sample {
  LONGLONG offset;
  LONGLONG size;
  LONGLONG start;
  bool sync;
};

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// Boxes (offset, type) directly inside [begin, end).
std::vector<std::pair<size_t, DWORD>> Children(const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
  std::vector<std::pair<size_t, DWORD>> boxes;
  for (size_t at = begin; at + 8 <= end;) {
    const size_t size = LoadBigEndian32(&bytes[at]);
    boxes.emplace_back(at, LoadBigEndian32(&bytes[at + 4]));
    if (size < 8) break;
    at += size;
  }
  return boxes;
}

size_t BoxEnd(const std::vector<uint8_t>& bytes, size_t at) { return at + LoadBigEndian32(&bytes[at]); }

class FragmentedFileTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const std::string path = std::string(ISODMX_TEST_DATA) + "/" + GetParam();
    bytes_ = ReadBytes(path);
    ASSERT_FALSE(bytes_.empty());
    const auto text = ReadTextFile(path + ".facts.json");
    ASSERT_TRUE(text);
    auto facts = JsonValue::Parse(*text);
    ASSERT_TRUE(facts);
    facts_ = std::move(*facts);
  }

  // ParseFile and the index over `bytes`, as the filter does.
  void Open(const std::vector<uint8_t>& bytes) {
    movie_ = ParseMovie(MemorySource::Create(bytes).Get());
    ASSERT_EQ(movie_.result, S_OK);
    ASSERT_EQ(movie_.source->FindMovieFragmentRandomAccess(), S_OK);
  }

  // ffprobe's packets of the stream with this track ID, in file order.
  std::vector<Packet> Packets(DWORD trackId) const {
    int64_t index = -1;
    for (const JsonValue& stream : facts_["streams"].Array()) {
      if (stream["id"].Int() == trackId) index = stream["index"].Int();
    }
    std::vector<Packet> packets;
    for (const JsonValue& packet : facts_["packets"].Array()) {
      if (packet[0].Int() != index) continue;
      packets.push_back({packet[1].Int(), packet[2].Int(), packet[7].Int(),
                         packet[6].String().find('K') != std::string::npos});
    }
    std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.offset < b.offset; });
    return packets;
  }

  // The delivery loop's walk from sample `first`.
  static std::vector<Sample> Walk(trakBox& track, LONGLONG first = 0) {
    std::vector<Sample> samples;
    for (LONGLONG s = first; s < first + 100000; ++s) {
      track.LoadFragmentsForSample(s);
      Sample sample{};
      LONGLONG end = 0;
      LONG units = 0;
      if (track.GetSampleInfo(s, &sample.start, &end, &sample.offset, &sample.size, &units) != S_OK) break;
      sample.sync = track.IsSyncSample(s) != FALSE;
      samples.push_back(sample);
    }
    return samples;
  }

  // `samples` are `packets` from `first` on, by offset and size.
  static void ExpectSamePlaces(const std::vector<Sample>& samples, const std::vector<Packet>& packets, size_t first) {
    ASSERT_EQ(samples.size(), packets.size() - first);
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(samples[i].offset, packets[first + i].offset) << "sample " << i;
      EXPECT_EQ(samples[i].size, packets[first + i].size) << "sample " << i;
    }
  }

  std::vector<uint8_t> bytes_;
  JsonValue facts_;
  ParsedMovie movie_;
};

// Seeks in these short files stay within reach of reading forward, so the
// index is used the way it is after a jump whose fragment could not be
// read: with no table set, every seek jumps.
TEST_P(FragmentedFileTest, SeekThroughTheIndexStartsAtTheFragmentsKeyFrameWithTheEntrysTime) {
  Open(bytes_);
  for (ULONG t = 0; t < movie_.source->TrackCount(); ++t) {
    trakBox& track = movie_.Track(t);
    SCOPED_TRACE(testing::Message() << "track " << track.trackId);
    const std::vector<Packet> packets = Packets(track.trackId);
    ASSERT_FALSE(track.randomAccessEntries.Empty());
    for (ULONG e = 0; e < track.randomAccessEntries.Count(); ++e) {
      const RandomAccessEntry entry = track.randomAccessEntries[e];
      SCOPED_TRACE(testing::Message() << "entry at " << entry.time);
      track.sampleTable.reset();
      ASSERT_EQ(track.SelectFragmentForTime(entry.time), S_OK);
      const std::vector<Sample> samples = Walk(track);
      ASSERT_FALSE(samples.empty());
      EXPECT_EQ(samples[0].start, entry.time);
      EXPECT_TRUE(samples[0].sync);
      // The fragment's first sample of this track is the first packet of
      // the track after its "moof"; from there on the walk reads to the end.
      const auto first = std::find_if(packets.begin(), packets.end(),
                                      [&](const Packet& p) { return p.offset > entry.fragmentOffset; });
      ASSERT_NE(first, packets.end());
      EXPECT_TRUE(first->key);
      ExpectSamePlaces(samples, packets, first - packets.begin());
      EXPECT_EQ(samples.back().start - samples[0].start, packets.back().decodeTime - first->decodeTime);
    }
  }
}

TEST_P(FragmentedFileTest, CutInALateRunStopsLoadingWithTheSamplesBeforeTheCut) {
  // The cut falls inside the first run of the last fragment whose first
  // run has more than `kKept` samples, after `kKept` whole samples.
  constexpr LONGLONG kKept = 3;
  size_t cut = 0;
  size_t cutMoof = 0;
  DWORD cutTrack = 0;
  for (const auto& [moof, type] : Children(bytes_, 0, bytes_.size())) {
    if (type != FourCC("moof")) continue;
    for (const auto& [traf, trafType] : Children(bytes_, moof + 8, BoxEnd(bytes_, moof))) {
      if (trafType != FourCC("traf")) continue;
      DWORD trackId = 0;
      for (const auto& [child, childType] : Children(bytes_, traf + 8, BoxEnd(bytes_, traf))) {
        if (childType == FourCC("tfhd")) trackId = LoadBigEndian32(&bytes_[child + 12]);
        if (childType != FourCC("trun")) continue;
        const DWORD flags = LoadBigEndian32(&bytes_[child + 8]) & 0xFFFFFF;
        const size_t fields = 16 + ((flags & 0x001) ? 4 : 0) + ((flags & 0x004) ? 4 : 0);
        const size_t perSample = 4 * std::popcount(flags & 0xF00);
        if (LoadBigEndian32(&bytes_[child + 12]) > kKept && perSample > 0) {
          cut = child + fields + kKept * perSample + 2;
          cutMoof = moof;
          cutTrack = trackId;
        }
        break;
      }
      break;
    }
  }
  ASSERT_NE(cut, 0u);
  Open(std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + cut));
  for (ULONG t = 0; t < movie_.source->TrackCount(); ++t) {
    trakBox& track = movie_.Track(t);
    SCOPED_TRACE(testing::Message() << "track " << track.trackId);
    const std::vector<Packet> packets = Packets(track.trackId);
    const auto before = std::count_if(packets.begin(), packets.end(),
                                      [&](const Packet& p) { return p.offset < static_cast<LONGLONG>(cutMoof); });
    const size_t expected = before + (track.trackId == cutTrack ? kKept : 0);
    ASSERT_LE(expected, packets.size());
    const std::vector<Sample> samples = Walk(track);
    std::vector<Packet> kept(packets.begin(), packets.begin() + expected);
    ExpectSamePlaces(samples, kept, 0);
    EXPECT_NE(track.fragmentScanStatus, S_OK);
  }
}

std::vector<std::string> FragmentedFixtures() {
  return {"frag_default_base_moof.mp4", "frag_empty_moov.mp4", "frag_moov_first.mp4", "gst_fragmented.mp4",
          "smooth.ismv"};
}

INSTANTIATE_TEST_SUITE_P(RealFiles, FragmentedFileTest, ::testing::ValuesIn(FragmentedFixtures()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

}  // namespace
