// The fragment loader and the random-access index over fragmented movies
// built in memory: where runs put their samples, which become sync samples,
// the defaults a run takes, how "moov" tables meet the runs, how far a
// request loads, how errors stop loading, the "tfra" fields, and jumps
// through the index.
#include "support/box_builder.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"

#include "container/random_access_index.h"
#include "container/trak_box.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr uint32_t kSyncFlags = 0x02000000;
constexpr uint32_t kNonSyncFlags = 0x01010000;

struct Trex {
  uint32_t duration = 0, size = 0, flags = 0;
};
struct Tfhd {
  uint32_t trackId = 1, flags = 0;
  uint64_t base = 0;
  uint32_t duration = 0, size = 0;
};
struct TrunSample {
  uint32_t duration = 0, size = 0, flags = 0;
};
struct Trun {
  uint32_t flags = 0;
  int32_t dataOffset = 0;
  uint32_t firstFlags = 0;
  std::vector<TrunSample> samples = {};
  // Written as the sample count instead of the number of samples.
  std::optional<uint32_t> declaredCount = {};
};
// Per-sample durations and sizes.
Trun SizedRun(std::vector<uint32_t> durations, uint32_t size = 10) {
  Trun run{.flags = 0x300};
  for (uint32_t duration : durations) run.samples.push_back({duration, size, 0});
  return run;
}
// A "tfra" entry: time, "moof" offset, and traf, trun and sample numbers.
struct TfraEntry {
  uint64_t time = 0, moof = 0;
  uint32_t traf = 1, trun = 1, sample = 1;
};
struct Tfra {
  uint32_t trackId = 1;
  std::vector<TfraEntry> entries = {};
  uint8_t version = 1;
  // Bytes of the traf, trun and sample numbers, 1 to 4 each.
  std::array<int, 3> widths = {1, 1, 1};
  std::optional<uint32_t> declaredCount = {};
};

// (offset, size, start) of one delivered sample, offsets from the "moof".
using Row = std::tuple<LONGLONG, LONGLONG, LONGLONG>;

class FragmentTest : public ::testing::Test {
 protected:
  // A "moov" of the tracks (empty tables unless given) with a "trex" each.
  void BeginFile(std::vector<uint32_t> trackIds = {1}, Trex trex = {}, std::optional<TrackSpec> first = {}) {
    b_.Box("moov", [&] {
      for (uint32_t id : trackIds) {
        TrackSpec track = first && id == trackIds[0] ? *first : TrackSpec{};
        track.trackId = id;
        WriteTrack(b_, track);
      }
      b_.Box("mvex", [&] {
        for (uint32_t id : trackIds) {
          b_.FullBox("trex", 0, 0, [&] { b_.U32(id).U32(1).U32(trex.duration).U32(trex.size).U32(trex.flags); });
        }
      });
    });
  }

  // A "moof" of what `trafs` writes (given the "moof" offset), then an
  // "mdat"; returns the "moof" offset.
  LONGLONG AddFragment(const std::function<void(LONGLONG)>& trafs) {
    const auto moof = static_cast<LONGLONG>(b_.Size());
    b_.Box("moof", [&] { trafs(moof); });
    b_.Box("mdat", [&] { b_.Zeros(64); });
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
        if (tfhd.flags & 0x08) b_.U32(tfhd.duration);
        if (tfhd.flags & 0x10) b_.U32(tfhd.size);
      });
      for (const Trun& run : runs) {
        b_.FullBox("trun", 0, run.flags, [&] {
          b_.U32(run.declaredCount.value_or(static_cast<uint32_t>(run.samples.size())));
          if (run.flags & 0x001) b_.I32(run.dataOffset);
          if (run.flags & 0x004) b_.U32(run.firstFlags);
          for (const TrunSample& sample : run.samples) {
            if (run.flags & 0x100) b_.U32(sample.duration);
            if (run.flags & 0x200) b_.U32(sample.size);
            if (run.flags & 0x400) b_.U32(sample.flags);
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
        b_.FullBox("tfra", tfra.version, 0, [&] {
          const auto& [traf, trun, sample] = tfra.widths;
          b_.U32(tfra.trackId).U32(((traf - 1) << 4) | ((trun - 1) << 2) | (sample - 1));
          b_.U32(tfra.declaredCount.value_or(static_cast<uint32_t>(tfra.entries.size())));
          for (const TfraEntry& e : tfra.entries) {
            tfra.version == 1 ? b_.U64(e.time).U64(e.moof)
                              : b_.U32(static_cast<uint32_t>(e.time)).U32(static_cast<uint32_t>(e.moof));
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

  trakBox& Track(ULONG index = 0) { return movie_.Track(index); }

  // The delivery loop's walk, offsets from `moof`.
  std::vector<Row> Walk(ULONG index = 0, LONGLONG moof = 0) {
    std::vector<Row> rows;
    for (LONGLONG s = 0; s < 1000; ++s) {
      Track(index).LoadFragmentsForSample(s);
      LONGLONG start = 0, end = 0, offset = 0, size = 0;
      LONG units = 0;
      if (Track(index).GetSampleInfo(s, &start, &end, &offset, &size, &units) != S_OK) break;
      rows.emplace_back(offset - moof, size, start);
    }
    return rows;
  }

  // "K" for a sync sample, "." otherwise, over the loaded samples.
  std::string SyncPattern() {
    std::string pattern;
    for (LONGLONG s = 0; s < static_cast<LONGLONG>(Track().sampleTable->sampleCount); ++s) {
      pattern += Track().IsSyncSample(s) ? 'K' : '.';
    }
    return pattern;
  }

  std::vector<LONGLONG> IndexTimes(ULONG track = 0) {
    std::vector<LONGLONG> times;
    const GrowableArray<RandomAccessEntry>& entries = Track(track).randomAccessEntries;
    for (ULONG i = 0; i < entries.Count(); ++i) times.push_back(entries[i].time);
    return times;
  }

  BoxBuilder b_;
  ComPtr<MemorySource> source_;
  ParsedMovie movie_;
};

// Runs with data offsets, tfhd bases and defaults, other tracks' trafs and
// equal durations are all in the real fragmented files; these are not.
TEST_F(FragmentTest, RunsLandWhereTheirOffsetsAndDefaultsSay) {
  const Trun twoSamples{.samples = {{}, {}}};
  const struct {
    const char* name;
    Trex trex;
    std::function<void(LONGLONG)> trafs;
    std::vector<Row> rows;
  } cases[] = {
      {"without data offsets the second run follows the first", {},
       [&](LONGLONG moof) { Traf({.flags = 0x01, .base = moof + 1000ull}, {SizedRun({1, 1}), SizedRun({1})}); },
       {{1000, 10, 0}, {1010, 10, 1}, {1020, 10, 2}}},
      // A chunk of zero samples would stop the chunk lookup.
      {"empty run adds no chunk", {}, [&](LONGLONG) { Traf({}, {Trun{.flags = 0x301}, SizedRun({1, 1})}); },
       {{0, 10, 0}, {10, 10, 1}}},
      {"defaults from trex", {.duration = 100, .size = 7}, [&](LONGLONG) { Traf({}, {twoSamples}); },
       {{0, 7, 0}, {7, 7, 100}}},
      {"tfhd duration-is-empty", {.duration = 100, .size = 7},
       [&](LONGLONG) { Traf({.flags = 0x010000}, {twoSamples}); }, {{0, 7, 0}, {7, 7, 0}}},
  };
  for (const auto& c : cases) {
    b_ = BoxBuilder();
    BeginFile({1, 2}, c.trex);
    const LONGLONG moof = AddFragment(c.trafs);
    ASSERT_EQ(Open(), S_OK);
    EXPECT_EQ(Walk(0, moof), c.rows) << c.name;
  }
}

// The first run always starts on a sync sample, so that the sync table is
// never empty (which would make every sample one); every other sample
// carries sync flags that must not count.
TEST_F(FragmentTest, OnlyARunsFirstSampleCanBeASyncSample) {
  const std::pair<uint32_t, const char*> cases[] = {
      {kSyncFlags, "K.K."}, {0, "K.K."}, {kNonSyncFlags, "K..."}, {0x00010000, "K..."}, {0x01000000, "K..."}};
  for (const auto& [firstFlags, pattern] : cases) {
    b_ = BoxBuilder();
    BeginFile({1}, {.duration = 10, .size = 4, .flags = kSyncFlags});
    const Trun first{.flags = 0x004, .firstFlags = kSyncFlags, .samples = {{}, {}}};
    Trun second = first;
    second.firstFlags = firstFlags;
    AddRuns({first, second});
    ASSERT_EQ(Open(), S_OK);
    Walk();
    EXPECT_EQ(SyncPattern(), pattern) << std::hex << firstFlags;
  }
}

// A run of more samples than the file has bytes is refused before the
// tables grow, and loading stays stopped without reading again. (A run cut
// short is in the real-file tests.)
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

TEST_F(FragmentTest, MoovSamplesStayInFrontOfTheRuns) {
  // Two samples of constant size 50 in two chunks, no sync table: all sync.
  TrackSpec track;
  track.stts = {{2, 100}};
  track.stsc = {{1, 1, 1}};
  track.constantSize = 50;
  track.constantCount = 2;
  track.chunkOffsets = {3000, 3050};
  BeginFile({1}, {}, track);
  Trun run = SizedRun({100, 100});
  run.flags |= 0x005;
  run.dataOffset = 8;
  run.firstFlags = kNonSyncFlags;
  const LONGLONG moof = AddRuns({run});
  ASSERT_EQ(Open(), S_OK);
  const std::vector<Row> expected = {{3000, 50, 0}, {3050, 50, 100}, {moof + 8, 10, 200}, {moof + 18, 10, 300}};
  EXPECT_EQ(Walk(), expected);
  EXPECT_EQ(Walk(), expected) << "again over the grown tables, as after a seek back";
  EXPECT_EQ(SyncPattern(), "KK..");
}

TEST_F(FragmentTest, RequestsLoadOnlyTheFragmentsTheyNeed) {
  // Two fragments of two samples of 100 units each. {by time, request,
  // samples loaded}
  const std::tuple<bool, LONGLONG, DWORD> cases[] = {{false, 0, 2}, {false, 1, 2},  {false, 2, 4}, {true, 150, 2},
                                                     {true, 200, 4}, {true, -5, 0}, {false, -1, 0}};
  for (const auto& [byTime, request, loaded] : cases) {
    b_ = BoxBuilder();
    BeginFile();
    AddRuns({SizedRun({100, 100})});
    AddRuns({SizedRun({100, 100})});
    ASSERT_EQ(Open(), S_OK);
    EXPECT_EQ(byTime ? Track().LoadFragmentsForTime(request) : Track().LoadFragmentsForSample(request), S_OK);
    EXPECT_EQ(Track().sampleTable ? Track().sampleTable->sampleCount : 0, loaded) << request;
  }
}

// The lookups cache where the last sample was found; runs appended after a
// lookup ran past the end must still be found where they are.
TEST_F(FragmentTest, LookupsPastTheEndStayRightOnceRunsAreAppended) {
  BeginFile();
  const LONGLONG first = AddRuns({SizedRun({100, 100})});
  const LONGLONG second = AddRuns({SizedRun({100, 50}, 20)});
  ASSERT_EQ(Open(), S_OK);
  trakBox& track = Track();
  ASSERT_EQ(track.LoadFragmentsForSample(0), S_OK);
  LONGLONG start = 0, end = 0, offset = 0, size = 0;
  LONG units = 0;
  ASSERT_EQ(track.GetSampleInfo(1, &start, &end, &offset, &size, &units), S_OK);
  EXPECT_EQ(track.GetSampleInfo(2, &start, &end, &offset, &size, &units), S_FALSE);
  ASSERT_EQ(track.SampleNumberToTime(3, &start, &end, 1), S_OK);
  ASSERT_EQ(track.LoadFragmentsForSample(3), S_OK);
  const Row expected[] = {{first, 10, 0}, {first + 10, 10, 100}, {second, 20, 200}, {second + 20, 20, 300}};
  for (LONGLONG s : {2, 3, 0}) {
    ASSERT_EQ(track.GetSampleInfo(s, &start, &end, &offset, &size, &units), S_OK);
    EXPECT_EQ(Row(offset, size, start), expected[s]) << "sample " << s;
  }
}

TEST_F(FragmentTest, IndexFieldsOfEveryWidthAndVersionAreRead) {
  // {version, widths, time}; each number is the largest its width holds,
  // so that a byte too few or too many shows.
  const std::tuple<uint8_t, std::array<int, 3>, uint64_t> cases[] = {
      {0, {1, 1, 1}, 0xFFFFFFF0}, {1, {4, 4, 4}, 0x100000007}, {1, {2, 3, 1}, 42}, {0, {3, 1, 4}, 42}};
  auto largest = [](int width) { return static_cast<uint32_t>((uint64_t{1} << (8 * width)) - 2); };
  for (const auto& [version, widths, time] : cases) {
    b_ = BoxBuilder();
    BeginFile();
    const auto moof = static_cast<uint64_t>(AddRuns({SizedRun({1, 1})}));
    // A second entry proves the first was consumed to its last byte.
    Index({{.entries = {{time, moof, largest(widths[0]), largest(widths[1]), largest(widths[2])},
                        {time + 1, moof, 1, 2, 3}},
            .version = version,
            .widths = widths}});
    ASSERT_EQ(Open(), S_OK);
    const GrowableArray<RandomAccessEntry>& entries = Track().randomAccessEntries;
    ASSERT_EQ(entries.Count(), 2u);
    const RandomAccessEntry& e = entries[0];
    EXPECT_EQ(std::make_tuple(e.time, e.fragmentOffset, e.trafNumber, e.trunNumber, e.sampleNumber),
              std::make_tuple(static_cast<LONGLONG>(time), static_cast<LONGLONG>(moof), largest(widths[0]),
                              largest(widths[1]), largest(widths[2])));
    EXPECT_EQ(entries[1].sampleNumber, 3u);
  }
}

// Entries that do not point at a "moof" would restart the loader on bytes
// that are no fragment; an index of an unknown track is stepped over.
TEST_F(FragmentTest, IndexIsSortedAndKeepsOnlyEntriesOfFragments) {
  BeginFile({1, 2});
  const auto moof = static_cast<uint64_t>(AddRuns({SizedRun({1, 1})}));
  Index({{.trackId = 9, .entries = {{5, moof}}},
         {.entries = {{3000, moof}, {1000, moof}, {2000, 0}, {500, moof + 8}, {0, 1u << 30}, {2000, moof}}},
         {.trackId = 2, .entries = {{7, moof}}}});
  ASSERT_EQ(Open(), S_OK);
  EXPECT_EQ(IndexTimes(0), (std::vector<LONGLONG>{1000, 2000, 3000}));
  EXPECT_EQ(IndexTimes(1), std::vector<LONGLONG>{7});
}

TEST_F(FragmentTest, MissingOrHostileIndexGivesNone) {
  const std::tuple<const char*, std::function<void()>, HRESULT> cases[] = {
      {"no mfro at the end", [&] { b_.Box("free", [&] { b_.Zeros(16); }); }, S_OK},
      {"mfro sized past the start", [&] { b_.FullBox("mfro", 0, 0, [&] { b_.U32(0x7FFFFFF0); }); }, S_OK},
      {"mfro pointing at another box", [&] { b_.FullBox("mfro", 0, 0, [&] { b_.U32(24); }); }, S_OK},
      // Refused before anything is allocated for the count.
      {"count larger than the box", [&] { Index({{.entries = {{0, 0}}, .declaredCount = 0x10000000}}); },
       STG_E_INVALIDHEADER},
  };
  for (const auto& [name, tail, result] : cases) {
    b_ = BoxBuilder();
    BeginFile();
    AddRuns({SizedRun({1, 1})});
    tail();
    EXPECT_EQ(Open(), result) << name;
    EXPECT_TRUE(IndexTimes().empty()) << name;
  }
}

TEST(FindRandomAccessEntryTest, PicksTheLastEntryStartingAtOrBeforeTheTime) {
  GrowableArray<RandomAccessEntry> entries;
  for (LONGLONG time : {0, 1000, 2000, 3000}) entries.Append({time, 0, 1, 1, 1});
  const std::pair<LONGLONG, ULONG> cases[] = {{-5, 0}, {0, 0}, {999, 0}, {1000, 1}, {2500, 2}, {3000, 3}, {99999, 3}};
  for (const auto& [time, index] : cases) EXPECT_EQ(FindRandomAccessEntry(entries, time), index) << time;
}

class FragmentSeekTest : public FragmentTest {
 protected:
  // Two fragments of five samples of 1000 units; the index names both,
  // the second at 9000 with its third sample.
  void SetUp() override {
    BeginFile();
    first_ = AddRuns({SizedRun({1000, 1000, 1000, 1000, 1000})});
    second_ = AddRuns({SizedRun({1000, 1000, 1000, 1000, 1000})});
    Index({{.entries = {{0, static_cast<uint64_t>(first_)}, {9000, static_cast<uint64_t>(second_), 1, 1, 3}}}});
    ASSERT_EQ(Open(), S_OK);
  }

  LONGLONG first_ = 0;
  LONGLONG second_ = 0;
};

TEST_F(FragmentSeekTest, JumpGivesTheTargetSampleTheEntrysTimeAndRestartsAStoppedLoader) {
  trakBox& track = Track();
  EXPECT_NE(track.LoadFragmentsForSample(100), S_OK);
  ASSERT_EQ(track.SelectFragmentForTime(20000), S_OK);
  EXPECT_EQ(track.fragmentScanStatus, S_OK);
  EXPECT_EQ(track.baseMediaTime, 7000);
  EXPECT_EQ(track.sampleTable->sampleCount, 5u);
  EXPECT_EQ(Walk(0, second_)[2], Row(20, 10, 9000));
}

// Loaded: 7000 to 12000; reading forward reaches 5 s (3000 units at
// timescale 600) past that.
TEST_F(FragmentSeekTest, SeeksInsideOrJustPastTheLoadedRunsKeepThem) {
  trakBox& track = Track();
  ASSERT_EQ(track.SelectFragmentForTime(9500), S_OK);
  const DWORD loaded = track.sampleTable->fragmentId;
  for (LONGLONG t : {7000, 11999, 14999}) {
    EXPECT_EQ(track.SelectFragmentForTime(t), S_OK);
    EXPECT_EQ(track.sampleTable->fragmentId, loaded) << t;
  }
  EXPECT_EQ(track.SelectFragmentForTime(6999), S_OK);
  EXPECT_NE(track.sampleTable->fragmentId, loaded);
  EXPECT_EQ(track.baseMediaTime, 0);
}

TEST_F(FragmentTest, SamplesOfEarlierRunsAlsoMoveTheStartBack) {
  BeginFile({1, 2});
  const LONGLONG moof = AddFragment([&](LONGLONG) {
    Traf({.trackId = 2}, {SizedRun({1000})});
    Traf({}, {SizedRun({1000, 1000}), SizedRun({500, 500, 500})});
  });
  Index({{.entries = {{9000, static_cast<uint64_t>(moof), 2, 2, 3}}}});
  ASSERT_EQ(Open(), S_OK);
  ASSERT_EQ(Track().SelectFragmentForTime(9000), S_OK);
  EXPECT_EQ(std::get<2>(Walk()[4]), 9000);
}

TEST_F(FragmentTest, FileWithoutAnIndexKeepsItsTablesOnASeek) {
  BeginFile();
  AddRuns({SizedRun({100, 100})});
  ASSERT_EQ(Open(), S_OK);
  Walk();
  const DWORD loaded = Track().sampleTable->fragmentId;
  EXPECT_EQ(Track().SelectFragmentForTime(1000000), S_OK);
  ASSERT_TRUE(Track().sampleTable);
  EXPECT_EQ(Track().sampleTable->fragmentId, loaded);
}

}  // namespace
