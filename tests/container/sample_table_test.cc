// The "stbl" handlers: how each table box lands in the track's table set,
// the derived totals, and the size checks that come before any allocation.
#include "support/box_builder.h"
#include "support/movie_builder.h"

#include "container/trak_box.h"
#include "diagnostics/trace.h"
#include "platform/fourcc.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Write = std::function<void(BoxBuilder&)>;

// Parses one track whose "stbl" holds what `write` writes.
ParsedMovie ParseSampleTable(const Write& write) {
  BoxBuilder b;
  b.Box("moov", [&] { WriteTrackWithSampleTable(b, 1, [&] { write(b); }); });
  return ParseMovie(b);
}

template <class T>
std::vector<T> Entries(const GrowableArray<T>& table) {
  return std::vector<T>(table.Data(), table.Data() + table.Count());
}
template <class T, unsigned kMinWidth>
std::vector<T> Entries(const PackedArray<T, kMinWidth>& table) {
  std::vector<T> values;
  for (ULONG i = 0; i < table.Count(); ++i) values.push_back(table[i]);
  return values;
}

void Stts(BoxBuilder& b, const std::vector<std::pair<uint32_t, int32_t>>& entries) {
  WriteTable(b, "stts", entries, [&](const auto& entry) { b.U32(entry.first).I32(entry.second); });
}

// Real files have the usual tables; these are the rarer ones. Entries are
// read in 12 KB blocks: 2000 64-bit offsets span two.
TEST(SampleTableTest, RarerTablesLoadTheirEntries) {
  const ParsedMovie movie = ParseSampleTable([](BoxBuilder& b) {
    b.FullBox("co64", 0, 0, [&] {
      b.U32(2000);
      for (uint64_t i = 0; i < 2000; ++i) b.U64((i << 32) + i);
    });
    b.FullBox("stss", 0, 0, [&] { b.U32(0); });
    Stts(b, {{7, 1}});
  });
  ASSERT_EQ(movie.result, S_OK);
  const std::vector<ULONGLONG> offsets = Entries(movie.Track(0).sampleTable->chunkOffsets);
  ASSERT_EQ(offsets.size(), 2000u);
  for (ULONGLONG i : {1ull, 1535ull, 1536ull, 1999ull}) EXPECT_EQ(offsets[i], (i << 32) + i);
  EXPECT_TRUE(movie.Track(0).IsSyncSample(1)) << "an empty sync table makes every sample one";
}

// The dominant delta: the positive delta whose entries, counted from its
// first occurrence not already the best, cover the most samples; the
// earlier wins a tie; none when the best covers fewer samples than half the
// entries. A negative delta that drives the total below zero is stored as
// 0; one that only lowers it stays.
TEST(SampleTableTest, DominantDeltaAndTotalFollowTheEntries) {
  using Deltas = std::vector<std::pair<uint32_t, int32_t>>;
  // {entries, dominant delta, total, entries as stored (when not as written)}
  const std::tuple<Deltas, LONGLONG, LONGLONG, Deltas> cases[] = {
      {{{10, 1000}, {1, 500}, {10, 1000}}, 1000, 20500, {}}, {{{1, 100}, {1, 200}, {1, 300}, {1, 400}}, 0, 1000, {}},
      {{{3, 100}, {2, 200}}, 100, 700, {}},                  {{{2, 100}, {2, 200}}, 100, 600, {}},
      {{{1, 100}, {5, 200}}, 200, 1100, {}},                 {{{2, 100}, {3, 200}, {2, 100}, {2, 100}}, 100, 1200, {}},
      {{{9, 0}, {1, 40}}, 40, 40, {}},                       {{{1, 33}}, 33, 33, {}},
      {{{5, -10}, {2, 30}, {1, -20}}, 30, 40, {{5, 0}, {2, 30}, {1, -20}}}};
  for (const auto& [stts, dominant, total, stored] : cases) {
    const ParsedMovie movie = ParseSampleTable([&](BoxBuilder& b) { Stts(b, stts); });
    ASSERT_EQ(movie.result, S_OK);
    const trakFragment& table = *movie.Track(0).sampleTable;
    Deltas entries;
    for (const TimeToSampleEntry& e : Entries(table.timeToSample)) entries.emplace_back(e.count, e.sampleDelta);
    EXPECT_EQ(std::make_tuple(movie.Track(0).defaultSampleDelta, table.totalDuration, entries),
              std::make_tuple(dominant, total, stored.empty() ? stts : stored))
        << stts.size() << " entries from " << stts[0].second;
  }
}

TEST(SampleTableTest, CompactSizesUnpackPerFieldWidth) {
  // {field size, count, packed bytes, result, sizes}
  const std::tuple<uint8_t, uint32_t, std::vector<uint8_t>, HRESULT, std::vector<DWORD>> cases[] = {
      {4, 3, {0x12, 0x30}, S_OK, {1, 2, 3}},          {4, 4, {0xAB, 0xCD}, S_OK, {10, 11, 12, 13}},
      {8, 3, {7, 0, 255}, S_OK, {7, 0, 255}},         {16, 2, {0x01, 0x02, 0xFF, 0xFE}, S_OK, {0x0102, 0xFFFE}},
      {12, 2, {1, 2, 3}, VFW_E_INVALID_FILE_FORMAT, {}}, {8, 0, {}, VFW_E_INVALID_FILE_FORMAT, {}}};
  for (const auto& [fieldSize, count, bytes, result, sizes] : cases) {
    const ParsedMovie movie = ParseSampleTable(
        [&](BoxBuilder& b) { b.FullBox("stz2", 0, 0, [&] { b.U24(0).U8(fieldSize).U32(count).Bytes(bytes); }); });
    ASSERT_EQ(movie.result, result) << int(fieldSize);
    if (result == S_OK) {
      EXPECT_EQ(Entries(movie.Track(0).sampleTable->sampleSizes), sizes) << int(fieldSize);
    }
  }
}

// A count from the file is checked against the bytes its box holds before
// the table is sized by it; the box itself must fit in "stbl".
TEST(SampleTableTest, CountLargerThanItsBoxFailsWithoutAllocating) {
  const Write cases[] = {
      [](BoxBuilder& b) { b.FullBox("stts", 0, 0, [&] { b.U32(0x10000000).U32(1).U32(1); }); },
      [](BoxBuilder& b) { b.FullBox("stsc", 0, 0, [&] { b.U32(0x10000000).U32(1).U32(1).U32(1); }); },
      // 0x40000001 × 4 wraps to 4 in 32 bits: the check must not.
      [](BoxBuilder& b) { b.FullBox("stsz", 0, 0, [&] { b.U32(0).U32(0x40000001).U32(7); }); },
      [](BoxBuilder& b) { b.FullBox("stco", 0, 0, [&] { b.U32(0xFFFFFFFF).U32(1); }); },
      [](BoxBuilder& b) { b.FullBox("co64", 0, 0, [&] { b.U32(0x20000000).U64(1); }); },
      [](BoxBuilder& b) { b.FullBox("stss", 0, 0, [&] { b.U32(3).U32(1).U32(2); }); },
      [](BoxBuilder& b) { b.FullBox("stz2", 0, 0, [&] { b.U24(0).U8(4).U32(5).U8(0x11).U8(0x11); }); },
      [](BoxBuilder& b) { b.FullBox(BoxSize::Forced(200), "stsz", 0, 0, [&] { b.U32(0).U32(1).U32(1); }); },
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ParsedMovie movie = ParseSampleTable(cases[i]);
    EXPECT_EQ(movie.result, i + 1 < std::size(cases) ? STG_E_INVALIDHEADER : VFW_E_INVALID_FILE_FORMAT) << i;
    EXPECT_EQ(movie.source->TrackCount(), 0u) << i;
  }
}

// Every box claims far more than the file holds, and the table count fits
// the claimed box: nothing is sized for it, the parse ends as a short read.
TEST(SampleTableTest, TableThatFitsItsBoxButNotTheSourceIsNotAllocated) {
  BoxBuilder b;
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

TEST(SampleTableTest, SampleDescriptionWithoutOneUsableEntryGivesNoEntry) {
  const auto twoEntries = [](BoxBuilder& b) {
    b.FullBox("stsd", 0, 0, [&] { b.U32(2).Box("avc1", [&] { b.Zeros(8); }).Box("mp4v", [&] { b.Zeros(8); }); });
  };
  const auto chunksNaming = [](BoxBuilder& b, std::initializer_list<uint32_t> descriptions) {
    uint32_t chunk = 1;
    WriteTable(b, "stsc", descriptions, [&](uint32_t description) { b.U32(chunk++).U32(1).U32(description); });
  };
  // Several descriptions are kept as entry 1 while every chunk names it. An
  // entry of size 0 runs to the end of its "stsd"; the tables after it are
  // still read.
  const std::tuple<Write, const char*, bool> cases[] = {
      {[&](BoxBuilder& b) { chunksNaming(b, {1, 2}); twoEntries(b); },
       "\nDAREdo: Cannot handle tracks with more than one sample type!", false},
      {[&](BoxBuilder& b) { twoEntries(b); chunksNaming(b, {1, 1}); }, "", true},
      {[](BoxBuilder& b) { b.FullBox("stsd", 0, 0, [&] { b.U32(1); }); },
       "\nDAREdo: Warning! This track has stsd box with no data...", false},
      {[&](BoxBuilder& b) {
         b.FullBox("stsd", 0, 0, [&] { b.U32(1).Box(BoxSize::ToEnd(), "avc1", [&] { b.Zeros(78); }); });
         chunksNaming(b, {1});
       },
       "", true},
  };
  for (const auto& [write, line, kept] : cases) {
    std::string trace;
    SetTraceCaptureForTesting(&trace);
    const ParsedMovie movie = ParseSampleTable(write);
    SetTraceCaptureForTesting(nullptr);
    ASSERT_EQ(movie.result, S_OK);
    EXPECT_EQ(movie.Track(0).hasSampleEntry != 0, kept) << line;
    EXPECT_EQ(movie.Track(0).FormatFourCC(), kept ? FourCC("avc1") : 0u);
    EXPECT_NE(trace.find(line), std::string::npos) << line;
  }
}

}  // namespace
