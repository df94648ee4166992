// H.265 entries written without a picture size: the first media-type
// request fills width and height from the parameter sets (of the hvcC, else
// of the first samples) and leaves a well-formed hvcC box as the payload.
// A decoder sized from a wrong picture, or handed a broken hvcC, fails.
#include "h265_stream_builder.h"
#include "sample_entry_fixtures.h"
#include "test_files.h"

#include "streams/hvcc_record.h"
#include "streams/video_sample_entry.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

using namespace h265_test;

// An access unit delimiter: a unit that is no parameter set.
const Bytes kDelimiter = {0, 0, 0, 3, 0x46, 0x01, 0x50};

class HevcDimensionProbeTest : public ::testing::Test {
 protected:
  // Parses an "hvc1" track whose entry has the size and children given, and
  // asks for media type 0.
  void Probe(const Bytes& children, std::vector<Bytes> samples = {kDelimiter}, uint16_t width = 0,
             uint16_t height = 0, const char* format = "hvc1") {
    movie_ = ParseMediaTypeMovie({.format = format, .entryBody = VisualEntryBody(width, height, children), .samples = samples});
    if (source_) movie_.Track(0).SetReader(source_.Get());
    ASSERT_EQ(TrackType(movie_, 0, &type_), S_OK);
  }
  const VideoSampleEntry& Video() const { return dynamic_cast<const VideoSampleEntry&>(*movie_.Track(0).sampleEntry); }
  static Bytes HvcC(const Bytes& record) {
    BoxBuilder b;
    return b.Box("hvcC", [&] { b.Bytes(record); }).Data();
  }

  ParsedMovie movie_;
  CMediaType type_;
  // When set, the track reads through it.
  ComPtr<MemorySource> source_;
  // A muxer's hvcC box for a 176x104 stream cropped to 176x100, and the
  // stream's own VPS, SPS and PPS.
  const Bytes box_ = LoadTestFile("hevc/crop_420_176x100.hvcC");
  const Bytes record_{box_.begin() + 8, box_.end()};
  const Bytes stream_ = LoadTestFile("hevc/crop_420_176x100.hevc");
};

TEST_F(HevcDimensionProbeTest, ConfigGivesTheCroppedSizeAndBecomesTheOnlyPayloadBox) {
  Bytes rebuilt;
  ASSERT_EQ(BuildHvcC(stream_.data(), 84, &rebuilt, kHvcCBoxIncomplete), S_OK);
  BoxBuilder children;
  children.Bytes(box_).Box("btrt", [&] { children.Zeros(12); });
  for (const char* format : {"hvc1", "hev1"}) {
    Probe(children.Data(), {kDelimiter}, 0, 100, format);
    EXPECT_EQ(std::make_pair(Video().width, Video().height), std::make_pair(WORD{176}, WORD{100})) << format;
    EXPECT_EQ(Slice(Video().payload), rebuilt) << format;
    const BITMAPINFOHEADER bitmap = FormatBlock<VIDEOINFOHEADER>(type_).bmiHeader;
    EXPECT_EQ(std::make_pair(bitmap.biWidth, bitmap.biHeight), std::make_pair(176, 100)) << format;
    EXPECT_EQ(BlockTail(type_, sizeof(VIDEOINFOHEADER)), rebuilt) << format;
    // The FourCC type keeps the configuration as the file had it.
    ASSERT_EQ(TrackType(movie_, 1, &type_), S_OK) << format;
    EXPECT_EQ(BlockTail(type_, sizeof(VIDEOINFOHEADER)), record_) << format;
  }
  Probe(box_, {kDelimiter}, 640, 360);
  EXPECT_EQ(std::make_pair(Video().width, Video().height), std::make_pair(WORD{640}, WORD{360})) << "a size is kept";
  EXPECT_EQ(Slice(Video().payload), box_);
}

TEST_F(HevcDimensionProbeTest, ParameterSetsInSampleTwoAreFoundAfterReadingThreeSamples) {
  const Bytes sets = AnnexB({MakeVps(), MakeSps(), MakePps()}, true);  // 176x104
  Bytes file(8 + 7 + 7);
  file.insert(file.end(), sets.begin(), sets.end());
  source_ = MemorySource::Create(file);
  Probe({}, {kDelimiter, kDelimiter, sets, kDelimiter});
  EXPECT_EQ(std::make_pair(Video().width, Video().height), std::make_pair(WORD{176}, WORD{104}));
  std::vector<LONGLONG> positions;
  for (const MemorySource::ReadCall& read : source_->Reads()) positions.push_back(read.position);
  EXPECT_EQ(positions, (std::vector<LONGLONG>{8, 15, 22}));
}

TEST_F(HevcDimensionProbeTest, ProbeRunsOnceEvenWhenItFindsNothing) {
  source_ = MemorySource::Create(Bytes(8 + 7));
  Probe({});
  ASSERT_EQ(TrackType(movie_, 1, &type_), S_OK);
  EXPECT_EQ(source_->ReadCount(), 1u);
}

TEST_F(HevcDimensionProbeTest, MalformedOrMissingParameterSetsLeaveTheEntryAlone) {
  // The record holds a 24-byte VPS, a 41-byte SPS and a 7-byte PPS, each in an array of its own.
  Bytes malformedSps = record_, noPps(record_.begin(), record_.end() - 12);
  malformedSps[23 + 29 + 5 + 2] |= 0x0E;  // sps_max_sub_layers_minus1 7
  noPps[22] = 2;
  const Bytes sets = AnnexB({MakeVps(), MakeSps(), MakePps()}, true);
  const std::pair<Bytes, std::vector<Bytes>> rows[] = {
      {HvcC(malformedSps), {kDelimiter}},
      {HvcC(noPps), {kDelimiter}},
      {Bytes(box_.begin(), box_.end() - 5), {kDelimiter}},
      {{}, {kDelimiter, kDelimiter, kDelimiter, kDelimiter, sets}},  // only sample 4 has them
      {{}, {{0, 0, 1, 0, 0x40, 0x01}}},                            // a length past the sample
  };
  for (const auto& [children, samples] : rows) {
    Probe(children, samples);
    EXPECT_EQ(std::make_pair(Video().width, Video().height), std::make_pair(WORD{0}, WORD{0}));
    EXPECT_EQ(Slice(Video().payload), children);
    EXPECT_EQ(Video().dimensionsProbed, 1);
  }
}

}  // namespace
