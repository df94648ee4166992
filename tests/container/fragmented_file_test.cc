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

const char* const kFiles[] = {"frag_default_base_moof.mp4", "frag_empty_moov.mp4", "frag_moov_first.mp4",
                              "gst_fragmented.mp4", "smooth.ismv"};

// (offset, size) of a sample or packet.
using Place = std::pair<LONGLONG, LONGLONG>;

// A packet of the facts (decode time, key frame) or a sample of the walk
// (start, sync sample).
struct Packet {
  Place place;
  LONGLONG time;
  bool key;
};

// The file's bytes and its facts.
std::pair<std::vector<uint8_t>, JsonValue> Load(const std::string& name) {
  const std::string path = std::string(ISODMX_TEST_DATA) + "/" + name;
  const std::string bytes = ReadTextFile(path).value();
  const std::string facts = ReadTextFile(path + ".facts.json").value();
  return {std::vector<uint8_t>(bytes.begin(), bytes.end()), JsonValue::Parse(facts).value()};
}

// ffprobe's packets of the stream with this track ID, in file order.
std::vector<Packet> Packets(const JsonValue& facts, DWORD trackId) {
  int64_t index = -1;
  for (const JsonValue& stream : facts["streams"].Array()) {
    if (stream["id"].Int() == trackId) index = stream["index"].Int();
  }
  std::vector<Packet> packets;
  for (const JsonValue& p : facts["packets"].Array()) {
    const bool key = p[6].String().find('K') != std::string::npos;
    if (p[0].Int() == index) packets.push_back({{p[1].Int(), p[2].Int()}, p[7].Int(), key});
  }
  std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.place < b.place; });
  return packets;
}

std::vector<Place> Places(const std::vector<Packet>& packets, size_t first = 0, size_t end = SIZE_MAX) {
  std::vector<Place> places;
  for (size_t i = first; i < std::min(end, packets.size()); ++i) places.push_back(packets[i].place);
  return places;
}

// The delivery loop's walk.
std::vector<Packet> Walk(trakBox& track) {
  std::vector<Packet> samples;
  LONGLONG start = 0, end = 0, offset = 0, size = 0;
  LONG units = 0;
  for (LONGLONG s = 0;; ++s) {
    track.LoadFragmentsForSample(s);
    if (track.GetSampleInfo(s, &start, &end, &offset, &size, &units) != S_OK) return samples;
    samples.push_back({{offset, size}, start, track.IsSyncSample(s) != FALSE});
  }
}

ParsedMovie Open(const std::vector<uint8_t>& bytes) {
  ParsedMovie movie = ParseMovie(MemorySource::Create(bytes).Get());
  EXPECT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.source->FindMovieFragmentRandomAccess(), S_OK);
  return movie;
}

// Seeks in these short files stay within reach of reading forward, so the
// index is used the way it is after a jump whose fragment could not be
// read: with no table set, every seek jumps. The fragment's first sample of
// a track is the track's first packet after its "moof"; from there on the
// walk reads to the end.
TEST(FragmentedFileTest, SeekThroughTheIndexStartsAtTheFragmentsKeyFrameWithItsDecodeTime) {
  for (const char* name : kFiles) {
    const auto [bytes, facts] = Load(name);
    const ParsedMovie movie = Open(bytes);
    for (ULONG t = 0; t < movie.source->TrackCount(); ++t) {
      trakBox& track = movie.Track(t);
      const std::vector<Packet> packets = Packets(facts, track.trackId);
      ASSERT_FALSE(track.randomAccessEntries.Empty()) << name;
      // As the filter does at connection: the first fragment in file order
      // tells where the fragments' own times start.
      track.LoadFragmentsForSample(0);
      for (ULONG e = 0; e < track.randomAccessEntries.Count(); ++e) {
        const RandomAccessEntry entry = track.randomAccessEntries[e];
        SCOPED_TRACE(testing::Message() << name << " track " << track.trackId << " entry at " << entry.time);
        track.sampleTable.reset();
        // Index times count in the fragments' own times.
        ASSERT_EQ(track.SelectFragmentForTime(entry.time - track.fragmentTimeOrigin), S_OK);
        const std::vector<Packet> samples = Walk(track);
        const auto first = std::find_if(packets.begin(), packets.end(),
                                        [&](const Packet& p) { return p.place.first > entry.fragmentOffset; });
        ASSERT_TRUE(first != packets.end() && !samples.empty());
        // The fragment's own decode time places it; the entry's time is the
        // key frame's presentation time.
        EXPECT_EQ(std::make_tuple(samples[0].time, samples[0].key, first->key),
                  std::make_tuple(first->time, true, true));
        EXPECT_EQ(Places(samples), Places(packets, first - packets.begin()));
        EXPECT_EQ(samples.back().time - samples[0].time, packets.back().time - first->time);
      }
      // Back at the start after the jumps: the whole track again, also a
      // first fragment written into "moov", which no entry indexes.
      ASSERT_EQ(track.SelectFragmentForTime(0), S_OK) << name;
      EXPECT_EQ(track.baseMediaTime, 0) << name;
      EXPECT_EQ(Places(Walk(track)), Places(packets)) << name;
    }
  }
}

// The cut falls inside the first run of the last fragment whose first run
// has more than `kKept` samples, after `kKept` whole samples.
TEST(FragmentedFileTest, CutInALateRunStopsLoadingWithTheSamplesBeforeTheCut) {
  constexpr size_t kKept = 3;
  for (const char* name : kFiles) {
    SCOPED_TRACE(name);
    const auto [bytes, facts] = Load(name);
    std::vector<BoxNode> boxes;
    ASSERT_EQ(ReadBoxTree(MemorySource::Create(bytes).Get(), &boxes), S_OK);
    size_t cut = 0;
    LONGLONG cutMoof = 0;
    DWORD cutTrack = 0;
    for (const BoxNode& moof : boxes) {
      const auto isTraf = [](const BoxNode& box) { return box.type == FourCC("traf"); };
      const auto traf = std::find_if(moof.children.begin(), moof.children.end(), isTraf);
      if (moof.type != FourCC("moof") || traf == moof.children.end()) continue;
      // "tfhd" comes first; the first "trun" follows, maybe after a "tfdt".
      const auto isTrun = [](const BoxNode& box) { return box.type == FourCC("trun"); };
      const auto trun = std::find_if(traf->children.begin(), traf->children.end(), isTrun);
      if (trun == traf->children.end()) continue;
      const DWORD flags = LoadBigEndian32(&bytes[trun->offset + 8]) & 0xFFFFFF;
      const size_t perSample = 4 * std::popcount(flags & 0xF00);
      if (LoadBigEndian32(&bytes[trun->offset + 12]) <= kKept || perSample == 0) continue;
      cut = trun->offset + 16 + (flags & 0x001 ? 4 : 0) + (flags & 0x004 ? 4 : 0) + kKept * perSample + 2;
      cutMoof = moof.offset;
      cutTrack = LoadBigEndian32(&bytes[traf->children.front().offset + 12]);
    }
    ASSERT_NE(cut, 0u);
    const ParsedMovie movie = Open(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    for (ULONG t = 0; t < movie.source->TrackCount(); ++t) {
      trakBox& track = movie.Track(t);
      const std::vector<Packet> packets = Packets(facts, track.trackId);
      const auto before =
          std::count_if(packets.begin(), packets.end(), [&](const Packet& p) { return p.place.first < cutMoof; });
      EXPECT_EQ(Places(Walk(track)), Places(packets, 0, before + (track.trackId == cutTrack ? kKept : 0)));
      EXPECT_NE(track.fragmentScanStatus, S_OK);
    }
  }
}

}  // namespace
