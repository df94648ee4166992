#include "streams/hvcc_record.h"

#include "streams/mini_parser_h265.h"

#include "h265_stream_builder.h"

#include <gtest/gtest.h>

namespace {

using namespace h265_test;

Bytes Build(const Bytes& stream, int mode) {
  Bytes out;
  EXPECT_EQ(BuildHvcC(stream.data(), stream.size(), &out, mode), S_OK);
  return out;
}

Bytes StartCodes(const Bytes& config) {
  Bytes out;
  EXPECT_EQ(ConfigToStartCodes(config.data(), config.size(), &out), S_OK);
  return out;
}

class HvcCRecordTest : public ::testing::Test {
 protected:
  const Bytes stream_ = LoadTestFile("hevc/crop_420_176x100.hevc");
  const Bytes sets_{stream_.begin(), stream_.begin() + 84};  // VPS, SPS, PPS
  // What a muxer wrote for the same stream, as an "hvcC" box: arrays of the
  // 24-byte VPS, 41-byte SPS and 7-byte PPS at 23, 52 and 98.
  const Bytes box_ = LoadTestFile("hevc/crop_420_176x100.hvcC");
  const Bytes record_{box_.begin() + 8, box_.end()};
};

TEST_F(HvcCRecordTest, BuildMatchesAMuxersRecordInEveryMode) {
  ASSERT_EQ(box_.size(), 118u);
  // The muxer counts one temporal layer; ours leaves numTemporalLayers 0.
  Bytes complete = record_, incomplete;
  ASSERT_EQ(complete[21], 0x0F);
  complete[21] = 0x07;
  incomplete = complete;
  for (size_t array : {23, 52, 98}) incomplete[array] &= 0x7F;
  const Bytes boxHeader = {0, 0, 0, 118, 'h', 'v', 'c', 'C'};
  EXPECT_EQ(Build(stream_, kHvcCRecordComplete), complete);
  EXPECT_EQ(Build(stream_, kHvcCRecordIncomplete), incomplete);
  EXPECT_EQ(Build(stream_, kHvcCBoxComplete), Concat(boxHeader, complete));
  EXPECT_EQ(Build(stream_, kHvcCBoxIncomplete), Concat(boxHeader, incomplete));
  // Without a PPS (the VPS and SPS alone), or in a mode of no meaning, nothing is written.
  Bytes out = {0xAA};
  EXPECT_EQ(BuildHvcC(stream_.data(), 4 + 24 + 4 + 41, &out, kHvcCRecordComplete), E_INVALIDARG);
  EXPECT_EQ(BuildHvcC(stream_.data(), stream_.size(), &out, 4), E_INVALIDARG);
  EXPECT_EQ(out, Bytes{0xAA});
  // Back to start codes, boxed or bare, and through the parser: the
  // seven-byte PPS ends the data and still counts.
  EXPECT_EQ(StartCodes(box_), sets_);
  EXPECT_EQ(StartCodes(record_), sets_);
  H265StreamInfo info;
  Bytes startCodes;
  ASSERT_EQ(ParseH265Config(box_.data(), box_.size(), &startCodes, &info), S_OK);
  EXPECT_EQ(std::make_pair(info.pictureWidth, info.pictureHeight), std::make_pair(176, 100));
}

TEST(BuildHvcCTest, ArraysListEveryUnitInTypeOrderAndTheHeadComesFromTheSps) {
  const Bytes sei = NalUnit(39, {0x05, 0x02, 0xAB, 0xCD});
  const Bytes first = MakeSps({.temporalIdNesting = false, .chromaFormatIdc = 2, .bitDepthLumaMinus8 = 2,
                                .bitDepthChromaMinus8 = 4, .vui = true, .minSpatialSegmentationIdc = 0x123});
  const Bytes second = MakeSps({.id = 1}), secondPps = MakePps({.id = 1, .spsId = 1});
  const Bytes record =
      Build(AnnexB({sei, MakePps(), first, MakeVps(), second, kSlice, sei, secondPps}), kHvcCRecordComplete);
  EXPECT_EQ(StartCodes(record), AnnexB({MakeVps(), first, second, MakePps(), secondPps, sei, sei}));
  // Version 1; Main profile; compatible with Main and Main 10; progressive,
  // frame only; level 3.1; min_spatial_segmentation_idc; parallelism; 4:2:2,
  // 10 and 12 bits; no average frame rate; not nested, 4-byte lengths; four arrays.
  const Bytes head = {1, 1, 0x60, 0, 0, 0, 0x90, 0, 0, 0, 0, 0, 93, 0xF1, 0x23, 0xFC, 0xFE, 0xFA, 0xFC, 0, 0, 3, 4};
  EXPECT_EQ(Bytes(record.begin(), record.begin() + kHvcCRecordHeadSize), head);
}

TEST_F(HvcCRecordTest, BadBoxesAndRecordsGiveTheirCodes) {
  const auto box = [](uint8_t size, const Bytes& body) { return Concat({0, 0, 0, size, 'h', 'v', 'c', 'C'}, body); };
  Bytes unitPastEnd = record_, missingArray = record_;
  unitPastEnd[kHvcCRecordHeadSize + 3] = 0x7F;  // the VPS length
  missingArray[22] = 4;
  const Bytes head(record_.begin(), record_.begin() + 22);
  const std::pair<Bytes, HRESULT> cases[] = {
      {box(8, record_), VFW_E_INVALID_MEDIA_TYPE},
      {box(119, record_), VFW_E_INVALID_MEDIA_TYPE},                  // past the input
      {Concat({'h', 'v', 'c', 'C'}, record_), VFW_E_INVALID_MEDIA_TYPE},  // no room for a size
      {box(9, record_), E_FAIL},
      {head, E_FAIL},
      {box(30, head), E_FAIL},
      {unitPastEnd, E_FAIL},
      {missingArray, E_FAIL},
      {Bytes(record_.begin(), record_.begin() + kHvcCRecordHeadSize + 2), E_FAIL},  // cut in an array header
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    Bytes out = {0xAA};
    EXPECT_EQ(ConfigToStartCodes(cases[i].first.data(), cases[i].first.size(), &out), cases[i].second) << i;
    EXPECT_EQ(out, Bytes{0xAA}) << i << ": output untouched";
  }
  // A record with no arrays is well formed but holds no parameter sets.
  Bytes empty = Concat({1}, Bytes(kHvcCRecordHeadSize - 1)), out;
  H265StreamInfo info;
  EXPECT_EQ(ParseH265Config(empty.data(), empty.size(), &out, &info), kParameterSetsIncomplete);
  EXPECT_EQ(out, Bytes{});
}

}  // namespace
