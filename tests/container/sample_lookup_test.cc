// The lookups of the track model over tables set up in memory: time and
// sample numbers, chunks and byte locations, sync samples, totals, the PCM
// layout and the rounding of the time conversions.
#include "support/memory_source.h"

#include "container/trak_box.h"
#include "diagnostics/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

// An audio entry as the streams layer builds one, for the PCM layout.
struct PcmEntry : SampleEntry {
  PcmEntry(const Box& header, trakBox* track, WORD channels, WORD bits)
      : SampleEntry(header, track, kSampleEntryAudio), channels(channels), bits(bits) {}
  WORD PcmChannelCount() const override { return channels; }
  WORD PcmBitsPerSample() const override { return bits; }
  WORD channels, bits;
};

// (result, start, end, offset, size, units) of GetSampleInfo.
using Info = std::tuple<HRESULT, LONGLONG, LONGLONG, LONGLONG, LONGLONG, LONG>;

class SampleLookupTest : public ::testing::Test {
 protected:
  SampleLookupTest() : source_(MemorySource::Create(std::vector<uint8_t>(64, 0xAB))), track_(header_, source_.Get()) {
    track_.timescale = 600;
  }

  trakFragment& Table() { return *track_.sampleTable; }

  void SetStts(const std::vector<TimeToSampleEntry>& entries) {
    Fill(Table().timeToSample, entries);
    Table().sampleCount = 0, Table().totalDuration = 0;
    for (const auto& [count, delta] : entries) {
      Table().sampleCount += count;
      Table().totalDuration += LONGLONG{count} * delta;
    }
  }
  void SetStsc(std::vector<SampleToChunkEntry> entries) { Fill(Table().sampleToChunk, entries); }
  void SetSizes(std::vector<DWORD> sizes) { Fill(Table().sampleSizes, sizes); }
  void SetChunkOffsets(std::vector<ULONGLONG> offsets) { Fill(Table().chunkOffsets, offsets); }
  void SetSync(std::vector<DWORD> samples) { Fill(Table().syncSamples, samples); }

  template <class T>
  void Fill(GrowableArray<T>& table, const std::vector<T>& values) {
    ASSERT_EQ(table.SetCount(static_cast<ULONG>(values.size())), S_OK);
    std::copy(values.begin(), values.end(), table.Data());
  }
  template <class T, unsigned kMinWidth>
  void Fill(PackedArray<T, kMinWidth>& table, const std::vector<T>& values) {
    ASSERT_EQ(table.SetCount(static_cast<ULONG>(values.size())), S_OK);
    for (ULONG i = 0; i < values.size(); ++i) ASSERT_EQ(table.Set(i, values[i]), S_OK);
  }

  Info SampleInfo(LONGLONG sample) {
    Info row{};
    auto& [hr, start, end, offset, size, units] = row;
    hr = track_.GetSampleInfo(sample, &start, &end, &offset, &size, &units);
    return row;
  }

  Box header_;
  ComPtr<MemorySource> source_;
  trakBox track_;
};

// Media times round to the nearest 100 ns, halves down; a timescale of 0
// saturates.
TEST_F(SampleLookupTest, TimeConversionsRoundHalvesDown) {
  // {timescale, media, reference, to reference?}
  const std::tuple<DWORD, LONGLONG, LONGLONG, bool> cases[] = {
      {3, 1, 3333333, true},       {3, 2, 6666667, true},     {20000000, 1, 0, true}, {3, -1, -3333333, true},
      {0, 1, INT64_MAX, true},     {1, 1, 15000000, false},   {1, 2, 15000001, false}, {1, 1, 14999999, false},
      {48000, 24000, 5000000, false}};
  for (const auto& [timescale, media, reference, toReference] : cases) {
    track_.timescale = timescale;
    EXPECT_EQ(toReference ? track_.MediaToReferenceTime(media) : track_.ReferenceToMediaTime(reference),
              toReference ? reference : media)
        << timescale << " " << media;
  }
  // The duration is rounded on its own: 1/3 s from 1/3 s is 3333333 long.
  track_.timescale = 3;
  LONGLONG start = 1, end = 2;
  track_.ConvertRangeToReference(&start, &end);
  EXPECT_EQ(std::make_tuple(start, end), std::make_tuple(3333333, 6666666));
}

// The end of an entry is the next entry's first sample; past the table the
// last delta extrapolates, for one delta whatever the unit.
TEST_F(SampleLookupTest, TimesAndSampleNumbersMapBothWays) {
  SetStts({{2, 10}, {2, 100}});
  const std::pair<LONGLONG, LONGLONG> toSample[] = {{0, 0}, {9, 0}, {10, 1}, {20, 2}, {219, 3}, {220, 4}, {420, 6}};
  for (const auto& [time, sample] : toSample) {
    LONGLONG found = -1;
    ASSERT_EQ(track_.TimeToSampleNumber(time, &found), S_OK);
    EXPECT_EQ(found, sample) << "time " << time;
  }
  // {sample, units, start, end}
  const std::tuple<LONGLONG, LONG, LONGLONG, LONGLONG> toTime[] = {
      {1, 1, 10, 20}, {0, 3, 0, 30}, {2, 2, 20, 220}, {5, 1, 320, 420}, {5, 4, 320, 420}};
  for (const auto& [sample, units, start, end] : toTime) {
    LONGLONG foundStart = 0, foundEnd = 0;
    ASSERT_EQ(track_.SampleNumberToTime(sample, &foundStart, &foundEnd, units), S_OK);
    EXPECT_EQ(std::make_tuple(foundStart, foundEnd), std::make_tuple(start, end)) << sample;
  }
}

TEST_F(SampleLookupTest, ZeroDeltaIsRepairedOnceWithOneTraceLine) {
  SetStts({{2, 0}, {2, 10}});
  std::string trace;
  SetTraceCaptureForTesting(&trace);
  LONGLONG sample = 0;
  ASSERT_EQ(track_.TimeToSampleNumber(100, &sample), S_OK);
  ASSERT_EQ(track_.TimeToSampleNumber(100, &sample), S_OK);
  SetTraceCaptureForTesting(nullptr);
  EXPECT_EQ(Table().timeToSample[0].sampleDelta, 1);
  EXPECT_EQ(trace, "\nROZArari::trakBox::TimeToSampleNumber: TimeToSample array has a sample of zero duration!");
}

// Chunk 4 lies past the four chunk offsets: the end of the track.
TEST_F(SampleLookupTest, SampleToChunkWalksRunsAndTheLastEntryCoversTheRest) {
  SetStts({{40, 1}});
  SetStsc({{1, 10, 1}, {3, 5, 1}});
  SetChunkOffsets({0, 1000, 2000, 3000});
  SetSizes(std::vector<DWORD>(40, 1));
  const std::pair<LONGLONG, LONGLONG> offsets[] = {{0, 0}, {19, 1009}, {20, 2000}, {27, 3002}};
  for (const auto& [sample, offset] : offsets) {
    EXPECT_EQ(SampleInfo(sample), Info(S_OK, sample, sample + 1, offset, 1, 1));
  }
  EXPECT_EQ(std::get<0>(SampleInfo(30)), S_FALSE);
  // What one read from a sample on takes: whole samples, across the gaps
  // of at most maxGap between chunks, within the limit. {sample, its
  // offset, limit, maxGap, result, bytes}; then with a common size of 3.
  using Span = std::tuple<LONGLONG, LONGLONG, LONGLONG, LONGLONG, HRESULT, LONGLONG>;
  const auto spans = [&](const std::vector<Span>& rows) {
    for (const auto& [sample, offset, limit, maxGap, hr, bytes] : rows) {
      LONGLONG found = -1;
      EXPECT_EQ(track_.GetReadAhead(sample, offset, limit, maxGap, &found), hr) << sample << " " << limit;
      EXPECT_EQ(found, bytes) << sample << " " << limit;
    }
  };
  spans({{0, 0, 100, 1000, S_OK, 10}, {19, 1009, 5000, 989, S_OK, 1}, {19, 1009, 5000, 990, S_OK, 2005 - 1009},
         {19, 1009, 5000, 995, S_OK, 3005 - 1009}, {19, 1009, 1995, 995, S_OK, 3004 - 1009},
         {27, 3002, 2, 0, S_OK, 2}, {27, 3002, 0, 0, S_OK, 0}, {30, 0, 100, 1000, S_FALSE, 0}});
  SetSizes({});
  Table().constantSampleSize = 3;
  spans({{0, 0, 100, 0, S_OK, 30}, {12, 1006, 100, 0, S_OK, 24}, {12, 1006, 7, 0, S_OK, 6},
         {12, 1006, 2000, 1000, S_OK, 3006 - 1006}});
}

// A chunk of no samples would stop the chunk walk for good.
TEST_F(SampleLookupTest, BrokenChunkTablesAreReportedNotIndexed) {
  const std::tuple<std::vector<SampleToChunkEntry>, std::vector<ULONGLONG>, HRESULT> cases[] = {
      {{}, {}, E_UNEXPECTED}, {{{1, 0, 1}, {2, 3, 1}}, {10, 20}, VFW_E_INVALID_FILE_FORMAT},
      {{{1, 3, 1}}, {}, VFW_E_INVALID_FILE_FORMAT}};
  for (const auto& [stsc, offsets, result] : cases) {
    SetStsc(stsc);
    SetChunkOffsets(offsets);
    EXPECT_EQ(std::get<0>(SampleInfo(0)), result) << stsc.size();
  }
  track_.sampleTable.reset();
  EXPECT_EQ(std::get<0>(SampleInfo(0)), E_UNEXPECTED);
}

// The caches only shorten walks: any order of lookups must give what a
// walk from the start gives. Reverse order defeats the caches entirely.
TEST_F(SampleLookupTest, CachedForwardWalkAgreesWithUncachedLookups) {
  SetStts({{5, 10}, {1, 7}, {10, 3}, {4, 10}});
  SetStsc({{1, 2, 1}, {3, 5, 1}, {4, 1, 1}, {6, 4, 1}});
  std::vector<DWORD> sizes;
  for (DWORD i = 0; i < 20; ++i) sizes.push_back(10 + i);
  SetSizes(sizes);
  SetChunkOffsets({0, 1000, 2000, 3000, 4000, 5000, 6000, 7000});
  std::vector<Info> backward(22);
  for (LONGLONG s = 21; s >= 0; --s) backward[s] = SampleInfo(s);
  for (LONGLONG s = 0; s < 22; ++s) EXPECT_EQ(SampleInfo(s), backward[s]) << "sample " << s;
  EXPECT_EQ(std::get<0>(backward[20]), S_FALSE);
  // Sample 6 is the 3rd of chunk 2, sample 9 alone in chunk 3.
  EXPECT_EQ(backward[6], Info(S_OK, 57, 60, 2000 + 14 + 15, 16, 1));
  EXPECT_EQ(std::get<3>(backward[9]), 3000);
}

// Sync marks of samples 0.. ("K" sync) for each table, and the previous
// sync sample of each. Out of order, the scan from the start stops at the
// first entry above the sample, so sample 0 is not found behind 31.
TEST_F(SampleLookupTest, SyncSampleMarksAndSearches) {
  const std::tuple<std::vector<DWORD>, std::string, std::string> cases[] = {
      {{1, 4, 7}, "K..K..K.", "00033366"}, {{}, "KKKK", "0123"}, {{2, 3, 5}, ".KK.K.", "-12244"},
      {{31, 1, 3}, "......", "------"}};
  for (const auto& [table, marks, previous] : cases) {
    // Each table set is filled once, as the parser fills it.
    track_.sampleTable = std::make_unique<trakFragment>();
    SetSync(table);
    std::string foundMarks, foundPrevious;
    for (LONGLONG s = 0; s < static_cast<LONGLONG>(marks.size()); ++s) {
      LONGLONG sync = -1;
      foundMarks += track_.IsSyncSample(s) ? 'K' : '.';
      foundPrevious += track_.PreviousSyncSample(s, &sync) == S_OK ? static_cast<char>('0' + sync) : '-';
    }
    EXPECT_EQ(std::make_tuple(foundMarks, foundPrevious), std::make_tuple(marks, previous));
  }
  LONGLONG sync = -1;
  EXPECT_EQ(track_.PreviousSyncSample(-5, &sync), S_FALSE);
  track_.sampleTable = std::make_unique<trakFragment>();
  SetStts({{10, 100}});
  SetSync({1, 5});
  ASSERT_EQ(track_.PreviousSyncSampleAtTime(650, &sync), S_OK);
  EXPECT_EQ(sync, 4);
}

// Three chunks of 4410 one-byte samples. Whole-chunk units are checked on
// a delivery walk by the real PCM files; here the rules, per-sample sizes
// scaled by the frame size, and a unit that starts inside its chunk.
TEST_F(SampleLookupTest, OnlyQuickTimePcmOfSoundTracksIsLaidOut) {
  constexpr DWORD kWhole = kPcmWholeChunkUnits, kSound = kMediaKindSound;
  // {format, channels, bits, kind, flags, constant size, sizes}
  const std::tuple<const char*, WORD, WORD, DWORD, DWORD, DWORD, std::vector<DWORD>> cases[] = {
      {"sowt", 2, 16, kSound, kWhole, 4, {}},       {"twos", 1, 8, kSound, kWhole, 1, {}},
      {"ulaw", 1, 8, kSound, 0, 1, {}},             {"twos", 2, 16, kMediaKindVideo, 0, 1, {}},
      {"raw ", 2, 8, kSound, 0, 0, {20, 40}},       {"twos", 2, 16, kSound, kWhole, 4, {}}};
  for (const auto& [format, channels, bits, kind, flags, constantSize, sizes] : cases) {
    Box header;
    header.type = LoadBigEndian32(reinterpret_cast<const BYTE*>(format));
    track_.sampleEntry = std::make_unique<PcmEntry>(header, &track_, channels, bits);
    track_.sampleTable = std::make_unique<trakFragment>();
    track_.mediaKind = kind;
    SetStts({{4410 * 3, 1}});
    SetStsc({{1, 4410, 1}});
    SetChunkOffsets({1000, 50000, 90000});
    Table().constantSampleSize = sizes.empty() ? 1 : 0;
    SetSizes(sizes.empty() ? std::vector<DWORD>{} : std::vector<DWORD>{10, 20});
    track_.PreparePcmLayout();
    std::vector<DWORD> scaled;
    for (ULONG i = 0; i < Table().sampleSizes.Count(); ++i) scaled.push_back(Table().sampleSizes[i]);
    EXPECT_EQ(std::make_tuple(track_.pcmFlags, Table().constantSampleSize, scaled),
              std::make_tuple(flags, constantSize, sizes))
        << format;
  }
  EXPECT_EQ(SampleInfo(4410 + 10), Info(S_OK, 4420, 8820, 50000 + 40, 4 * 4400, 4400));
  EXPECT_EQ(track_.GetMaxSampleSize(), 4u * 4410);
}

TEST_F(SampleLookupTest, TotalsAreFormedInSixtyFourBits) {
  // Without a dominant delta: the total over the samples, where 90000 ×
  // 100001 overflows 32 bits.
  track_.timescale = 90000;
  SetStts({{100000, 3000}, {1, 1000}});
  EXPECT_EQ(track_.GetDefaultSampleDuration(), 333331);
  // 6e9 bytes in one second: the rate keeps its low 32 bits.
  track_.timescale = 1000;
  SetStts({{2, 500}});
  SetSizes({3000000000u, 3000000000u});
  EXPECT_EQ(std::make_tuple(track_.GetTotalSampleBytes(), track_.GetAverageSampleSize(), track_.GetBytesPerSecond(),
                            track_.GetMaxSampleSize()),
            std::make_tuple(6000000000ull, 3000000000u, DWORD(6000000000ull & 0xFFFFFFFF), 3000000000u));
  // A constant-size track counts its samples.
  SetSizes({});
  Table().constantSampleSize = 4;
  EXPECT_EQ(std::make_tuple(track_.GetTotalSampleBytes(), track_.GetBytesPerSecond()), std::make_tuple(8ull, 8u));
}

}  // namespace
