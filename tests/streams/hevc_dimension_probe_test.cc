// H.265 entries written without a picture size: the first media-type
// request fills width and height from the parameter sets (of the hvcC, else
// of the first samples) and leaves a well-formed hvcC box as the payload.
// A decoder sized from a wrong picture, or handed a broken hvcC, fails.
#include "h265_stream_builder.h"
#include "sample_entry_fixtures.h"

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
  // asks for media type 0; then the entry's size, payload and probe flag.
  std::tuple<std::string, Bytes, int> Probe(const Bytes& children, const std::vector<Bytes>& samples = {kDelimiter},
                                            uint16_t height = 0, const char* format = "hvc1") {
    movie_ = ParseMediaTypeMovie(
        {.format = format, .entryBody = VisualEntryBody(0, height, children), .samples = samples});
    if (source_) movie_.Track(0).SetReader(source_.Get());
    EXPECT_EQ(TrackType(movie_, 0, &type_), S_OK);
    const auto& v = dynamic_cast<const VideoSampleEntry&>(*movie_.Track(0).sampleEntry);
    return {std::to_string(v.width) + "x" + std::to_string(v.height), Slice(v.payload), v.dimensionsProbed};
  }

  ParsedMovie movie_;
  CMediaType type_;
  ComPtr<MemorySource> source_;  // when set, the track reads through it
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
    EXPECT_EQ(Probe(children.Data(), {kDelimiter}, 100, format), std::make_tuple("176x100", rebuilt, 1)) << format;
    const BITMAPINFOHEADER bitmap = FormatBlock<VIDEOINFOHEADER>(type_).bmiHeader;
    EXPECT_EQ(std::make_pair(bitmap.biWidth, bitmap.biHeight), std::make_pair(176, 100)) << format;
    EXPECT_EQ(BlockTail(type_, sizeof(VIDEOINFOHEADER)), rebuilt) << format;
    // The FourCC type keeps the configuration as the file had it.
    ASSERT_EQ(TrackType(movie_, 1, &type_), S_OK) << format;
    EXPECT_EQ(BlockTail(type_, sizeof(VIDEOINFOHEADER)), record_) << format;
  }
  // An entry with a size is left as written.
  movie_ = ParseMediaTypeMovie({.format = "hvc1", .entryBody = VisualEntryBody(640, 360, box_)});
  ASSERT_EQ(TrackType(movie_, 0, &type_), S_OK);
  const auto& video = dynamic_cast<const VideoSampleEntry&>(*movie_.Track(0).sampleEntry);
  EXPECT_EQ(std::make_tuple(video.width, video.height, Slice(video.payload)), std::make_tuple(640, 360, box_));
}

TEST_F(HevcDimensionProbeTest, ParameterSetsInSampleTwoAreFoundAfterReadingThreeSamples) {
  const Bytes sets = AnnexB({MakeVps(), MakeSps(), MakePps()}, true);  // 176x104
  source_ = MemorySource::Create(Concat(Bytes(8 + 7 + 7), sets));
  EXPECT_EQ(std::get<0>(Probe({}, {kDelimiter, kDelimiter, sets, kDelimiter})), "176x104");
  ASSERT_EQ(source_->ReadCount(), 3u);
  EXPECT_EQ(source_->Reads()[2].position, 22) << "samples 0 and 1 are 7 bytes each";
}

TEST_F(HevcDimensionProbeTest, MalformedOrMissingParameterSetsLeaveTheEntryAlone) {
  // The record holds a 24-byte VPS, a 41-byte SPS and a 7-byte PPS, each in an array of its own.
  Bytes malformedSps = box_, noPps(box_.begin(), box_.end() - 12);
  malformedSps[8 + 23 + 29 + 5 + 2] |= 0x0E;  // sps_max_sub_layers_minus1 7
  noPps[3] -= 12, noPps[8 + 22] = 2;
  const Bytes sets = AnnexB({MakeVps(), MakeSps(), MakePps()}, true);
  const std::pair<Bytes, std::vector<Bytes>> rows[] = {
      {malformedSps, {kDelimiter}},
      {noPps, {kDelimiter}},
      {Bytes(box_.begin(), box_.end() - 5), {kDelimiter}},
      {{}, {kDelimiter, kDelimiter, kDelimiter, kDelimiter, sets}},  // only sample 4 has them
      {{}, {{0, 0, 1, 0, 0x40, 0x01}}},                            // a length past the sample
  };
  for (const auto& [children, samples] : rows) EXPECT_EQ(Probe(children, samples), std::make_tuple("0x0", children, 1));
  // Once probed, the entry is not probed again.
  source_ = MemorySource::Create(Bytes(8 + 7));
  Probe({});
  ASSERT_EQ(TrackType(movie_, 1, &type_), S_OK);
  EXPECT_EQ(source_->ReadCount(), 1u);
}

}  // namespace
