// The fragmented files of tests/data through the container model, as the
// filter drives it: seeks through the random-access index and a file cut
// inside a run. Expected samples come from ffprobe's facts, sorted by file
// position per track.
#include "support/json_value.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"

#include "container/box_tree.h"
#include "container/trak_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

namespace {

// (offset, size) of a sample or packet.
using Place = std::pair<LONGLONG, LONGLONG>;

struct Packet {
  Place place;
  LONGLONG decodeTime;
  bool key;
};

// ffprobe's packets of the stream with this track ID, in file order.
std::vector<Packet> Packets(const JsonValue& facts, DWORD trackId) {
  int64_t index = -1;
  for (const JsonValue& stream : facts["streams"].Array()) {
    if (stream["id"].Int() == trackId) index = stream["index"].Int();
  }
  std::vector<Packet> packets;
  for (const JsonValue& p : facts["packets"].Array()) {
    if (p[0].Int() == index) packets.push_back({{p[1].Int(), p[2].Int()}, p[7].Int(), p[6].String().find('K') != std::string::npos});
  }
  std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.place < b.place; });
  return packets;
}

std::vector<Place> Places(const std::vector<Packet>& packets, size_t first, size_t end) {
  std::vector<Place> places;
  for (size_t i = first; i < end; ++i) places.push_back(packets[i].place);
  return places;
}

// The delivery loop's walk: the places, and the starts when asked.
std::vector<Place> Walk(trakBox& track, std::vector<LONGLONG>* starts = nullptr) {
  std::vector<Place> places;
  for (LONGLONG s = 0; s < 100000; ++s) {
    track.LoadFragmentsForSample(s);
    LONGLONG start = 0, end = 0, offset = 0, size = 0;
    LONG units = 0;
    if (track.GetSampleInfo(s, &start, &end, &offset, &size, &units) != S_OK) break;
    places.emplace_back(offset, size);
    if (starts != nullptr) starts->push_back(start);
  }
  return places;
}

ParsedMovie Open(const std::vector<uint8_t>& bytes) {
  ParsedMovie movie = ParseMovie(MemorySource::Create(bytes).Get());
  EXPECT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.source->FindMovieFragmentRandomAccess(), S_OK);
  return movie;
}

class FragmentedFileTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const std::string path = std::string(ISODMX_TEST_DATA) + "/" + GetParam();
    const auto text = ReadTextFile(path);
    const auto facts = ReadTextFile(path + ".facts.json");
    ASSERT_TRUE(text && facts);
    bytes_.assign(text->begin(), text->end());
    facts_ = JsonValue::Parse(*facts).value();
  }

  std::vector<uint8_t> bytes_;
  JsonValue facts_;
};

// Seeks in these short files stay within reach of reading forward, so the
// index is used the way it is after a jump whose fragment could not be
// read: with no table set, every seek jumps.
TEST_P(FragmentedFileTest, SeekThroughTheIndexStartsAtTheFragmentsKeyFrameWithTheEntrysTime) {
  const ParsedMovie movie = Open(bytes_);
  for (ULONG t = 0; t < movie.source->TrackCount(); ++t) {
    trakBox& track = movie.Track(t);
    const std::vector<Packet> packets = Packets(facts_, track.trackId);
    ASSERT_FALSE(track.randomAccessEntries.Empty());
    for (ULONG e = 0; e < track.randomAccessEntries.Count(); ++e) {
      const RandomAccessEntry entry = track.randomAccessEntries[e];
      SCOPED_TRACE(testing::Message() << "track " << track.trackId << " entry at " << entry.time);
      track.sampleTable.reset();
      ASSERT_EQ(track.SelectFragmentForTime(entry.time), S_OK);
      std::vector<LONGLONG> starts;
      const std::vector<Place> places = Walk(track, &starts);
      ASSERT_FALSE(starts.empty());
      EXPECT_EQ(starts[0], entry.time);
      EXPECT_TRUE(track.IsSyncSample(0));
      // The fragment's first sample of this track is the first packet of
      // the track after its "moof"; from there on the walk reads to the end.
      const auto first = std::find_if(packets.begin(), packets.end(),
                                      [&](const Packet& p) { return p.place.first > entry.fragmentOffset; });
      ASSERT_NE(first, packets.end());
      EXPECT_TRUE(first->key);
      EXPECT_EQ(places, Places(packets, first - packets.begin(), packets.size()));
      EXPECT_EQ(starts.back() - starts[0], packets.back().decodeTime - first->decodeTime);
    }
  }
}

// The cut falls inside the first run of the last fragment whose first run
// has more than `kKept` samples, after `kKept` whole samples.
TEST_P(FragmentedFileTest, CutInALateRunStopsLoadingWithTheSamplesBeforeTheCut) {
  constexpr size_t kKept = 3;
  std::vector<BoxNode> boxes;
  ASSERT_EQ(ReadBoxTree(MemorySource::Create(bytes_).Get(), &boxes), S_OK);
  size_t cut = 0;
  LONGLONG cutMoof = 0;
  DWORD cutTrack = 0;
  for (const BoxNode& moof : boxes) {
    if (moof.type != FourCC("moof")) continue;
    const auto traf = std::find_if(moof.children.begin(), moof.children.end(),
                                   [](const BoxNode& box) { return box.type == FourCC("traf"); });
    if (traf == moof.children.end()) continue;
    // "tfhd" comes first; the first "trun" follows it, with or without a
    // "tfdt" between.
    const BoxNode& tfhd = traf->children.front();
    const auto trun = std::find_if(traf->children.begin(), traf->children.end(),
                                   [](const BoxNode& box) { return box.type == FourCC("trun"); });
    if (trun == traf->children.end()) continue;
    const BYTE* run = &bytes_[trun->offset];
    const DWORD flags = LoadBigEndian32(run + 8) & 0xFFFFFF;
    const size_t perSample = 4 * std::popcount(flags & 0xF00);
    if (LoadBigEndian32(run + 12) <= kKept || perSample == 0) continue;
    cut = trun->offset + 16 + (flags & 0x001 ? 4 : 0) + (flags & 0x004 ? 4 : 0) + kKept * perSample + 2;
    cutMoof = moof.offset;
    cutTrack = LoadBigEndian32(&bytes_[tfhd.offset + 12]);
  }
  ASSERT_NE(cut, 0u);
  const ParsedMovie movie = Open(std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + cut));
  for (ULONG t = 0; t < movie.source->TrackCount(); ++t) {
    trakBox& track = movie.Track(t);
    const std::vector<Packet> packets = Packets(facts_, track.trackId);
    const auto before = std::count_if(packets.begin(), packets.end(), [&](const Packet& p) { return p.place.first < cutMoof; });
    const size_t kept = before + (track.trackId == cutTrack ? kKept : 0);
    ASSERT_LE(kept, packets.size());
    EXPECT_EQ(Walk(track), Places(packets, 0, kept)) << "track " << track.trackId;
    EXPECT_NE(track.fragmentScanStatus, S_OK);
  }
}

INSTANTIATE_TEST_SUITE_P(RealFiles, FragmentedFileTest,
                         ::testing::Values("frag_default_base_moof.mp4", "frag_empty_moov.mp4", "frag_moov_first.mp4",
                                           "gst_fragmented.mp4", "smooth.ismv"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

}  // namespace
