// The fragment loader over fragmented movies built in memory: where runs put
// their chunks, which samples become sync samples, the defaults a run takes,
// how "moov" tables meet the runs, how far a request loads, how errors stop
// loading, and jumps through the random-access index.
#include "fragment_builder.h"

#include "support/memory_source.h"

#include "container/trak_box.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

// (offset, size, start) of one delivered sample.
using Row = std::tuple<LONGLONG, LONGLONG, LONGLONG>;

constexpr uint32_t kSyncFlags = 0x02000000;
constexpr uint32_t kNonSyncFlags = 0x01010000;

class FragmentLoaderTest : public ::testing::Test {
 protected:
  // A file type box and a "moov" of empty tracks with a "trex" each.
  void BeginFile(std::vector<uint32_t> trackIds = {1}, TrexSpec trex = {}) {
    b_.Box("ftyp", [&] { b_.FourCC("iso6").U32(0); });
    std::vector<TrackSpec> tracks;
    std::vector<TrexSpec> trexes;
    for (uint32_t id : trackIds) {
      tracks.push_back(EmptyTrack(id));
      trex.trackId = id;
      trexes.push_back(trex);
    }
    WriteFragmentedMovie(b_, tracks, trexes);
  }

  // A "moof" holding `trafs` followed by an "mdat"; returns the "moof"
  // offset.
  LONGLONG AddFragment(const std::function<void()>& trafs, size_t mediaBytes = 64) {
    const LONGLONG at = static_cast<LONGLONG>(b_.Size());
    b_.Box("moof", [&] {
      b_.FullBox("mfhd", 0, 0, [&] { b_.U32(1); });
      trafs();
    });
    b_.Box("mdat", [&] { b_.Zeros(mediaBytes); });
    return at;
  }

  // Parses as the filter does: ParseFile, then the random-access index.
  void Open() {
    source_ = MemorySource::Create(b_.Data());
    movie_ = ParseMovie(source_.Get());
    ASSERT_EQ(movie_.result, S_OK);
    ASSERT_EQ(movie_.source->FindMovieFragmentRandomAccess(), S_OK);
    ASSERT_TRUE(movie_.source->fragmented);
  }

  trakBox& Track(ULONG index = 0) { return movie_.Track(index); }

  // The delivery loop's walk: load, then look up, sample after sample.
  std::vector<Row> Walk(ULONG index = 0) {
    std::vector<Row> rows;
    trakBox& track = Track(index);
    for (LONGLONG s = 0; s < 1000; ++s) {
      track.LoadFragmentsForSample(s);
      LONGLONG start = 0, end = 0, offset = 0, size = 0;
      LONG units = 0;
      if (track.GetSampleInfo(s, &start, &end, &offset, &size, &units) != S_OK) break;
      rows.emplace_back(offset, size, start);
    }
    return rows;
  }

  // "K" for a sync sample, "." otherwise, over the loaded samples.
  std::string SyncPattern(ULONG index = 0) {
    trakBox& track = Track(index);
    std::string pattern;
    for (LONGLONG s = 0; s < static_cast<LONGLONG>(track.sampleTable->sampleCount); ++s) {
      pattern += track.IsSyncSample(s) ? 'K' : '.';
    }
    return pattern;
  }

  BoxBuilder b_;
  ComPtr<MemorySource> source_;
  ParsedMovie movie_;
};

TEST_F(FragmentLoaderTest, RunDataOffsetCountsFromTheMoofWithoutATfhdBase) {
  BeginFile();
  RunSpec run;
  run.flags = 0x301;
  run.dataOffset = 200;
  run.samples = {{100, 30, 0}, {100, 40, 0}};
  const LONGLONG moof = AddFragment([&] { WriteTraf(b_, {1}, {run}); });
  Open();
  EXPECT_EQ(Walk(), (std::vector<Row>{{moof + 200, 30, 0}, {moof + 230, 40, 100}}));
}

TEST_F(FragmentLoaderTest, EachRunIsAChunkStartingWhereItsDataOffsetOrThePreviousRunSays) {
  struct Case {
    const char* name;
    uint32_t runFlags;
    int32_t firstOffset;
    int32_t secondOffset;
    LONGLONG secondChunk;
  };
  // The "tfhd" base is 5000; two samples of 10 bytes per run.
  const Case cases[] = {
      {"without data offsets the second run follows the first", 0x300, 0, 0, 5020},
      {"with data offsets each run starts at base + its own", 0x301, 100, 300, 5300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    b_ = BoxBuilder();
    BeginFile();
    RunSpec first = SizedRun({1, 1});
    RunSpec second = SizedRun({1, 1});
    first.flags = second.flags = c.runFlags;
    first.dataOffset = c.firstOffset;
    second.dataOffset = c.secondOffset;
    AddFragment([&] { WriteTraf(b_, {.trackId = 1, .flags = 0x01, .baseDataOffset = 5000}, {first, second}); });
    Open();
    Walk();
    const trakFragment& table = *Track().sampleTable;
    ASSERT_EQ(table.chunkOffsets.Count(), 2u);
    EXPECT_EQ(table.chunkOffsets[0], static_cast<ULONGLONG>(5000 + c.firstOffset));
    EXPECT_EQ(table.chunkOffsets[1], static_cast<ULONGLONG>(c.secondChunk));
    EXPECT_EQ(table.sampleToChunk.Count(), 2u);
    EXPECT_EQ(table.sampleToChunk[1].firstChunk, 2u);
  }
}

TEST_F(FragmentLoaderTest, OnlyARunsFirstSampleCanBeASyncSample) {
  struct Case {
    uint32_t firstSampleFlags;
    const char* pattern;
  };
  // The first run always starts on a sync sample so that the sync table is
  // never empty (which would make every sample a sync sample); every other
  // sample carries sync flags that must not count.
  const Case cases[] = {
      {kSyncFlags, "K.K."},
      {0, "K.K."},
      {kNonSyncFlags, "K..."},
      {0x00010000, "K..."},   // non-sync bit
      {0x01000000, "K..."},   // depends on others
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.firstSampleFlags);
    b_ = BoxBuilder();
    BeginFile({1}, {.duration = 10, .size = 4, .flags = kSyncFlags});
    RunSpec first;
    first.flags = 0x004;
    first.firstSampleFlags = kSyncFlags;
    first.samples.resize(2);
    RunSpec second = first;
    second.firstSampleFlags = c.firstSampleFlags;
    AddFragment([&] { WriteTraf(b_, {1}, {first, second}); });
    Open();
    Walk();
    EXPECT_EQ(SyncPattern(), c.pattern);
  }
}

TEST_F(FragmentLoaderTest, EqualDurationsShareATimeToSampleEntry) {
  BeginFile();
  AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({1000, 1000, 1000, 500})}); });
  Open();
  const std::vector<Row> rows = Walk();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(std::get<2>(rows[3]), 3000);
  const GrowableArray<TimeToSampleEntry>& stts = Track().sampleTable->timeToSample;
  ASSERT_EQ(stts.Count(), 2u);
  EXPECT_EQ(std::make_pair(stts[0].count, stts[0].sampleDelta), std::make_pair(3u, 1000));
  EXPECT_EQ(std::make_pair(stts[1].count, stts[1].sampleDelta), std::make_pair(1u, 500));
  EXPECT_EQ(Track().GetTotalDuration(), 3500);
}

TEST_F(FragmentLoaderTest, RunDefaultsComeFromTrexThenTfhd) {
  struct Case {
    const char* name;
    TfhdSpec tfhd;
    LONGLONG size;
    LONGLONG secondStart;
  };
  const Case cases[] = {
      {"trex alone", {.trackId = 1}, 7, 100},
      {"tfhd duration and size", {.trackId = 1, .flags = 0x18, .duration = 200, .size = 9}, 9, 200},
      {"tfhd duration-is-empty", {.trackId = 1, .flags = 0x010000}, 7, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    b_ = BoxBuilder();
    BeginFile({1}, {.duration = 100, .size = 7});
    RunSpec run;
    run.samples.resize(2);
    const LONGLONG moof = AddFragment([&] { WriteTraf(b_, c.tfhd, {run}); });
    Open();
    EXPECT_EQ(Walk(), (std::vector<Row>{{moof, c.size, 0}, {moof + c.size, c.size, c.secondStart}}));
  }
}

TEST_F(FragmentLoaderTest, TrafOfAnotherTrackIsSteppedOverWhole) {
  BeginFile({1, 2});
  RunSpec other = SizedRun({5, 5, 5});
  RunSpec ours = SizedRun({5, 5});
  ours.flags |= 0x001;
  ours.dataOffset = 100;
  const LONGLONG moof = AddFragment([&] {
    // Its explicit base must not move track 1's data either.
    WriteTraf(b_, {.trackId = 2, .flags = 0x01, .baseDataOffset = 9999}, {other});
    WriteTraf(b_, {1}, {ours});
  });
  Open();
  EXPECT_EQ(Walk(0), (std::vector<Row>{{moof + 100, 10, 0}, {moof + 110, 10, 5}}));
  EXPECT_EQ(Walk(1).size(), 3u);
}

TEST_F(FragmentLoaderTest, EmptyRunAddsNoChunk) {
  BeginFile();
  RunSpec empty;
  empty.flags = 0x301;
  const LONGLONG moof = AddFragment([&] { WriteTraf(b_, {1}, {empty, SizedRun({1, 1})}); });
  Open();
  EXPECT_EQ(Walk(), (std::vector<Row>{{moof, 10, 0}, {moof + 10, 10, 1}}));
  EXPECT_EQ(Track().sampleTable->sampleToChunk.Count(), 1u);
}

TEST_F(FragmentLoaderTest, ShortRunKeepsItsFirstSamplesAndStopsLoadingForGood) {
  BeginFile();
  RunSpec run = SizedRun({1, 1});
  run.declaredCount = 4;
  AddFragment([&] { WriteTraf(b_, {1}, {run}); });
  AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({1, 1})}); });
  Open();
  EXPECT_EQ(Walk().size(), 2u);
  EXPECT_EQ(Track().fragmentScanStatus, STG_E_INVALIDHEADER);
  const size_t reads = source_->ReadCount();
  EXPECT_EQ(Track().LoadFragmentsForSample(4), STG_E_INVALIDHEADER);
  EXPECT_EQ(Track().LoadFragmentsForTime(100), STG_E_INVALIDHEADER);
  EXPECT_EQ(source_->ReadCount(), reads);
}

TEST_F(FragmentLoaderTest, RunClaimingMoreSamplesThanTheFileHasBytesIsRefused) {
  BeginFile({1}, {.duration = 1, .size = 1});
  RunSpec run;
  run.declaredCount = 0xFFFFFFF0;
  AddFragment([&] { WriteTraf(b_, {1}, {run}); });
  Open();
  EXPECT_EQ(Track().LoadFragmentsForSample(0), STG_E_INVALIDHEADER);
  EXPECT_TRUE(Walk().empty());
}

TEST_F(FragmentLoaderTest, MoovSamplesStayInFrontOfTheRuns) {
  b_.Box("ftyp", [&] { b_.FourCC("iso6").U32(0); });
  // Two samples of constant size 50 in two chunks of one entry, no sync
  // table: all sync.
  TrackSpec track = EmptyTrack(1);
  track.stts = {{2, 100}};
  track.stsc = {{1, 1, 1}};
  track.constantSize = 50;
  track.constantCount = 2;
  track.chunkOffsets = {3000, 3050};
  WriteFragmentedMovie(b_, {track}, {{.trackId = 1}});
  RunSpec run = SizedRun({100, 100});
  run.flags |= 0x005;
  run.dataOffset = 8;
  run.firstSampleFlags = kNonSyncFlags;
  const LONGLONG moof = AddFragment([&] { WriteTraf(b_, {1}, {run}); });
  Open();
  const std::vector<Row> expected = {{3000, 50, 0}, {3050, 50, 100}, {moof + 8, 10, 200}, {moof + 18, 10, 300}};
  EXPECT_EQ(Walk(), expected);
  // Again over the grown tables, as after a seek back to the start.
  EXPECT_EQ(Walk(), expected);
  EXPECT_EQ(SyncPattern(), "KK..");
  EXPECT_EQ(Track().sampleTable->sampleToChunk.Last().firstChunk, 3u);
}

TEST_F(FragmentLoaderTest, RequestsLoadOnlyTheFragmentsTheyNeed) {
  struct Case {
    const char* name;
    bool byTime;
    LONGLONG request;
    DWORD loadedSamples;
  };
  // Two fragments of two samples of 100 units each.
  const Case cases[] = {
      {"first sample", false, 0, 2},      {"last sample of the first", false, 1, 2},
      {"first of the second", false, 2, 4}, {"a time inside the first", true, 150, 2},
      {"the end of the first", true, 200, 4}, {"a time before the start", true, -5, 0},
      {"a negative sample", false, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    b_ = BoxBuilder();
    BeginFile();
    AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({100, 100})}); });
    AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({100, 100})}); });
    Open();
    const HRESULT hr = c.byTime ? Track().LoadFragmentsForTime(c.request) : Track().LoadFragmentsForSample(c.request);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Track().sampleTable->sampleCount, c.loadedSamples);
  }
}

// The lookups cache where the last sample was found; runs appended after a
// lookup ran past the end must still be found where they are.
TEST_F(FragmentLoaderTest, LookupsPastTheEndStayRightOnceRunsAreAppended) {
  BeginFile();
  const LONGLONG first = AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({100, 100})}); });
  const LONGLONG second = AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({100, 50}, 20)}); });
  Open();
  trakBox& track = Track();
  ASSERT_EQ(track.LoadFragmentsForSample(0), S_OK);
  LONGLONG start = 0, end = 0, offset = 0, size = 0;
  LONG units = 0;
  ASSERT_EQ(track.GetSampleInfo(1, &start, &end, &offset, &size, &units), S_OK);
  EXPECT_EQ(track.GetSampleInfo(2, &start, &end, &offset, &size, &units), S_FALSE);
  ASSERT_EQ(track.SampleNumberToTime(3, &start, &end, 1), S_OK);
  ASSERT_EQ(track.LoadFragmentsForSample(3), S_OK);
  const Row expected[] = {{second, 20, 200}, {second + 20, 20, 300}};
  for (LONGLONG s = 2; s < 4; ++s) {
    ASSERT_EQ(track.GetSampleInfo(s, &start, &end, &offset, &size, &units), S_OK);
    EXPECT_EQ(Row(offset, size, start), expected[s - 2]) << "sample " << s;
  }
  EXPECT_EQ(end, 350);
  ASSERT_EQ(track.GetSampleInfo(0, &start, &end, &offset, &size, &units), S_OK);
  EXPECT_EQ(Row(offset, size, start), Row(first, 10, 0));
}

class FragmentSeekTest : public FragmentLoaderTest {
 protected:
  // Two fragments of five samples of 1000 units; the index names both.
  void BuildIndexedFile(TfraEntry late) {
    BeginFile({1});
    first_ = AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({1000, 1000, 1000, 1000, 1000})}); });
    second_ = AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({1000, 1000, 1000, 1000, 1000})}); });
    late.moofOffset = static_cast<uint64_t>(second_);
    WriteMfra(b_, {TrackIndex(1, {{0, static_cast<uint64_t>(first_)}, late})});
    Open();
  }

  LONGLONG first_ = 0;
  LONGLONG second_ = 0;
};

TEST_F(FragmentSeekTest, JumpGivesTheTargetSampleTheEntrysTime) {
  BuildIndexedFile({.time = 9000, .sample = 3});
  trakBox& track = Track();
  ASSERT_EQ(track.SelectFragmentForTime(9500), S_OK);
  EXPECT_EQ(track.baseMediaTime, 7000);
  EXPECT_EQ(track.sampleTable->sampleCount, 5u);
  LONGLONG start = 0, end = 0, offset = 0, size = 0;
  LONG units = 0;
  ASSERT_EQ(track.GetSampleInfo(2, &start, &end, &offset, &size, &units), S_OK);
  EXPECT_EQ(start, 9000);
  EXPECT_EQ(offset, second_ + 20);
}

TEST_F(FragmentSeekTest, SeeksInsideOrJustPastTheLoadedRunsKeepThem) {
  BuildIndexedFile({.time = 9000, .sample = 3});
  trakBox& track = Track();
  ASSERT_EQ(track.SelectFragmentForTime(9500), S_OK);
  const DWORD loaded = track.sampleTable->fragmentId;
  // Loaded: 7000 to 12000; reading forward reaches 5 s (3000 units at
  // timescale 600) past that.
  for (LONGLONG t : {7000, 11999, 14999}) {
    EXPECT_EQ(track.SelectFragmentForTime(t), S_OK);
    EXPECT_EQ(track.sampleTable->fragmentId, loaded) << t;
  }
  EXPECT_EQ(track.SelectFragmentForTime(6999), S_OK);
  EXPECT_NE(track.sampleTable->fragmentId, loaded);
  EXPECT_EQ(track.baseMediaTime, 0);
}

TEST_F(FragmentSeekTest, JumpRestartsALoaderThatHadStopped) {
  BuildIndexedFile({.time = 9000, .sample = 3});
  trakBox& track = Track();
  EXPECT_NE(track.LoadFragmentsForSample(100), S_OK);
  ASSERT_EQ(track.SelectFragmentForTime(20000), S_OK);
  EXPECT_EQ(track.fragmentScanStatus, S_OK);
  EXPECT_EQ(track.baseMediaTime, 7000);
}

TEST_F(FragmentSeekTest, SamplesOfEarlierRunsAlsoMoveTheStartBack) {
  BeginFile({1, 2});
  const LONGLONG moof = AddFragment([&] {
    WriteTraf(b_, {2}, {SizedRun({1000})});
    WriteTraf(b_, {1}, {SizedRun({1000, 1000}), SizedRun({500, 500, 500})});
  });
  WriteMfra(b_, {TrackIndex(1, {{.time = 9000, .moofOffset = static_cast<uint64_t>(moof), .traf = 2, .trun = 2,
                                  .sample = 3}})});
  Open();
  trakBox& track = Track(0);
  ASSERT_EQ(track.SelectFragmentForTime(9000), S_OK);
  LONGLONG start = 0, end = 0;
  ASSERT_EQ(track.SampleNumberToTime(4, &start, &end, 1), S_OK);
  EXPECT_EQ(start, 9000);
}

TEST_F(FragmentLoaderTest, FileWithoutAnIndexKeepsItsTablesOnASeek) {
  BeginFile();
  AddFragment([&] { WriteTraf(b_, {1}, {SizedRun({100, 100})}); });
  Open();
  Walk();
  const DWORD loaded = Track().sampleTable->fragmentId;
  EXPECT_EQ(Track().SelectFragmentForTime(1000000), S_OK);
  ASSERT_TRUE(Track().sampleTable);
  EXPECT_EQ(Track().sampleTable->fragmentId, loaded);
}

TEST(FragmentedTimeConversionTest, FragmentedTracksCountInFixedSampleDurations) {
  struct Case {
    LONGLONG fixedDuration;
    LONGLONG sample;
    LONGLONG sampleTime;
    LONGLONG referenceTime;
    LONGLONG sampleAtReferenceTime;
  };
  const Case cases[] = {
      {400000, 3, 1200000, 1000000, 2},
      {400000, 0, 0, -1000000, -2},
      {0, 5, 0, 1000000, 0},
  };
  auto source = MemorySource::Create({});
  Box header;
  for (const Case& c : cases) {
    trakBox track(header, source.Get());
    track.isFragmented = 1;
    track.fixedSampleDuration = c.fixedDuration;
    LONGLONG start = -1, end = -1, sample = -1;
    ASSERT_EQ(track.SampleNumberToReferenceTimes(c.sample, &start, &end), S_OK);
    EXPECT_EQ(start, c.sampleTime);
    EXPECT_EQ(end, c.sampleTime);
    ASSERT_EQ(track.SampleNumberAtReferenceTime(c.referenceTime, &sample), S_OK);
    EXPECT_EQ(sample, c.sampleAtReferenceTime);
  }
}

}  // namespace
