// The lookups of the track model over tables set up in memory: time and
// sample numbers, chunks and byte locations, sync samples, totals, the PCM
// layout and the rounding of the time conversions.
#include "support/memory_source.h"

#include "container/trak_box.h"
#include "diagnostics/trace.h"
#include "platform/media_type.h"

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

// Offers one media type with a fixed size and no temporal compression, so
// that what the track sets afterwards is visible.
struct OneTypeEntry : SampleEntry {
  OneTypeEntry(const Box& header, trakBox* track) : SampleEntry(header, track, kSampleEntryVideo) {}
  HRESULT GetMediaType(int index, CMediaType* mediaType, IAsyncReader*) override {
    if (index > 0) return VFW_S_NO_MORE_ITEMS;
    mediaType->SetSampleSize(777);
    mediaType->SetTemporalCompression(FALSE);
    return S_OK;
  }
};

// (result, start, end, offset, size, units) of GetSampleInfo.
using Info = std::tuple<HRESULT, LONGLONG, LONGLONG, LONGLONG, LONGLONG, LONG>;

class SampleLookupTest : public ::testing::Test {
 protected:
  SampleLookupTest() : source_(MemorySource::Create(std::vector<uint8_t>(64, 0xAB))), track_(header_, source_.Get()) {
    track_.timescale = 600;
  }

  trakFragment& Table() { return *track_.sampleTable; }

  void SetStts(std::vector<std::pair<DWORD, LONG>> entries) {
    Table().sampleCount = 0;
    Table().totalDuration = 0;
    std::vector<TimeToSampleEntry> table;
    for (const auto& [count, delta] : entries) {
      table.push_back({count, delta});
      Table().sampleCount += count;
      Table().totalDuration += static_cast<LONGLONG>(count) * delta;
    }
    Fill(Table().timeToSample, table);
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

TEST_F(SampleLookupTest, TimeConversionsRoundHalvesDown) {
  const std::tuple<DWORD, LONGLONG, LONGLONG> toReference[] = {
      {3, 1, 3333333}, {2, 1, 5000000}, {20000000, 1, 0}, {600, 600, 10000000}, {3, -1, -3333333},
      // A timescale of 0 saturates.
      {0, 1, INT64_MAX},
  };
  for (const auto& [timescale, media, reference] : toReference) {
    track_.timescale = timescale;
    EXPECT_EQ(track_.MediaToReferenceTime(media), reference) << "timescale " << timescale;
  }
  const std::tuple<DWORD, LONGLONG, LONGLONG> toMedia[] = {
      {1, 15000000, 1}, {1, 15000001, 2}, {1, 14999999, 1}, {90000, 10000000, 90000}, {48000, 5000000, 24000},
  };
  for (const auto& [timescale, reference, media] : toMedia) {
    track_.timescale = timescale;
    EXPECT_EQ(track_.ReferenceToMediaTime(reference), media) << reference;
  }
  // The duration is rounded on its own: 1/3 s from 1/3 s is 3333333 long.
  track_.timescale = 3;
  LONGLONG start = 1, end = 2;
  track_.ConvertRangeToReference(&start, &end);
  EXPECT_EQ(std::make_tuple(start, end), std::make_tuple(3333333, 6666666));
}

TEST_F(SampleLookupTest, TimeToSampleNumberLandsAndExtrapolates) {
  SetStts({{2, 10}, {2, 100}});
  // The end of an entry is the next entry's first sample.
  const std::pair<LONGLONG, LONGLONG> cases[] = {{0, 0}, {9, 0}, {10, 1}, {20, 2}, {219, 3}, {220, 4}, {420, 6}};
  for (const auto& [time, sample] : cases) {
    LONGLONG found = -1;
    ASSERT_EQ(track_.TimeToSampleNumber(time, &found), S_OK);
    EXPECT_EQ(found, sample) << "time " << time;
  }
}

TEST_F(SampleLookupTest, SampleNumberToTimeWithinAndPastTheTable) {
  SetStts({{3, 20}});
  // {sample, units, start, end}: past the table one delta, whatever the unit.
  const std::tuple<LONGLONG, LONG, LONGLONG, LONGLONG> cases[] = {
      {1, 1, 20, 40}, {0, 3, 0, 60}, {5, 1, 100, 120}, {5, 4, 100, 120}};
  for (const auto& [sample, units, start, end] : cases) {
    LONGLONG foundStart = 0, foundEnd = 0;
    ASSERT_EQ(track_.SampleNumberToTime(sample, &foundStart, &foundEnd, units), S_OK);
    EXPECT_EQ(std::make_pair(foundStart, foundEnd), std::make_pair(start, end)) << sample;
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
  const std::string line = "\nROZArari::trakBox::TimeToSampleNumber: TimeToSample array has a sample of zero duration!";
  const size_t first = trace.find(line);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(trace.find(line, first + 1), std::string::npos);
}

TEST_F(SampleLookupTest, SampleToChunkWalksRunsAndTheLastEntryCoversTheRest) {
  SetStts({{40, 1}});
  SetStsc({{1, 10, 1}, {3, 5, 1}});
  SetChunkOffsets({0, 1000, 2000, 3000});
  SetSizes(std::vector<DWORD>(40, 1));
  // {sample, chunk, index in chunk, samples per chunk}
  const std::tuple<LONGLONG, LONGLONG, LONGLONG, DWORD> cases[] = {
      {0, 0, 0, 10}, {19, 1, 9, 10}, {20, 2, 0, 5}, {27, 3, 2, 5}, {30, 4, 0, 5}};
  for (const auto& expected : cases) {
    auto found = expected;
    auto& [sample, chunk, index, perChunk] = found;
    ASSERT_EQ(track_.SampleToChunk(sample, &chunk, &index, &perChunk), S_OK);
    EXPECT_EQ(found, expected);
  }
  EXPECT_EQ(SampleInfo(27), Info(S_OK, 27, 28, 3002, 1, 1));
  // Chunk 4 is past the four chunk offsets: the end of the track.
  EXPECT_EQ(std::get<0>(SampleInfo(30)), S_FALSE);
}

TEST_F(SampleLookupTest, BrokenChunkTablesAreReportedNotIndexed) {
  LONGLONG offset = 0, size = 0;
  LONG units = 0;
  EXPECT_EQ(track_.GetSampleLocation(0, &offset, &size, &units), E_UNEXPECTED);
  SetStsc({{1, 0, 1}, {2, 3, 1}});
  SetChunkOffsets({10, 20});
  EXPECT_EQ(track_.GetSampleLocation(0, &offset, &size, &units), VFW_E_INVALID_FILE_FORMAT);
  SetStsc({{1, 3, 1}});
  SetChunkOffsets({});
  EXPECT_EQ(track_.GetSampleLocation(0, &offset, &size, &units), VFW_E_INVALID_FILE_FORMAT);
  track_.sampleTable.reset();
  EXPECT_EQ(track_.GetSampleLocation(0, &offset, &size, &units), E_UNEXPECTED);
  LONGLONG start = 0;
  EXPECT_EQ(track_.SampleNumberToTime(0, &start, &start, 1), E_UNEXPECTED);
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

TEST_F(SampleLookupTest, NewTableSetIsNotReadThroughTheOldCaches) {
  SetStts({{10, 10}});
  SetStsc({{1, 10, 1}});
  SetSizes(std::vector<DWORD>(10, 5));
  SetChunkOffsets({100});
  ASSERT_EQ(std::get<0>(SampleInfo(8)), S_OK);
  track_.sampleTable = std::make_unique<trakFragment>();
  SetStts({{2, 1}, {10, 100}});
  SetStsc({{1, 1, 1}});
  SetSizes(std::vector<DWORD>(12, 7));
  SetChunkOffsets({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110});
  EXPECT_EQ(SampleInfo(9), Info(S_OK, 2 + 7 * 100, 2 + 8 * 100, 90, 7, 1));
}

TEST_F(SampleLookupTest, SyncSampleMarksAndSearches) {
  // Sync marks of samples 0.. ("K" sync) for each table. Out of order, the
  // scan from the start stops at the first entry above the sample, so
  // sample 0 is not found behind 31.
  const std::pair<std::vector<DWORD>, std::string> marks[] = {
      {{1, 31}, "K" + std::string(29, '.') + "K."}, {{}, "KKKK"}, {{2, 3, 5}, ".KK.K."}, {{31, 1, 3}, "......"}};
  for (const auto& [table, expected] : marks) {
    // Each table set is filled once, as the parser fills it.
    track_.sampleTable = std::make_unique<trakFragment>();
    SetSync(table);
    std::string found;
    for (size_t s = 0; s < expected.size(); ++s) found += track_.IsSyncSample(static_cast<LONGLONG>(s)) ? 'K' : '.';
    EXPECT_EQ(found, expected);
  }
  // {sync table, sample, previous sync sample, result}
  const std::tuple<std::vector<DWORD>, LONGLONG, LONGLONG, HRESULT> previous[] = {
      {{1, 31, 61}, 0, 0, S_OK},    {{1, 31, 61}, 30, 30, S_OK}, {{1, 31, 61}, 45, 30, S_OK},
      {{1, 31, 61}, 100, 60, S_OK}, {{1, 31, 61}, -5, 0, S_FALSE}, {{5, 31}, 2, 0, S_FALSE},
      {{}, 17, 17, S_OK},
  };
  for (const auto& [table, sample, sync, result] : previous) {
    track_.sampleTable = std::make_unique<trakFragment>();
    SetSync(table);
    LONGLONG found = -1;
    EXPECT_EQ(track_.PreviousSyncSample(sample, &found), result) << sample;
    EXPECT_EQ(found, sync) << sample;
  }
  SetStts({{10, 100}});
  SetSync({1, 5});
  LONGLONG sync = -1;
  ASSERT_EQ(track_.PreviousSyncSampleAtTime(650, &sync), S_OK);
  EXPECT_EQ(sync, 4);
  track_.sampleTable.reset();
  EXPECT_EQ(track_.PreviousSyncSampleAtTime(650, &sync), S_FALSE);
  EXPECT_EQ(sync, 0);
}

// Whole-chunk units are checked on a delivery walk by the real PCM files;
// here the rules and a unit that starts inside its chunk.
TEST_F(SampleLookupTest, OnlyQuickTimePcmOfSoundTracksIsLaidOut) {
  // Three chunks of 4410 one-byte samples.
  auto SetUpPcm = [&](const char* format, WORD channels, WORD bits, DWORD kind = kMediaKindSound) {
    Box header;
    header.type = LoadBigEndian32(reinterpret_cast<const BYTE*>(format));
    track_.sampleEntry = std::make_unique<PcmEntry>(header, &track_, channels, bits);
    track_.sampleTable = std::make_unique<trakFragment>();
    track_.mediaKind = kind;
    SetStts({{4410 * 3, 1}});
    SetStsc({{1, 4410, 1}});
    SetChunkOffsets({1000, 50000, 90000});
    Table().constantSampleSize = 1;
  };
  constexpr DWORD kWhole = kPcmWholeChunkUnits, kSwap = kPcmSwapBytes;
  // {format, channels, bits, kind, flags, constant size}
  const std::tuple<const char*, WORD, WORD, DWORD, DWORD, DWORD> cases[] = {
      {"twos", 2, 16, kMediaKindSound, kWhole | kSwap, 4}, {"sowt", 2, 16, kMediaKindSound, kWhole, 4},
      {"twos", 1, 8, kMediaKindSound, kWhole, 1},         {"ulaw", 1, 8, kMediaKindSound, 0, 1},
      {"twos", 2, 16, kMediaKindVideo, 0, 1}};
  for (const auto& [format, channels, bits, kind, flags, constantSize] : cases) {
    SetUpPcm(format, channels, bits, kind);
    track_.PreparePcmLayout();
    EXPECT_EQ(std::make_tuple(track_.pcmFlags, Table().constantSampleSize), std::make_tuple(flags, constantSize))
        << format;
  }
  SetUpPcm("twos", 2, 16);
  track_.PreparePcmLayout();
  EXPECT_EQ(SampleInfo(4410 + 10), Info(S_OK, 4420, 8820, 50000 + 40, 4 * 4400, 4400));
  EXPECT_EQ(track_.GetMaxSampleSize(), 4u * 4410);
  // Per-sample sizes are scaled by the frame size, and units stay single.
  SetUpPcm("raw ", 2, 8);
  Table().constantSampleSize = 0;
  SetSizes({10, 20});
  track_.PreparePcmLayout();
  EXPECT_EQ(track_.pcmFlags, 0u);
  EXPECT_EQ(std::make_tuple(Table().sampleSizes[0], Table().sampleSizes[1]), std::make_tuple(20u, 40u));
}

TEST_F(SampleLookupTest, TotalsAreFormedInSixtyFourBits) {
  track_.timescale = 90000;
  SetStts({{100000, 3000}, {1, 1000}});
  track_.defaultSampleDelta = 0;
  // 90000 × 100001 overflows 32 bits.
  EXPECT_EQ(track_.GetDefaultSampleDuration(), 300001000LL * 10000000 / (90000LL * 100001));
  track_.defaultSampleDelta = 3000;
  EXPECT_EQ(track_.GetDefaultSampleDuration(), 333333);
  track_.timescale = 0;
  EXPECT_EQ(track_.GetDefaultSampleDuration(), 0);

  track_.timescale = 1000;
  SetStts({{2, 500}});
  SetSizes({3000000000u, 3000000000u});
  EXPECT_EQ(track_.GetTotalSampleBytes(), 6000000000ull);
  EXPECT_EQ(track_.GetAverageSampleSize(), 3000000000u);
  // 6e9 bytes per second, low 32 bits.
  EXPECT_EQ(track_.GetBytesPerSecond(), static_cast<DWORD>(6000000000ull));
  EXPECT_EQ(track_.GetMaxSampleSize(), 3000000000u);
  // A constant-size track counts its samples.
  SetSizes({});
  Table().constantSampleSize = 4;
  EXPECT_EQ(track_.GetTotalSampleBytes(), 8u);
  EXPECT_EQ(track_.GetBytesPerSecond(), 8u);
}

// Without a fixed duration a fragmented track maps every time to sample 0
// rather than dividing by zero.
TEST_F(SampleLookupTest, FragmentedTracksCountInFixedSampleDurations) {
  track_.isFragmented = 1;
  LONGLONG start = -1, end = -1, sample = -1;
  for (const LONGLONG fixed : {400000, 0}) {
    track_.fixedSampleDuration = fixed;
    ASSERT_EQ(track_.SampleNumberToReferenceTimes(3, &start, &end), S_OK);
    ASSERT_EQ(track_.SampleNumberAtReferenceTime(-1000000, &sample), S_OK);
    EXPECT_EQ(std::make_tuple(start, end, sample), std::make_tuple(3 * fixed, 3 * fixed, fixed ? -2 : 0));
  }
}

TEST_F(SampleLookupTest, TrackMediaTypeCarriesTheTrackSizeAndCompression) {
  Box header;
  header.type = FourCC("avc1");
  track_.sampleEntry = std::make_unique<OneTypeEntry>(header, &track_);
  CMediaType mediaType;
  EXPECT_EQ(track_.GetTrackMediaType(0, &mediaType), E_UNEXPECTED);
  SetStsc({{1, 1, 1}});
  SetChunkOffsets({0});
  SetSync({1});
  ASSERT_EQ(track_.GetTrackMediaType(0, &mediaType), S_OK);
  EXPECT_FALSE(mediaType.IsFixedSize());
  EXPECT_TRUE(mediaType.IsTemporalCompressed());
  EXPECT_EQ(track_.GetTrackMediaType(1, &mediaType), VFW_S_NO_MORE_ITEMS);
}

}  // namespace
