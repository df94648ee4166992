// The "stbl" handlers: how each table box lands in the track's table set,
// the derived totals, and the size checks that come before any allocation.
#include "support/box_builder.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"

#include "container/trak_box.h"
#include "diagnostics/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Parses one track whose "stbl" holds what `body` writes.
ParsedMovie ParseSampleTable(const BoxBuilder::Body& body, BoxBuilder* keep = nullptr) {
  BoxBuilder local;
  BoxBuilder& b = keep != nullptr ? *keep : local;
  b.Box("moov", [&] { WriteTrackWithSampleTable(b, 1, body); });
  return ParseMovie(b);
}

template <class T>
std::vector<T> Entries(const GrowableArray<T>& table) {
  return std::vector<T>(table.Data(), table.Data() + table.Count());
}

std::vector<std::pair<DWORD, LONG>> TimeToSample(const trakFragment& table) {
  std::vector<std::pair<DWORD, LONG>> entries;
  for (const TimeToSampleEntry& entry : Entries(table.timeToSample))
    entries.emplace_back(entry.count, entry.sampleDelta);
  return entries;
}

class SampleTableTest : public ::testing::Test {
 protected:
  BoxBuilder b;

  void Stts(std::initializer_list<std::pair<uint32_t, int32_t>> entries) {
    b.FullBox("stts", 0, 0, [&] {
      b.U32(static_cast<uint32_t>(entries.size()));
      for (const auto& [count, delta] : entries) b.U32(count).I32(delta);
    });
  }
  void Stsc() {
    b.FullBox("stsc", 0, 0, [&] { b.U32(1).U32(1).U32(2).U32(1); });
  }
  void Stsz(std::initializer_list<uint32_t> sizes) {
    b.FullBox("stsz", 0, 0, [&] {
      b.U32(0).U32(static_cast<uint32_t>(sizes.size()));
      for (uint32_t size : sizes) b.U32(size);
    });
  }
  void Stco(std::initializer_list<uint32_t> offsets) {
    b.FullBox("stco", 0, 0, [&] {
      b.U32(static_cast<uint32_t>(offsets.size()));
      for (uint32_t offset : offsets) b.U32(offset);
    });
  }
  void Stz2(uint8_t fieldSize, uint32_t count, std::initializer_list<uint8_t> bytes) {
    b.FullBox("stz2", 0, 0, [&] { b.U24(0).U8(fieldSize).U32(count).Bytes(bytes); });
  }
};

TEST_F(SampleTableTest, TablesInAnyOrderLoadTheSame) {
  const ParsedMovie first = ParseSampleTable(
      [&] {
        b.FullBox("stts", 0, 0, [&] { b.U32(1).U32(2).U32(50); });
        b.FullBox("stsc", 0, 0, [&] { b.U32(1).U32(1).U32(2).U32(1); });
        b.FullBox("stsz", 0, 0, [&] { b.U32(0).U32(2).U32(10).U32(20); });
        b.FullBox("stco", 0, 0, [&] { b.U32(1).U32(4000); });
      },
      &b);
  BoxBuilder reordered;
  const ParsedMovie second = ParseSampleTable(
      [&] {
        reordered.FullBox("stco", 0, 0, [&] { reordered.U32(1).U32(4000); });
        reordered.FullBox("stsz", 0, 0, [&] { reordered.U32(0).U32(2).U32(10).U32(20); });
        reordered.FullBox("stsc", 0, 0, [&] { reordered.U32(1).U32(1).U32(2).U32(1); });
        reordered.FullBox("stts", 0, 0, [&] { reordered.U32(1).U32(2).U32(50); });
      },
      &reordered);
  ASSERT_EQ(first.result, S_OK);
  ASSERT_EQ(second.result, S_OK);
  for (const ParsedMovie* movie : {&first, &second}) {
    const trakFragment& table = *movie->Track(0).sampleTable;
    EXPECT_EQ(Entries(table.sampleSizes), (std::vector<DWORD>{10, 20}));
    EXPECT_EQ(Entries(table.chunkOffsets), std::vector<ULONGLONG>{4000});
    EXPECT_EQ(table.sampleToChunk.Count(), 1u);
    EXPECT_EQ(table.sampleCount, 2u);
    EXPECT_EQ(table.totalDuration, 100);
  }
}

TEST_F(SampleTableTest, ConstantSampleSizeKeepsNoSizeTableAndCountsFromStts) {
  const ParsedMovie movie = ParseSampleTable(
      [&] {
        Stts({{7, 1}});
        b.FullBox("stsz", 0, 0, [&] { b.U32(1200).U32(500); });
      },
      &b);
  ASSERT_EQ(movie.result, S_OK);
  const trakFragment& table = *movie.Track(0).sampleTable;
  EXPECT_EQ(table.constantSampleSize, 1200u);
  EXPECT_TRUE(table.sampleSizes.Empty());
  EXPECT_EQ(table.sampleCount, 7u);
}

TEST_F(SampleTableTest, DominantDeltaRules) {
  struct Case {
    std::string name;
    std::vector<std::pair<uint32_t, int32_t>> stts;
    LONGLONG defaultDelta;
  };
  const Case cases[] = {
      {"most samples win across split runs", {{10, 1000}, {1, 500}, {10, 1000}}, 1000},
      {"best total below half the entries gives none", {{1, 100}, {1, 200}, {1, 300}, {1, 400}}, 0},
      {"larger total wins", {{3, 100}, {2, 200}}, 100},
      {"tie keeps the earlier delta", {{2, 100}, {2, 200}}, 100},
      {"later delta with more samples wins", {{1, 100}, {5, 200}}, 200},
      {"counted from its later runs too", {{2, 100}, {3, 200}, {2, 100}, {2, 100}}, 100},
      {"non-positive deltas never count", {{9, 0}, {1, 40}}, 40},
      {"a single entry is its own default", {{1, 33}}, 33},
  };
  for (const Case& c : cases) {
    BoxBuilder local;
    const ParsedMovie movie = ParseSampleTable(
        [&] {
          local.FullBox("stts", 0, 0, [&] {
            local.U32(static_cast<uint32_t>(c.stts.size()));
            for (const auto& [count, delta] : c.stts) local.U32(count).I32(delta);
          });
        },
        &local);
    ASSERT_EQ(movie.result, S_OK) << c.name;
    EXPECT_EQ(movie.Track(0).defaultSampleDelta, c.defaultDelta) << c.name;
  }
}

TEST_F(SampleTableTest, NegativeDeltaThatDrivesTotalNegativeIsStoredAsZero) {
  const ParsedMovie movie = ParseSampleTable([&] { Stts({{5, -10}, {2, 30}, {1, -20}}); }, &b);
  ASSERT_EQ(movie.result, S_OK);
  const trakFragment& table = *movie.Track(0).sampleTable;
  // The first drives the total below zero; the last only lowers it.
  EXPECT_EQ(TimeToSample(table), (std::vector<std::pair<DWORD, LONG>>{{5, 0}, {2, 30}, {1, -20}}));
  EXPECT_EQ(table.totalDuration, 40);
  EXPECT_EQ(table.sampleCount, 8u);
}

TEST_F(SampleTableTest, RepeatedSttsReplacesEntriesButKeepsAccumulatingTotals) {
  const ParsedMovie movie = ParseSampleTable(
      [&] {
        Stts({{2, 10}});
        Stts({{3, 5}});
      },
      &b);
  ASSERT_EQ(movie.result, S_OK);
  const trakFragment& table = *movie.Track(0).sampleTable;
  EXPECT_EQ(TimeToSample(table), (std::vector<std::pair<DWORD, LONG>>{{3, 5}}));
  EXPECT_EQ(table.sampleCount, 5u);
  EXPECT_EQ(table.totalDuration, 35);
}

TEST_F(SampleTableTest, CompactSizesUnpackPerFieldWidth) {
  struct Case {
    uint8_t fieldSize;
    uint32_t count;
    std::vector<uint8_t> bytes;
    std::vector<DWORD> sizes;
  };
  const Case cases[] = {
      {4, 3, {0x12, 0x30}, {1, 2, 3}},
      {4, 4, {0xAB, 0xCD}, {10, 11, 12, 13}},
      {8, 3, {7, 0, 255}, {7, 0, 255}},
      {16, 2, {0x01, 0x02, 0xFF, 0xFE}, {0x0102, 0xFFFE}},
  };
  for (const Case& c : cases) {
    BoxBuilder local;
    const ParsedMovie movie = ParseSampleTable(
        [&] { local.FullBox("stz2", 0, 0, [&] { local.U24(0).U8(c.fieldSize).U32(c.count).Bytes(c.bytes); }); },
        &local);
    ASSERT_EQ(movie.result, S_OK) << int(c.fieldSize);
    const trakFragment& table = *movie.Track(0).sampleTable;
    EXPECT_EQ(Entries(table.sampleSizes), c.sizes) << int(c.fieldSize);
    EXPECT_EQ(table.constantSampleSize, 0u);
  }
}

TEST_F(SampleTableTest, CompactSizesRefuseOddFieldSizeAndEmptyCount) {
  EXPECT_EQ(ParseSampleTable([&] { Stz2(12, 2, {1, 2, 3}); }, &b).result, VFW_E_INVALID_FILE_FORMAT);
  BoxBuilder empty;
  EXPECT_EQ(ParseSampleTable([&] { empty.FullBox("stz2", 0, 0, [&] { empty.U24(0).U8(8).U32(0); }); }, &empty).result,
            VFW_E_INVALID_FILE_FORMAT);
}

TEST_F(SampleTableTest, ChunkOffsetsKeepAllSixtyFourBits) {
  const ParsedMovie wide =
      ParseSampleTable([&] { b.FullBox("co64", 0, 0, [&] { b.U32(2).U64(0x123456789ull).U64(8); }); }, &b);
  ASSERT_EQ(wide.result, S_OK);
  EXPECT_EQ(Entries(wide.Track(0).sampleTable->chunkOffsets), (std::vector<ULONGLONG>{0x123456789ull, 8}));

  BoxBuilder narrow;
  const ParsedMovie widened =
      ParseSampleTable([&] { narrow.FullBox("stco", 0, 0, [&] { narrow.U32(1).U32(0xFFFFFFF0); }); }, &narrow);
  ASSERT_EQ(widened.result, S_OK);
  EXPECT_EQ(Entries(widened.Track(0).sampleTable->chunkOffsets), std::vector<ULONGLONG>{0xFFFFFFF0ull});
}

TEST_F(SampleTableTest, EmptySyncTableAndSkippedCompositionOffsetsChangeNothing) {
  const ParsedMovie movie = ParseSampleTable(
      [&] {
        Stts({{2, 10}});
        b.FullBox("ctts", 0, 0, [&] { b.U32(1).U32(2).U32(99); });
        b.FullBox("stss", 0, 0, [&] { b.U32(0); });
      },
      &b);
  ASSERT_EQ(movie.result, S_OK);
  trakBox& track = movie.Track(0);
  EXPECT_TRUE(track.sampleTable->syncSamples.Empty());
  EXPECT_EQ(TimeToSample(*track.sampleTable), (std::vector<std::pair<DWORD, LONG>>{{2, 10}}));
  EXPECT_TRUE(track.IsSyncSample(1));
}

TEST_F(SampleTableTest, TableBoxRunningPastStblFailsBeforeItsEntries) {
  // "stsz" declares more than "stbl" holds.
  const ParsedMovie movie = ParseSampleTable(
      [&] {
        Stts({{3, 1}});
        b.FullBox(BoxSize::Forced(200), "stsz", 0, 0, [&] { b.U32(0).U32(3).U32(1).U32(2).U32(3); });
      },
      &b);
  EXPECT_EQ(movie.result, VFW_E_INVALID_FILE_FORMAT);
}

// A count from the file is checked against the bytes its box holds before
// the table is sized by it.
TEST_F(SampleTableTest, CountLargerThanItsBoxFailsWithoutAllocating) {
  struct Case {
    const char* type;
    std::function<void(BoxBuilder&)> body;
  };
  const Case cases[] = {
      {"stts", [](BoxBuilder& x) { x.U32(0x10000000).U32(1).U32(1); }},
      {"stsc", [](BoxBuilder& x) { x.U32(0x10000000).U32(1).U32(1).U32(1); }},
      // 0x40000001 × 4 wraps to 4 in 32 bits: the check must not.
      {"stsz", [](BoxBuilder& x) { x.U32(0).U32(0x40000001).U32(7); }},
      {"stco", [](BoxBuilder& x) { x.U32(0xFFFFFFFF).U32(1); }},
      {"co64", [](BoxBuilder& x) { x.U32(0x20000000).U64(1); }},
      {"stss", [](BoxBuilder& x) { x.U32(3).U32(1).U32(2); }},
      {"stz2", [](BoxBuilder& x) { x.U24(0).U8(4).U32(5).U8(0x11).U8(0x11); }},
  };
  for (const Case& c : cases) {
    BoxBuilder local;
    char type[5];
    std::copy(c.type, c.type + 5, type);
    const ParsedMovie movie = ParseSampleTable([&] { local.FullBox(type, 0, 0, [&] { c.body(local); }); }, &local);
    EXPECT_EQ(movie.result, STG_E_INVALIDHEADER) << c.type;
    EXPECT_EQ(movie.source->TrackCount(), 0u) << c.type;
  }
}

TEST_F(SampleTableTest, TableThatFitsItsBoxButNotTheSourceIsNotAllocated) {
  // Every box claims far more than the file holds; the table count fits the
  // claimed box. Nothing is sized for it and the parse ends as a short read.
  b.Box(BoxSize::Forced(0x7FFFFFF0), "moov", [&] {
    b.Box(BoxSize::Forced(0x7FFFFF00), "trak", [&] {
      b.Box(BoxSize::Forced(0x7FFFF000), "mdia", [&] {
        b.Box(BoxSize::Forced(0x7FFF0000), "minf", [&] {
          b.Box(BoxSize::Forced(0x7FF00000), "stbl",
                [&] { b.FullBox(BoxSize::Forced(0x7F000000), "stsz", 0, 0, [&] { b.U32(0).U32(0x1F000000); }); });
        });
      });
    });
  });
  const ParsedMovie movie = ParseMovie(b);
  EXPECT_EQ(movie.result, S_FALSE);
  EXPECT_EQ(movie.source->TrackCount(), 0u);
}

TEST_F(SampleTableTest, SampleDescriptionCountOtherThanOneGivesNoEntry) {
  std::string trace;
  SetTraceCaptureForTesting(&trace);
  const ParsedMovie movie = ParseSampleTable(
      [&] {
        b.FullBox("stsd", 0, 0, [&] {
          b.U32(2);
          b.Box("avc1", [&] { b.Zeros(8); });
          b.Box("mp4v", [&] { b.Zeros(8); });
        });
      },
      &b);
  SetTraceCaptureForTesting(nullptr);
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_FALSE(movie.Track(0).hasSampleEntry);
  EXPECT_FALSE(movie.Track(0).sampleEntry);
  EXPECT_NE(trace.find("\nDAREdo: Cannot handle tracks with more than one sample type!"), std::string::npos);
}

TEST_F(SampleTableTest, SampleDescriptionWithoutEntryDataGivesNoEntry) {
  std::string trace;
  SetTraceCaptureForTesting(&trace);
  const ParsedMovie movie = ParseSampleTable([&] { b.FullBox("stsd", 0, 0, [&] { b.U32(1); }); }, &b);
  SetTraceCaptureForTesting(nullptr);
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_FALSE(movie.Track(0).sampleEntry);
  EXPECT_NE(trace.find("\nDAREdo: Warning! This track has stsd box with no data..."), std::string::npos);
}

TEST_F(SampleTableTest, SampleDescriptionRecordsTheEntryHeaderAndPayloadOffset) {
  const ParsedMovie movie = ParseSampleTable(
      [&] {
        b.FullBox("stsd", 0, 0, [&] {
          b.U32(1);
          b.Box("mp4a", [&] { b.Zeros(6).U16(1).Zeros(20); });
        });
      },
      &b);
  ASSERT_EQ(movie.result, S_OK);
  const trakBox& track = movie.Track(0);
  EXPECT_EQ(track.hasSampleEntry, 1u);
  EXPECT_EQ(track.sampleEntryHeader.type, FourCC("mp4a"));
  EXPECT_EQ(track.sampleEntryHeader.size, 28);
  ASSERT_TRUE(track.sampleEntry);
  EXPECT_EQ(track.sampleEntry->dataReferenceIndex, 1u);
  EXPECT_EQ(track.sampleEntry->payload.Length(), 20);
}

}  // namespace
