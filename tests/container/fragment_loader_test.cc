// The fragment loader and the random-access index over fragmented movies
// built in memory, for what the real fragmented files do not hold: trex
// defaults, empty runs, runs without data offsets, sync flags of every kind,
// constant-size "moov" tables in front of the runs, hostile counts, "tfra"
// fields of every width, and jumps to a sample inside a fragment.
#include "support/box_builder.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"

#include "container/trak_box.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>

namespace {

constexpr uint32_t kSyncFlags = 0x02000000;
constexpr uint32_t kNonSyncFlags = 0x01010000;

struct Trex { uint32_t duration = 0, size = 0, flags = 0; };
struct Tfhd { uint32_t trackId = 1, flags = 0; uint64_t base = 0; };
struct Trun {
  uint32_t flags = 0;
  int32_t dataOffset = 0;
  uint32_t firstFlags = 0;
  // (duration, size) per sample.
  std::vector<std::pair<uint32_t, uint32_t>> samples = {};
  // Written as the sample count instead of the number of samples.
  std::optional<uint32_t> declaredCount = {};
  // Composition offsets per sample, with flag 0x800.
  std::vector<uint32_t> offsets = {};
};
// Durations and sizes per sample.
Trun SizedRun(std::vector<uint32_t> durations, uint32_t size = 10) {
  Trun run{.flags = 0x300};
  for (uint32_t duration : durations) run.samples.emplace_back(duration, size);
  return run;
}
// One "tfra" entry: time, "moof" offset, and traf, trun and sample numbers.
struct TfraEntry { uint64_t time = 0, moof = 0; uint32_t traf = 1, trun = 1, sample = 1; };
// A version 1 "tfra" (real files have both versions, with 1-byte numbers).
struct Tfra {
  uint32_t trackId = 1;
  std::vector<TfraEntry> entries = {};
  // Bytes of the traf, trun and sample numbers, 1 to 4 each.
  std::array<int, 3> widths = {1, 1, 1};
  std::optional<uint32_t> declaredCount = {};
};

// (offset, size, start) of one delivered sample.
using Row = std::tuple<LONGLONG, LONGLONG, LONGLONG>;

class FragmentTest : public ::testing::Test {
 protected:
  // A "moov" of the tracks (empty tables unless given) with a "trex" each.
  void BeginFile(std::vector<uint32_t> trackIds = {1}, Trex trex = {}, TrackSpec first = {}) {
    b_ = BoxBuilder();
    b_.Box("moov", [&] {
      for (uint32_t id : trackIds) {
        first.trackId = id;
        WriteTrack(b_, first);
        first = TrackSpec{};
      }
      b_.Box("mvex", [&] {
        for (uint32_t id : trackIds) {
          b_.FullBox("trex", 0, 0, [&] { b_.U32(id).U32(1).U32(trex.duration).U32(trex.size).U32(trex.flags); });
        }
      });
    });
  }

  // A "moof" of what `trafs` writes, given the "moof" offset, and an
  // "mdat"; returns the "moof" offset.
  LONGLONG AddFragment(const std::function<void(LONGLONG)>& trafs) {
    const auto moof = static_cast<LONGLONG>(b_.Size());
    b_.Box("moof", [&] { trafs(moof); }).Box("mdat", [&] { b_.Zeros(64); });
    return moof;
  }
  LONGLONG AddRuns(const std::vector<Trun>& runs) {
    return AddFragment([&](LONGLONG) { Traf({}, runs); });
  }

  void Traf(const Tfhd& tfhd, const std::vector<Trun>& runs) {
    b_.Box("traf", [&] {
      b_.FullBox("tfhd", 0, tfhd.flags, [&] {
        b_.U32(tfhd.trackId);
        if (tfhd.flags & 0x01) b_.U64(tfhd.base);
      });
      for (const Trun& run : runs) {
        b_.FullBox("trun", 0, run.flags, [&] {
          b_.U32(run.declaredCount.value_or(static_cast<uint32_t>(run.samples.size())));
          if (run.flags & 0x001) b_.I32(run.dataOffset);
          if (run.flags & 0x004) b_.U32(run.firstFlags);
          for (size_t i = 0; i < run.samples.size(); ++i) {
            if (run.flags & 0x100) b_.U32(run.samples[i].first);
            if (run.flags & 0x200) b_.U32(run.samples[i].second);
            if (run.flags & 0x800) b_.U32(i < run.offsets.size() ? run.offsets[i] : 0);
          }
        });
      }
    });
  }

  // "mfra" with one "tfra" each and the closing "mfro".
  void Index(const std::vector<Tfra>& tfras) {
    const size_t start = b_.Size();
    b_.Box("mfra", [&] {
      for (const Tfra& tfra : tfras) {
        b_.FullBox("tfra", 1, 0, [&] {
          const auto& [traf, trun, sample] = tfra.widths;
          b_.U32(tfra.trackId).U32(((traf - 1) << 4) | ((trun - 1) << 2) | (sample - 1));
          b_.U32(tfra.declaredCount.value_or(static_cast<uint32_t>(tfra.entries.size())));
          for (const TfraEntry& e : tfra.entries) {
            b_.U64(e.time).U64(e.moof);
            const std::pair<uint32_t, int> numbers[] = {{e.traf, traf}, {e.trun, trun}, {e.sample, sample}};
            for (const auto& [value, width] : numbers) {
              for (int i = width - 1; i >= 0; --i) b_.U8(static_cast<uint8_t>(value >> (8 * i)));
            }
          }
        });
      }
      // The "mfro" size covers the whole "mfra", itself included.
      const auto size = static_cast<uint32_t>(b_.Size() - start + 16);
      b_.FullBox("mfro", 0, 0, [&] { b_.U32(size); });
    });
  }

  // Parses as the filter does: ParseFile, then the random-access index.
  HRESULT Open() {
    source_ = MemorySource::Create(b_.Data());
    movie_ = ParseMovie(source_.Get());
    EXPECT_EQ(movie_.result, S_OK);
    EXPECT_TRUE(movie_.source->fragmented);
    return movie_.source->FindMovieFragmentRandomAccess();
  }

  trakBox& Track() { return movie_.Track(0); }

  // The result of GetSampleInfo and the sample's (offset, size, start).
  std::tuple<HRESULT, LONGLONG, LONGLONG, LONGLONG> Info(LONGLONG sample) {
    LONGLONG start = 0, end = 0, offset = 0, size = 0;
    LONG units = 0;
    const HRESULT hr = Track().GetSampleInfo(sample, &start, &end, &offset, &size, &units);
    return {hr, offset, size, start};
  }

  // The delivery loop's walk, offsets from `moof`.
  std::vector<Row> Walk(LONGLONG moof = 0) {
    std::vector<Row> rows;
    for (LONGLONG s = 0;; ++s) {
      Track().LoadFragmentsForSample(s);
      const auto [hr, offset, size, start] = Info(s);
      if (hr != S_OK) return rows;
      rows.emplace_back(offset - moof, size, start);
    }
  }

  // "K" for a sync sample, "." otherwise, over the loaded samples.
  std::string SyncPattern() {
    std::string pattern;
    for (DWORD s = 0; s < Track().sampleTable->sampleCount; ++s) pattern += Track().IsSyncSample(s) ? 'K' : '.';
    return pattern;
  }

  BoxBuilder b_;
  ComPtr<MemorySource> source_;
  ParsedMovie movie_;
};

// Data offsets, tfhd bases and defaults, and other tracks' fragments are
// all in the real fragmented files. A chunk of zero samples would stop the
// chunk lookup.
TEST_F(FragmentTest, RunsLandWhereTheirOffsetsAndDefaultsSay) {
  const Trun twoSamples{.samples = {{}, {}}};
  const std::tuple<const char*, Trex, std::function<void(LONGLONG)>, std::vector<Row>> cases[] = {
      {"without data offsets the second run follows the first", {},
       [&](LONGLONG moof) { Traf({.flags = 0x01, .base = moof + 1000ull}, {SizedRun({1, 1}), SizedRun({1})}); },
       {{1000, 10, 0}, {1010, 10, 1}, {1020, 10, 2}}},
      {"empty run adds no chunk", {}, [&](LONGLONG) { Traf({}, {Trun{.flags = 0x301}, SizedRun({1, 1})}); },
       {{0, 10, 0}, {10, 10, 1}}},
      {"defaults from trex", {.duration = 100, .size = 7}, [&](LONGLONG) { Traf({}, {twoSamples}); },
       {{0, 7, 0}, {7, 7, 100}}},
      {"tfhd duration-is-empty", {.duration = 100, .size = 7},
       [&](LONGLONG) { Traf({.flags = 0x010000}, {twoSamples}); }, {{0, 7, 0}, {7, 7, 0}}},
      {"run whose fields end early keeps the samples before", {},
       [&](LONGLONG) { Traf({}, {Trun{.flags = 0x300, .samples = {{1, 10}, {1, 10}}, .declaredCount = 3}}); },
       {{0, 10, 0}, {10, 10, 1}}},
  };
  for (const auto& [name, trex, trafs, rows] : cases) {
    BeginFile({1, 2}, trex);
    const LONGLONG moof = AddFragment(trafs);
    ASSERT_EQ(Open(), S_OK);
    EXPECT_EQ(Walk(moof), rows) << name;
  }
}

// The first run always starts on a sync sample, so that the sync table is
// never empty (which would make every sample one); every other sample
// carries sync flags that must not count.
TEST_F(FragmentTest, OnlyARunsFirstSampleCanBeASyncSample) {
  const std::pair<uint32_t, const char*> cases[] = {
      {kSyncFlags, "K.K."}, {0, "K.K."}, {kNonSyncFlags, "K..."}, {0x00010000, "K..."}, {0x01000000, "K..."}};
  for (const auto& [firstFlags, pattern] : cases) {
    BeginFile({1}, {.duration = 10, .size = 4, .flags = kSyncFlags});
    AddRuns({{.flags = 0x004, .firstFlags = kSyncFlags, .samples = {{}, {}}},
             {.flags = 0x004, .firstFlags = firstFlags, .samples = {{}, {}}}});
    ASSERT_EQ(Open(), S_OK);
    Walk();
    EXPECT_EQ(SyncPattern(), pattern) << std::hex << firstFlags;
  }
}

// A run of more samples than the file has bytes is refused before the
// tables grow, and loading stays stopped without reading again.
TEST_F(FragmentTest, HostileRunCountStopsLoadingForGood) {
  BeginFile({1}, {.duration = 1, .size = 1});
  AddRuns({Trun{.declaredCount = 0xFFFFFFF0}});
  AddRuns({SizedRun({1, 1})});
  ASSERT_EQ(Open(), S_OK);
  EXPECT_EQ(Track().LoadFragmentsForSample(0), STG_E_INVALIDHEADER);
  const size_t reads = source_->ReadCount();
  EXPECT_EQ(Track().LoadFragmentsForTime(100), STG_E_INVALIDHEADER);
  EXPECT_TRUE(Walk().empty());
  EXPECT_EQ(source_->ReadCount(), reads);
}

// Two samples of constant size 50 in two chunks and no sync table (all
// sync), then a run. The walk is made twice, as after a seek back.
TEST_F(FragmentTest, MoovSamplesStayInFrontOfTheRuns) {
  TrackSpec track;
  track.stts = {{2, 100}}, track.stsc = {{1, 1, 1}}, track.chunkOffsets = {3000, 3050};
  track.constantSize = 50, track.constantCount = 2;
  BeginFile({1}, {}, track);
  const LONGLONG moof =
      AddRuns({{.flags = 0x305, .dataOffset = 8, .firstFlags = kNonSyncFlags, .samples = {{100, 10}, {100, 10}}}});
  ASSERT_EQ(Open(), S_OK);
  const std::vector<Row> expected = {{3000, 50, 0}, {3050, 50, 100}, {moof + 8, 10, 200}, {moof + 18, 10, 300}};
  EXPECT_EQ(Walk(), expected);
  EXPECT_EQ(Walk(), expected);
  EXPECT_EQ(SyncPattern(), "KK..");
}

// Two fragments of two samples of 100 units; a request loads up to the
// fragment that holds it. The lookups cache where the last sample was
// found: lookups past the end must not spoil the runs appended after them.
TEST_F(FragmentTest, RequestsLoadOnlyWhatTheyNeedAndLookupsPastTheEndStayRight) {
  BeginFile();
  const LONGLONG first = AddRuns({SizedRun({100, 100})});
  const LONGLONG second = AddRuns({SizedRun({100, 50}, 20)});
  ASSERT_EQ(Open(), S_OK);
  ASSERT_EQ(Track().LoadFragmentsForTime(199), S_OK);
  ASSERT_EQ(Track().LoadFragmentsForSample(1), S_OK);
  EXPECT_EQ(Track().sampleTable->sampleCount, 2u);
  LONGLONG start = 0, end = 0;
  EXPECT_EQ(std::get<0>(Info(2)), S_FALSE);
  ASSERT_EQ(Track().SampleNumberToTime(3, &start, &end, 1), S_OK);
  ASSERT_EQ(Track().LoadFragmentsForTime(200), S_OK);
  EXPECT_EQ(Track().sampleTable->sampleCount, 4u);
  const Row expected[] = {{first, 10, 0}, {first + 10, 10, 100}, {second, 20, 200}, {second + 20, 20, 300}};
  for (LONGLONG s : {2, 3, 0}) EXPECT_EQ(Info(s), std::tuple_cat(std::make_tuple(S_OK), expected[s])) << s;
}

// Each number is the largest its width holds, so that a byte too few or
// too many shows; a second entry proves the first was read to its end.
TEST_F(FragmentTest, IndexNumbersOfEveryWidthAreRead) {
  auto largest = [](int width) { return static_cast<uint32_t>((uint64_t{1} << (8 * width)) - 2); };
  for (const std::array<int, 3> widths : {std::array{4, 4, 4}, {2, 3, 1}, {3, 1, 4}}) {
    BeginFile();
    const auto moof = static_cast<uint64_t>(AddRuns({SizedRun({1, 1})}));
    const auto [traf, trun, sample] = std::make_tuple(largest(widths[0]), largest(widths[1]), largest(widths[2]));
    Index({{.entries = {{1ull << 32, moof, traf, trun, sample}, {7, moof, 1, 2, 3}}, .widths = widths}});
    ASSERT_EQ(Open(), S_OK);
    const GrowableArray<RandomAccessEntry>& entries = Track().randomAccessEntries;
    ASSERT_EQ(entries.Count(), 2u);
    const RandomAccessEntry& e = entries[1];
    EXPECT_EQ(std::make_tuple(e.time, e.fragmentOffset, e.trafNumber, e.trunNumber, e.sampleNumber),
              std::make_tuple(1ll << 32, LONGLONG(moof), traf, trun, sample));
    EXPECT_EQ(entries[0].sampleNumber, 3u);
  }
}

// Entries that do not point at a "moof" would restart the loader on bytes
// that are no fragment (one muxer writes a last entry with offset 0); an
// index of an unknown track is stepped over; a hostile count or "mfro"
// leaves the file without an index.
TEST_F(FragmentTest, IndexKeepsOnlyEntriesOfFragmentsInTimeOrder) {
  const std::tuple<std::function<void(uint64_t)>, HRESULT, std::vector<LONGLONG>> cases[] = {
      {[&](uint64_t moof) {
         Index({{.trackId = 9, .entries = {{5, moof}}},
                {.entries = {{3000, moof}, {1000, moof}, {2000, 0}, {500, moof + 8}, {0, 1u << 30}, {2000, moof}}}});
       },
       S_OK, {1000, 2000, 3000}},
      {[&](uint64_t) { b_.Box("free", [&] { b_.Zeros(16); }); }, S_OK, {}},
      {[&](uint64_t) { b_.FullBox("mfro", 0, 0, [&] { b_.U32(0x7FFFFFF0); }); }, S_OK, {}},
      {[&](uint64_t) { b_.FullBox("mfro", 0, 0, [&] { b_.U32(24); }); }, S_OK, {}},
      // A word of 1 to 7 where a header could start is no box that broke
      // the size rule, only bytes: the tail of a table, a "free" box.
      {[&](uint64_t) { b_.Box("free", [&] { b_.U32(3).Zeros(12); }); }, S_OK, {}},
      {[&](uint64_t) {
         b_.Box("free", [&] { b_.U32(5).Zeros(4); });
         b_.FullBox("mfro", 0, 0, [&] { b_.U32(24); });
       },
       S_OK, {}},
      {[&](uint64_t moof) { Index({{.entries = {{0, moof}}, .declaredCount = 0x10000000}}); }, STG_E_INVALIDHEADER, {}},
  };
  for (const auto& [tail, result, times] : cases) {
    BeginFile();
    tail(static_cast<uint64_t>(AddRuns({SizedRun({1, 1})})));
    EXPECT_EQ(Open(), result);
    std::vector<LONGLONG> found;
    const GrowableArray<RandomAccessEntry>& entries = Track().randomAccessEntries;
    for (ULONG i = 0; i < entries.Count(); ++i) found.push_back(entries[i].time);
    EXPECT_EQ(found, times);
  }
}

// Two fragments of five samples of 1000 units; the index names both, the
// second at 9000 with its third sample. Loaded from there: 7000 to 12000;
// reading forward reaches 5 s (3000 units at timescale 600) past that.
TEST_F(FragmentTest, JumpGivesTheTargetSampleTheEntrysTimeAndNearSeeksKeepTheRuns) {
  BeginFile();
  const auto first = static_cast<uint64_t>(AddRuns({SizedRun({1000, 1000, 1000, 1000, 1000})}));
  const LONGLONG second = AddRuns({SizedRun({1000, 1000, 1000, 1000, 1000})});
  Index({{.entries = {{0, first}, {9000, static_cast<uint64_t>(second), 1, 1, 3}}}});
  ASSERT_EQ(Open(), S_OK);
  trakBox& track = Track();
  EXPECT_NE(track.LoadFragmentsForSample(100), S_OK);
  ASSERT_EQ(track.SelectFragmentForTime(20000), S_OK) << "restarts the stopped loader";
  EXPECT_EQ(std::make_tuple(track.fragmentScanStatus, track.baseMediaTime, track.sampleTable->sampleCount),
            std::make_tuple(S_OK, 7000, 5u));
  EXPECT_EQ(Walk(second)[2], Row(20, 10, 9000));
  const DWORD loaded = track.sampleTable->fragmentId;
  for (LONGLONG t : {7000, 11999, 14999}) {
    EXPECT_EQ(track.SelectFragmentForTime(t), S_OK);
    EXPECT_EQ(track.sampleTable->fragmentId, loaded) << t;
  }
  EXPECT_EQ(track.SelectFragmentForTime(6999), S_OK);
  EXPECT_NE(track.sampleTable->fragmentId, loaded);
  EXPECT_EQ(track.baseMediaTime, 0);
}

// After a jump without a decode time box (the real files have one, which
// places the set) the entry's presentation time less the target's
// composition offset and the durations before it places it; the end of the
// last indexed fragment is read the same way.
TEST_F(FragmentTest, JumpWithoutDecodeTimePlacesTheSetAtTheEntrysTime) {
  BeginFile();
  AddRuns({SizedRun({1000, 1000})});
  Trun run = SizedRun({1000, 1000, 1000});
  run.flags |= 0x800, run.offsets = {0, 300, 0};
  const LONGLONG moof = AddRuns({run});
  Index({{.entries = {{0, 0}, {9000, static_cast<uint64_t>(moof), 1, 1, 2}}}});
  ASSERT_EQ(Open(), S_OK);
  Track().sampleTable.reset();
  ASSERT_EQ(Track().SelectFragmentForTime(9000), S_OK);
  EXPECT_EQ(Track().baseMediaTime, 7700);
  LONGLONG end = 0;
  EXPECT_EQ(Track().GetIndexedEndTime(&end), S_OK);
  EXPECT_EQ(end, 7700 + 3000);
}

}  // namespace
