// The random-access index at the end of a fragmented file: "mfro" and
// "mfra", the variable field widths of "tfra", sorting, entries that do not
// point at a fragment, hostile counts, and the search a seek makes.
#include "fragment_builder.h"

#include "support/memory_source.h"

#include "container/random_access_index.h"
#include "container/trak_box.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class RandomAccessIndexTest : public ::testing::Test {
 protected:
  // A fragmented movie of tracks 1 and 2 with one fragment; the index is
  // added by the test.
  RandomAccessIndexTest() {
    b_.Box("ftyp", [&] { b_.FourCC("iso6").U32(0); });
    WriteFragmentedMovie(b_, {EmptyTrack(1), EmptyTrack(2)}, {{.trackId = 1}, {.trackId = 2}});
    moof_ = b_.Size();
    b_.Box("moof", [&] { WriteTraf(b_, {1}, {SizedRun({1, 1})}); });
    b_.Box("mdat", [&] { b_.Zeros(20); });
  }

  HRESULT Open() {
    source_ = MemorySource::Create(b_.Data());
    movie_ = ParseMovie(source_.Get());
    EXPECT_EQ(movie_.result, S_OK);
    return movie_.source->FindMovieFragmentRandomAccess();
  }

  std::vector<LONGLONG> IndexTimes(ULONG track = 0) {
    std::vector<LONGLONG> times;
    const GrowableArray<RandomAccessEntry>& entries = movie_.Track(track).randomAccessEntries;
    for (ULONG i = 0; i < entries.Count(); ++i) times.push_back(entries[i].time);
    return times;
  }

  BoxBuilder b_;
  uint64_t moof_ = 0;
  ComPtr<MemorySource> source_;
  ParsedMovie movie_;
};

TEST_F(RandomAccessIndexTest, FieldsOfEveryWidthAndVersionAreRead) {
  struct Case {
    uint8_t version;
    TfraWidths widths;
    uint64_t time;
  };
  const Case cases[] = {
      {0, {1, 1, 1}, 0xFFFFFFF0},
      {1, {4, 4, 4}, 0x100000007},
      {1, {2, 3, 1}, 42},
      {0, {3, 1, 4}, 42},
  };
  // The largest number each width holds, so that a byte too few or too
  // many shows.
  auto largest = [](int width) { return static_cast<uint32_t>((uint64_t{1} << (8 * width)) - 2); };
  const BoxBuilder base = b_;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << int(c.version) << " widths " << c.widths.traf
                                    << c.widths.trun << c.widths.sample);
    b_ = base;
    TfraSpec tfra = TrackIndex(1, {{c.time, moof_, largest(c.widths.traf), largest(c.widths.trun),
                                    largest(c.widths.sample)}});
    tfra.version = c.version;
    tfra.widths = c.widths;
    // A second entry proves the first was consumed to its last byte.
    tfra.entries.push_back({c.time + 1, moof_, 1, 2, 3});
    WriteMfra(b_, {tfra});
    ASSERT_EQ(Open(), S_OK);
    const GrowableArray<RandomAccessEntry>& entries = movie_.Track(0).randomAccessEntries;
    ASSERT_EQ(entries.Count(), 2u);
    EXPECT_EQ(entries[0].time, static_cast<LONGLONG>(c.time));
    EXPECT_EQ(entries[0].fragmentOffset, static_cast<LONGLONG>(moof_));
    EXPECT_EQ(entries[0].trafNumber, largest(c.widths.traf));
    EXPECT_EQ(entries[0].trunNumber, largest(c.widths.trun));
    EXPECT_EQ(entries[0].sampleNumber, largest(c.widths.sample));
    EXPECT_EQ(entries[1].time, static_cast<LONGLONG>(c.time + 1));
    EXPECT_EQ(entries[1].sampleNumber, 3u);
  }
}

TEST_F(RandomAccessIndexTest, EntriesAreSortedByTime) {
  WriteMfra(b_, {TrackIndex(1, {{3000, moof_}, {1000, moof_}, {2000, moof_}})});
  ASSERT_EQ(Open(), S_OK);
  EXPECT_EQ(IndexTimes(), (std::vector<LONGLONG>{1000, 2000, 3000}));
}

TEST_F(RandomAccessIndexTest, EntriesThatDoNotPointAtAMoofAreDropped) {
  WriteMfra(b_, {TrackIndex(1, {{0, moof_}, {1000, 0}, {2000, moof_ + 8}, {3000, 1u << 30}})});
  ASSERT_EQ(Open(), S_OK);
  EXPECT_EQ(IndexTimes(), std::vector<LONGLONG>{0});
}

TEST_F(RandomAccessIndexTest, CountLargerThanTheBoxFailsBeforeAllocating) {
  TfraSpec tfra = TrackIndex(1, {{0, moof_}});
  tfra.declaredCount = 0x10000000;
  WriteMfra(b_, {tfra});
  EXPECT_EQ(Open(), STG_E_INVALIDHEADER);
  EXPECT_TRUE(IndexTimes().empty());
}

TEST_F(RandomAccessIndexTest, IndexOfAnUnknownTrackIsSteppedOver) {
  WriteMfra(b_, {TrackIndex(9, {{5, moof_}}), TrackIndex(2, {{7, moof_}})});
  ASSERT_EQ(Open(), S_OK);
  EXPECT_TRUE(IndexTimes(0).empty());
  EXPECT_EQ(IndexTimes(1), std::vector<LONGLONG>{7});
}

TEST_F(RandomAccessIndexTest, FileWithoutAnIndexHasNone) {
  struct Case {
    const char* name;
    std::function<void(BoxBuilder&)> tail;
  };
  const Case cases[] = {
      {"no mfro at the end", [](BoxBuilder& b) { b.Box("free", [&] { b.Zeros(16); }); }},
      {"mfro sized past the start of the file",
       [](BoxBuilder& b) { b.FullBox("mfro", 0, 0, [&] { b.U32(0x7FFFFFF0); }); }},
      {"mfro pointing at another box", [](BoxBuilder& b) { b.FullBox("mfro", 0, 0, [&] { b.U32(24); }); }},
  };
  const BoxBuilder base = b_;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    b_ = base;
    c.tail(b_);
    EXPECT_EQ(Open(), S_OK);
    EXPECT_TRUE(IndexTimes().empty());
  }
}

TEST(FindRandomAccessEntryTest, PicksTheLastEntryStartingAtOrBeforeTheTime) {
  GrowableArray<RandomAccessEntry> entries;
  for (LONGLONG time : {0, 1000, 2000, 3000}) entries.Append({time, 0, 1, 1, 1});
  const std::pair<LONGLONG, ULONG> cases[] = {
      {-5, 0}, {0, 0}, {999, 0}, {1000, 1}, {2500, 2}, {3000, 3}, {99999, 3},
  };
  for (const auto& [time, index] : cases) EXPECT_EQ(FindRandomAccessEntry(entries, time), index) << time;
}

}  // namespace
