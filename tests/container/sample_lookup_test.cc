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
class PcmEntry : public SampleEntry {
 public:
  PcmEntry(const Box& header, trakBox* track, WORD channels, WORD bits)
      : SampleEntry(header, track, kSampleEntryAudio), channels_(channels), bits_(bits) {}
  WORD PcmChannelCount() const override { return channels_; }
  WORD PcmBitsPerSample() const override { return bits_; }

 private:
  WORD channels_;
  WORD bits_;
};

// Offers one media type with a fixed size and no temporal compression, so
// that what the track sets afterwards is visible.
class OneTypeEntry : public SampleEntry {
 public:
  OneTypeEntry(const Box& header, trakBox* track) : SampleEntry(header, track, kSampleEntryVideo) {}
  HRESULT GetMediaType(int index, CMediaType* mediaType, IAsyncReader*) override {
    if (index > 0) return VFW_S_NO_MORE_ITEMS;
    mediaType->SetSampleSize(777);
    mediaType->SetTemporalCompression(FALSE);
    return S_OK;
  }
};

class SampleLookupTest : public ::testing::Test {
 protected:
  SampleLookupTest() : source_(MemorySource::Create(std::vector<uint8_t>(64, 0xAB))), track_(header_, source_.Get()) {
    track_.timescale = 600;
  }

  trakFragment& Table() { return *track_.sampleTable; }

  void SetStts(std::vector<std::pair<DWORD, LONG>> entries) {
    ASSERT_EQ(Table().timeToSample.SetCount(static_cast<ULONG>(entries.size())), S_OK);
    Table().sampleCount = 0;
    Table().totalDuration = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      Table().timeToSample[static_cast<ULONG>(i)] = {entries[i].first, entries[i].second};
      Table().sampleCount += entries[i].first;
      Table().totalDuration += static_cast<LONGLONG>(entries[i].first) * entries[i].second;
    }
  }
  void SetStsc(std::vector<SampleToChunkEntry> entries) { Fill(Table().sampleToChunk, entries); }
  void SetSizes(std::vector<DWORD> sizes) { Fill(Table().sampleSizes, sizes); }
  void SetChunkOffsets(std::vector<ULONGLONG> offsets) { Fill(Table().chunkOffsets, offsets); }
  void SetSync(std::vector<DWORD> samples) { Fill(Table().syncSamples, samples); }

  template <class T>
  void Fill(GrowableArray<T>& table, const std::vector<T>& values) {
    ASSERT_EQ(table.SetCount(static_cast<ULONG>(values.size())), S_OK);
    for (size_t i = 0; i < values.size(); ++i) table[static_cast<ULONG>(i)] = values[i];
  }

  void SetEntry(SampleEntry* entry) { track_.sampleEntry.reset(entry); }

  Box header_;
  ComPtr<MemorySource> source_;
  trakBox track_;
};

TEST_F(SampleLookupTest, MediaToReferenceRoundsHalvesDown) {
  const std::tuple<DWORD, LONGLONG, LONGLONG> cases[] = {
      {3, 1, 3333333},
      {2, 1, 5000000},
      {20000000, 1, 0},
      {600, 600, 10000000},
      {3, -1, -3333333},
      // A timescale of 0 saturates.
      {0, 1, INT64_MAX},
  };
  for (const auto& [timescale, media, reference] : cases) {
    track_.timescale = timescale;
    EXPECT_EQ(track_.MediaToReferenceTime(media), reference) << "timescale " << timescale;
  }
}

TEST_F(SampleLookupTest, ReferenceToMediaRoundsHalvesDown) {
  const std::tuple<DWORD, LONGLONG, LONGLONG> cases[] = {
      {1, 15000000, 1}, {1, 15000001, 2}, {1, 14999999, 1}, {90000, 10000000, 90000}, {48000, 5000000, 24000},
  };
  for (const auto& [timescale, reference, media] : cases) {
    track_.timescale = timescale;
    EXPECT_EQ(track_.ReferenceToMediaTime(reference), media) << reference;
  }
}

TEST_F(SampleLookupTest, RangeConversionRoundsTheDurationOnItsOwn) {
  track_.timescale = 3;
  LONGLONG start = 1;
  LONGLONG end = 2;
  track_.ConvertRangeToReference(&start, &end);
  EXPECT_EQ(start, 3333333);
  EXPECT_EQ(end, 6666666);
}

TEST_F(SampleLookupTest, TimeToSampleNumberLandsAndExtrapolates) {
  SetStts({{3, 20}});
  const std::pair<LONGLONG, LONGLONG> cases[] = {{0, 0}, {19, 0}, {20, 1}, {40, 2}, {60, 3}, {75, 3}, {100, 5}};
  for (const auto& [time, sample] : cases) {
    LONGLONG found = -1;
    ASSERT_EQ(track_.TimeToSampleNumber(time, &found), S_OK);
    EXPECT_EQ(found, sample) << "time " << time;
  }
}

TEST_F(SampleLookupTest, TimeAtEntryEndMapsToNextEntryFirstSample) {
  SetStts({{2, 10}, {2, 100}});
  LONGLONG sample = -1;
  ASSERT_EQ(track_.TimeToSampleNumber(20, &sample), S_OK);
  EXPECT_EQ(sample, 2);
  ASSERT_EQ(track_.TimeToSampleNumber(220, &sample), S_OK);
  EXPECT_EQ(sample, 4);
}

TEST_F(SampleLookupTest, SampleNumberToTimeWithinAndPastTheTable) {
  SetStts({{3, 20}});
  struct Case {
    LONGLONG sample;
    LONG units;
    LONGLONG start;
    LONGLONG end;
  };
  const Case cases[] = {{1, 1, 20, 40}, {0, 3, 0, 60}, {5, 1, 100, 120}, {5, 4, 100, 120}};
  for (const Case& c : cases) {
    LONGLONG start = 0;
    LONGLONG end = 0;
    ASSERT_EQ(track_.SampleNumberToTime(c.sample, &start, &end, c.units), S_OK);
    EXPECT_EQ(start, c.start) << c.sample;
    EXPECT_EQ(end, c.end) << c.sample;
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
  SetStsc({{1, 10, 1}, {3, 5, 1}});
  SetChunkOffsets({0, 1000, 2000, 3000});
  SetSizes(std::vector<DWORD>(40, 1));
  struct Case {
    LONGLONG sample;
    LONGLONG chunk;
    LONGLONG index;
    DWORD perChunk;
  };
  const Case cases[] = {{0, 0, 0, 10}, {19, 1, 9, 10}, {20, 2, 0, 5}, {27, 3, 2, 5}, {30, 4, 0, 5}};
  for (const Case& c : cases) {
    LONGLONG chunk = -1;
    LONGLONG index = -1;
    DWORD perChunk = 0;
    ASSERT_EQ(track_.SampleToChunk(c.sample, &chunk, &index, &perChunk), S_OK);
    EXPECT_EQ(chunk, c.chunk) << c.sample;
    EXPECT_EQ(index, c.index) << c.sample;
    EXPECT_EQ(perChunk, c.perChunk) << c.sample;
  }
  LONGLONG offset = 0;
  LONGLONG size = 0;
  LONG units = 0;
  EXPECT_EQ(track_.GetSampleLocation(27, &offset, &size, &units), S_OK);
  EXPECT_EQ(offset, 3002);
  // Chunk 4 is past the four chunk offsets: the end of the track.
  EXPECT_EQ(track_.GetSampleLocation(30, &offset, &size, &units), S_FALSE);
}

TEST_F(SampleLookupTest, PerSampleOffsetsSumTheChunkSoFar) {
  SetStsc({{1, 3, 1}});
  SetChunkOffsets({1000});
  SetSizes({100, 200, 300});
  const std::tuple<LONGLONG, LONGLONG, LONGLONG> cases[] = {{2, 1300, 300}, {0, 1000, 100}, {1, 1100, 200}};
  for (const auto& [sample, offset, size] : cases) {
    LONGLONG foundOffset = 0;
    LONGLONG foundSize = 0;
    LONG units = 0;
    ASSERT_EQ(track_.GetSampleLocation(sample, &foundOffset, &foundSize, &units), S_OK);
    EXPECT_EQ(foundOffset, offset) << sample;
    EXPECT_EQ(foundSize, size) << sample;
    EXPECT_EQ(units, 1);
  }
  LONGLONG offset = 0;
  LONGLONG size = 0;
  LONG units = 0;
  EXPECT_EQ(track_.GetSampleLocation(3, &offset, &size, &units), S_FALSE);
}

TEST_F(SampleLookupTest, BrokenChunkTablesAreReportedNotIndexed) {
  LONGLONG offset = 0;
  LONGLONG size = 0;
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
  using Info = std::tuple<HRESULT, LONGLONG, LONGLONG, LONGLONG, LONGLONG, LONG>;
  auto info = [&](LONGLONG sample) {
    Info row{};
    auto& [hr, start, end, offset, size, units] = row;
    hr = track_.GetSampleInfo(sample, &start, &end, &offset, &size, &units);
    return row;
  };
  std::vector<Info> backward(22);
  for (LONGLONG s = 21; s >= 0; --s) backward[s] = info(s);
  for (LONGLONG s = 0; s < 22; ++s) EXPECT_EQ(info(s), backward[s]) << "sample " << s;
  EXPECT_EQ(std::get<0>(backward[20]), S_FALSE);
  // Spot checks of the layout above: sample 6 is the 3rd of chunk 2, and
  // sample 9 alone in chunk 3.
  EXPECT_EQ(std::get<3>(backward[6]), 2000 + 14 + 15);
  EXPECT_EQ(std::get<1>(backward[6]), 57);
  EXPECT_EQ(std::get<3>(backward[9]), 3000);
}

TEST_F(SampleLookupTest, NewTableSetIsNotReadThroughTheOldCaches) {
  SetStts({{10, 10}});
  SetStsc({{1, 10, 1}});
  SetSizes(std::vector<DWORD>(10, 5));
  SetChunkOffsets({100});
  LONGLONG start = 0, end = 0, offset = 0, size = 0;
  LONG units = 0;
  ASSERT_EQ(track_.GetSampleInfo(8, &start, &end, &offset, &size, &units), S_OK);

  track_.sampleTable = std::make_unique<trakFragment>();
  SetStts({{2, 1}, {10, 100}});
  SetStsc({{1, 1, 1}});
  SetSizes(std::vector<DWORD>(12, 7));
  SetChunkOffsets(std::vector<ULONGLONG>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110});
  ASSERT_EQ(track_.GetSampleInfo(9, &start, &end, &offset, &size, &units), S_OK);
  EXPECT_EQ(start, 2 + 7 * 100);
  EXPECT_EQ(offset, 90);
  EXPECT_EQ(size, 7);
}

TEST_F(SampleLookupTest, PreviousSyncSampleSearches) {
  SetSync({1, 31, 61});
  const std::tuple<LONGLONG, LONGLONG, HRESULT> cases[] = {
      {0, 0, S_OK}, {30, 30, S_OK}, {45, 30, S_OK}, {100, 60, S_OK}, {-5, 0, S_FALSE}};
  for (const auto& [sample, sync, result] : cases) {
    LONGLONG found = -1;
    EXPECT_EQ(track_.PreviousSyncSample(sample, &found), result) << sample;
    EXPECT_EQ(found, sync) << sample;
  }
  SetSync({5, 31});
  LONGLONG found = -1;
  EXPECT_EQ(track_.PreviousSyncSample(2, &found), S_FALSE);
  EXPECT_EQ(found, 0);
  SetSync({});
  EXPECT_EQ(track_.PreviousSyncSample(17, &found), S_OK);
  EXPECT_EQ(found, 17);
}

TEST_F(SampleLookupTest, SyncSampleMarks) {
  // Each string is the sync marks of samples 0.. for the table.
  const std::pair<std::vector<DWORD>, std::string> cases[] = {
      {{1, 31}, "K" + std::string(29, '.') + "K."},
      {{}, "KKKK"},
      {{2, 3, 5}, ".KK.K."},
      // Out of order: the scan from the start stops at the first entry
      // above the sample, so sample 0 is not found behind 31.
      {{31, 1, 3}, "......"},
  };
  for (const auto& [table, marks] : cases) {
    // Each table set is filled once, as the parser fills it.
    track_.sampleTable = std::make_unique<trakFragment>();
    SetSync(table);
    std::string found;
    for (size_t s = 0; s < marks.size(); ++s) found += track_.IsSyncSample(static_cast<LONGLONG>(s)) ? 'K' : '.';
    EXPECT_EQ(found, marks);
  }
}

TEST_F(SampleLookupTest, PreviousSyncSampleAtTimeGoesThroughTheTimeTable) {
  SetStts({{10, 100}});
  SetSync({1, 5});
  LONGLONG sync = -1;
  ASSERT_EQ(track_.PreviousSyncSampleAtTime(650, &sync), S_OK);
  EXPECT_EQ(sync, 4);
  track_.sampleTable.reset();
  EXPECT_EQ(track_.PreviousSyncSampleAtTime(650, &sync), S_FALSE);
  EXPECT_EQ(sync, 0);
}

TEST_F(SampleLookupTest, FramedVideoFormatsAreExactFourCCs) {
  const std::pair<const char*, BOOL> cases[] = {{"avc1", TRUE}, {"mp4v", TRUE},  {"s263", TRUE},
                                                {"vc-1", TRUE}, {"vc1 ", FALSE}, {"hvc1", FALSE}};
  track_.mediaKind = kMediaKindVideo;
  for (const auto& [format, framed] : cases) {
    Box header;
    header.type = LoadBigEndian32(reinterpret_cast<const BYTE*>(format));
    SetEntry(new SampleEntry(header, &track_, kSampleEntryVideo));
    EXPECT_EQ(track_.IsFramedVideoFormat(), framed) << format;
  }
  track_.mediaKind = kMediaKindSound;
  EXPECT_FALSE(track_.IsFramedVideoFormat());
}

class PcmLayoutTest : public SampleLookupTest {
 protected:
  void SetUpPcm(const char (&format)[5], WORD channels, WORD bits) {
    Box header;
    header.type = FourCC(format);
    SetEntry(new PcmEntry(header, &track_, channels, bits));
    track_.mediaKind = kMediaKindSound;
    track_.timescale = 44100;
    SetStts({{4410 * 3, 1}});
    SetStsc({{1, 4410, 1}});
    SetChunkOffsets({1000, 50000, 90000});
    Table().constantSampleSize = 1;
  }
};

TEST_F(PcmLayoutTest, TwosUnitsRunToTheEndOfTheirChunk) {
  SetUpPcm("twos", 2, 16);
  track_.PreparePcmLayout();
  EXPECT_EQ(Table().constantSampleSize, 4u);
  EXPECT_EQ(track_.pcmFlags, kPcmWholeChunkUnits | kPcmSwapBytes);
  LONGLONG offset = 0;
  LONGLONG size = 0;
  LONG units = 0;
  ASSERT_EQ(track_.GetSampleLocation(4410 + 10, &offset, &size, &units), S_OK);
  EXPECT_EQ(offset, 50000 + 40);
  EXPECT_EQ(size, 4 * 4400);
  EXPECT_EQ(units, 4400);
  EXPECT_EQ(track_.GetMaxSampleSize(), 4u * 4410);

  // The delivery walk: one unit per chunk, times covering the whole chunk.
  std::vector<std::pair<LONGLONG, LONGLONG>> rows;
  for (LONGLONG s = 0;;) {
    LONGLONG start = 0, end = 0;
    if (track_.GetSampleInfo(s, &start, &end, &offset, &size, &units) != S_OK) break;
    rows.emplace_back(start, end);
    s += units;
  }
  EXPECT_EQ(rows, (std::vector<std::pair<LONGLONG, LONGLONG>>{{0, 4410}, {4410, 8820}, {8820, 13230}}));
}

TEST_F(PcmLayoutTest, LittleEndianAndEightBitPcmAreNotSwapped) {
  SetUpPcm("sowt", 2, 16);
  track_.PreparePcmLayout();
  EXPECT_EQ(track_.pcmFlags, kPcmWholeChunkUnits);
  SetUpPcm("twos", 1, 8);
  track_.PreparePcmLayout();
  EXPECT_EQ(track_.pcmFlags, kPcmWholeChunkUnits);
  EXPECT_EQ(Table().constantSampleSize, 1u);
}

TEST_F(PcmLayoutTest, PerSampleSizesAreScaledByTheFrameSize) {
  SetUpPcm("raw ", 2, 8);
  Table().constantSampleSize = 0;
  SetSizes({10, 20});
  track_.PreparePcmLayout();
  EXPECT_EQ(track_.pcmFlags, 0u);
  EXPECT_EQ(Table().sampleSizes[0], 20u);
  EXPECT_EQ(Table().sampleSizes[1], 40u);
}

TEST_F(PcmLayoutTest, OtherFormatsAndKindsAreLeftAlone) {
  SetUpPcm("ulaw", 1, 8);
  track_.PreparePcmLayout();
  EXPECT_EQ(Table().constantSampleSize, 1u);
  SetUpPcm("twos", 2, 16);
  track_.mediaKind = kMediaKindVideo;
  track_.PreparePcmLayout();
  EXPECT_EQ(track_.pcmFlags, 0u);
  EXPECT_EQ(Table().constantSampleSize, 1u);
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
  // 1000 × 6e9 bytes over 1000 units: 6e9 per second, low 32 bits.
  EXPECT_EQ(track_.GetBytesPerSecond(), static_cast<DWORD>(6000000000ull));
  EXPECT_EQ(track_.GetMaxSampleSize(), 3000000000u);
}

TEST_F(SampleLookupTest, ConstantSizeTotalsCountTheSamples) {
  SetStts({{10, 1}});
  Table().constantSampleSize = 4;
  track_.timescale = 10;
  EXPECT_EQ(track_.GetTotalSampleBytes(), 40u);
  EXPECT_EQ(track_.GetAverageSampleSize(), 4u);
  EXPECT_EQ(track_.GetBytesPerSecond(), 40u);
  EXPECT_EQ(track_.GetMaxSampleSize(), 4u);
}

TEST_F(SampleLookupTest, TrackMediaTypeCarriesTheTrackSizeAndCompression) {
  Box header;
  header.type = FourCC("avc1");
  SetEntry(new OneTypeEntry(header, &track_));
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

TEST_F(SampleLookupTest, ReadFirstSampleIsCutToTheSampleSize) {
  SetStsc({{1, 2, 1}});
  SetChunkOffsets({8});
  SetSizes({3, 40});
  BYTE bytes[16] = {};
  LONGLONG length = sizeof bytes;
  ASSERT_EQ(track_.ReadFirstSample(bytes, &length), S_OK);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(bytes[2], 0xAB);
  EXPECT_EQ(bytes[3], 0);
  ASSERT_EQ(source_->Reads().back().position, 8);
}

}  // namespace
