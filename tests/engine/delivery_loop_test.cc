// The delivery loop as a player sees it: which samples arrive, in which
// order, with which times, marks and bytes, for segments, rates, seeks and
// the per-format byte handling.
#include "delivery_fixture.h"

#include "engine/output_pin.h"
#include "platform/crc32.h"
#include "platform/fourcc.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

using namespace dmxtest;

constexpr REFERENCE_TIME kSecond = 10000000;
// Read on its own, never through the chunk window.
constexpr size_t kOwnReadBytes = CChunkReader::kDirectReadBytes;

StreamSpec SowtStream(int count) {
  StreamSpec spec;
  spec.handler = "soun";
  spec.mediaHeader = "smhd";
  spec.format = "sowt";
  spec.entryBody = SoundEntryBody(1, 16, 1000);
  spec.timescale = 1000;
  spec.bytesPerSizeUnit = 2;
  for (int i = 0; i < count; ++i) {
    spec.durations.push_back(250);
    spec.samples.push_back({static_cast<uint8_t>(i), 0x10, 0x20, static_cast<uint8_t>(0x80 + i)});
  }
  return spec;
}

// Video whose sample i holds sizes[i] bytes that differ by stream, sample
// and position, so that bytes served from the wrong place show in the CRC.
StreamSpec PatternStream(uint8_t tag, const std::vector<size_t>& sizes, uint32_t samplesPerChunk) {
  StreamSpec spec = VideoStream("jpeg", static_cast<int>(sizes.size()), 1000, 0);
  spec.samplesPerChunk = samplesPerChunk;
  for (size_t i = 0; i < sizes.size(); ++i) {
    for (size_t j = 0; j < sizes[i]; ++j) spec.samples[i].push_back(static_cast<uint8_t>(tag + i * 31 + j * 7));
  }
  return spec;
}

// Reads follow the layout, not the samples: one source read serves a
// track's small samples across the short gaps of other tracks' chunks,
// stops at a long gap, a sample too big for the window is read on its own,
// and a file cut inside a chunk still delivers what lies before the cut.
TEST(DeliveryLoopTest, ChunksAreReadOnceAndServeTheirSamplesWhole) {
  constexpr size_t kBig = CChunkReader::kChunkWindowBytes + 1000;
  constexpr size_t kLongGap = CChunkReader::kChunkGapBytes + 1;
  const struct Case {
    const char* name;
    std::vector<StreamSpec> streams;
    LONGLONG cutInMdat;  // bytes of the "mdat" payload kept; 0 keeps all
    std::vector<size_t> delivered;
    LONG reads;  // -1: not counted
  } cases[] = {
      {"short gaps", {PatternStream(1, {40, 41, 42, 43, 44, 45, 46}, 3), PatternStream(2, {24, 25, 26, 27, 28}, 2)},
       0, {7, 5}, 2},
      {"long gaps", {PatternStream(3, {40, 41, 42, 43}, 2), PatternStream(4, {kLongGap, kLongGap}, 1)}, 0, {4, 2}, 3},
      {"sample above the window", {PatternStream(5, {100, kBig, 100, 100}, 0)}, 0, {4}, 3},
      // Chunk 1 starts at 5 × 40 bytes; the cut falls inside its sample 7.
      {"cut inside a chunk", {PatternStream(6, std::vector<size_t>(10, 40), 5)}, 7 * 40 + 10, {7}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeliveryRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.Build(c.streams));
    if (c.cutInMdat != 0) rig.source->CutAt(8 + c.cutInMdat);
    const size_t readsBefore = rig.source->ReadCount();
    ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);
    if (c.reads >= 0) {
      EXPECT_EQ(LONG(rig.source->ReadCount() - readsBefore), c.reads);
    }
    for (size_t k = 0; k < c.streams.size(); ++k) {
      const std::vector<SinkSample> samples = rig.sinks[k]->Samples();
      ASSERT_EQ(samples.size(), c.delivered[k]) << k;
      for (size_t i = 0; i < samples.size(); ++i) {
        const std::vector<uint8_t>& bytes = c.streams[k].samples[i];
        EXPECT_EQ(samples[i].crc32, Crc32(bytes.data(), bytes.size())) << k << " " << i;
      }
      EXPECT_EQ(rig.sinks[k]->EndOfStreamCount(), 1) << k;
    }
  }
}

TEST(DeliveryLoopTest, StreamTimesAreRelativeToTheSegmentAndDividedByTheRate) {
  // 20 one-second samples, all key frames or (`keys`) every third; the
  // segment; the first sample delivered, its stream times and preroll mark.
  using Case = std::tuple<const char*, bool, REFERENCE_TIME, double, LONGLONG, REFERENCE_TIME, REFERENCE_TIME, bool>;
  const Case cases[] = {
      {"jpeg", false, 10 * kSecond, 2.0, 10, 0, kSecond / 2, false},
      // Sample 10 ends 1 ms after the start: still preroll; 2 ms: not.
      {"jpeg", false, 11 * kSecond - 10000, 1.0, 10, -kSecond + 10000, 10000, true},
      {"jpeg", false, 11 * kSecond - 20000, 1.0, 10, -kSecond + 20000, 20000, false},
      {"jpeg", false, 3 * kSecond, 0.5, 3, 0, 2 * kSecond, false},
      // From the key frame before the start; framed video one key frame earlier.
      {"jpeg", true, 7 * kSecond + kSecond / 2, 1.0, 6, -kSecond - kSecond / 2, -kSecond / 2, true},
      {"mp4v", true, 7 * kSecond + kSecond / 2, 1.0, 3, -4 * kSecond - kSecond / 2, -3 * kSecond - kSecond / 2, true},
  };
  for (const auto& [format, keys, start, rate, firstSample, firstStart, firstStop, preroll] : cases) {
    SCOPED_TRACE(std::string(format) + " from " + std::to_string(start));
    StreamSpec video = VideoStream(format, 20);
    if (keys) video.syncSamples = std::vector<uint32_t>{1, 4, 7, 10, 13, 16, 19};
    DeliveryRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.Build({video}));
    rig.SetSegment(start, rate);
    ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);
    const std::vector<SinkSample> samples = rig.sinks[0]->Samples();
    ASSERT_EQ(samples.size(), static_cast<size_t>(20 - firstSample));
    EXPECT_EQ(std::make_tuple(samples[0].mediaStart, samples[0].start, samples[0].stop, samples[0].preroll),
              std::make_tuple(firstSample, firstStart, firstStop, preroll));
    EXPECT_FALSE(samples.back().preroll);
    // Two samples further on: (12 s - 10 s) / 2 at rate 2.
    if (rate == 2.0) {
      EXPECT_EQ(samples[2].start, kSecond);
    }
  }
  // A sample that ends before it starts gets one unit of duration.
  StreamSpec video = VideoStream("jpeg", 3);
  video.durations = {1000, -500, 1000};
  DeliveryRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Build({video}));
  ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);
  ASSERT_EQ(rig.sinks[0]->Samples().size(), 3u);
  EXPECT_EQ(std::make_pair(rig.sinks[0]->Samples()[1].start, rig.sinks[0]->Samples()[1].stop),
            std::make_pair(kSecond, kSecond + 1));
}

TEST(DeliveryLoopTest, ReverseVideoDeliversOnlyKeyFramesBackwardsAndReverseAudioOnlyEndOfStream) {
  StreamSpec video = VideoStream("mp4v", 12);
  video.syncSamples = std::vector<uint32_t>{1, 4, 7, 10};
  DeliveryRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Build({video, SowtStream(8)}));
  rig.SetSegment(9 * kSecond + kSecond / 2, -1.0);
  ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);
  EXPECT_EQ(rig.SampleNumbers(0), (std::vector<LONGLONG>{9, 6, 3, 0}));
  const std::vector<SinkSample> frames = rig.sinks[0]->Samples();
  // Stream times run forward: the start minus each frame's end.
  EXPECT_EQ(std::make_tuple(frames[0].start, frames[0].stop, frames[1].start),
            std::make_tuple(-kSecond / 2, kSecond / 2, 2 * kSecond + kSecond / 2));
  ASSERT_EQ(rig.sinks[0]->Segments().size(), 1u);
  const SinkSegment segment = rig.sinks[0]->Segments()[0];
  EXPECT_EQ(std::make_pair(segment.rate, segment.stop), std::make_pair(-1.0, REFERENCE_TIME{0}));
  EXPECT_EQ(rig.sinks[1]->Sequence(), "E");
}

TEST(DeliveryLoopTest, BigEndianPcmIsSwappedSigned8BitBiasedAndYuv2ChromaBiased) {
  StreamSpec twos = SowtStream(2);
  twos.format = "twos";
  twos.samples = {{0x12, 0x34, 0x56, 0x78}, {0xAB, 0xCD, 0x00, 0x01}};
  StreamSpec twos8 = SowtStream(1);
  twos8.format = "twos";
  twos8.entryBody = SoundEntryBody(1, 8, 1000);
  twos8.bytesPerSizeUnit = 1;
  twos8.samples = {{0x00, 0x7F, 0x80, 0xFF}};
  StreamSpec yuv2 = VideoStream("yuv2", 1, 1000, 8);
  yuv2.samples = {{0x00, 0x00, 0x10, 0xF0, 0x20, 0x7F, 0x30, 0x80}};
  DeliveryRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Build({twos, twos8, yuv2}));
  ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);
  const std::vector<std::vector<uint8_t>> delivered = {
      {0x34, 0x12, 0x78, 0x56}, {0x80, 0xFF, 0x00, 0x7F}, {0x00, 0x80, 0x10, 0x70, 0x20, 0xFF, 0x30, 0x00}};
  for (size_t k = 0; k < delivered.size(); ++k) {
    ASSERT_FALSE(rig.sinks[k]->Samples().empty()) << k;
    EXPECT_EQ(rig.sinks[k]->Samples()[0].crc32, Crc32(delivered[k].data(), delivered[k].size())) << k;
    ASSERT_NE(rig.dmx->GetOutputPin(static_cast<int>(k))->Converter(), nullptr) << k;
  }
}

TEST(DeliveryLoopTest, SeekWithoutFlushResendsTheSegmentWithoutEndOfStream) {
  DeliveryRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Build({VideoStream("jpeg", 12, 1000, kOwnReadBytes)}));
  rig.source->CloseAt(8 + 3 * kOwnReadBytes);
  ASSERT_EQ(rig.control->Run(), S_OK);
  ASSERT_TRUE(rig.source->WaitUntilHeld());
  LONGLONG start = 8 * kSecond;
  ASSERT_EQ(rig.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning | AM_SEEKING_NoFlush, nullptr,
                                   AM_SEEKING_NoPositioning),
            S_OK);
  rig.source->Open();
  LONG code = 0;
  ASSERT_EQ(rig.events->WaitForCompletion(10000, &code), S_OK);
  // The sample in progress still goes out, then the loop starts over.
  EXPECT_EQ(rig.sinks[0]->Sequence(), "NSSSSNSSSSE");
  EXPECT_EQ(rig.SampleNumbers(0), (std::vector<LONGLONG>{0, 1, 2, 3, 8, 9, 10, 11}));
  const std::vector<SinkSample> samples = rig.sinks[0]->Samples();
  // Only the first sample of the Process call is discontinuous.
  for (size_t i = 1; i < samples.size(); ++i) EXPECT_FALSE(samples[i].discontinuity) << i;
  EXPECT_EQ(samples[4].start, 0);
}

TEST(DeliveryLoopTest, StopWhileAReadWaitsEndsTheWorker) {
  DeliveryRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Build({VideoStream("jpeg", 4), SowtStream(4)}));
  rig.source->CloseAt(8 + 40);
  ASSERT_EQ(rig.control->Pause(), S_OK);
  ASSERT_TRUE(rig.source->WaitUntilHeld());
  ASSERT_EQ(rig.control->Stop(), S_OK);
  EXPECT_FALSE(rig.dmx->GetOutputPin(0)->ThreadExists());
  EXPECT_FALSE(rig.dmx->GetOutputPin(1)->ThreadExists());
}

TEST(DeliveryLoopTest, BrokenTableIsReportedToTheGraphAsAnAbort) {
  // A chunk claiming no samples: the lookup of sample 0 fails.
  StreamSpec video = VideoStream("jpeg", 2);
  DeliveryRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Build({video}));
  rig.movie.Track(0).sampleTable->sampleToChunk[0].samplesPerChunk = 0;
  EXPECT_EQ(rig.RunToEnd(), EC_ERRORABORT);
  const auto events = rig.TakeEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), std::make_pair(LONG{EC_ERRORABORT}, LONG_PTR{VFW_E_INVALID_FILE_FORMAT}));
  EXPECT_EQ(rig.sinks[0]->Sequence(), "N");
}

}  // namespace
