#include "streams/hvcc_record.h"

#include "streams/mini_parser_h265.h"

#include "support/box_builder.h"
#include "h265_stream_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>

namespace {

using namespace h265_test;
using Shape = std::vector<std::pair<uint8_t, int>>;

// The arrays of a bare record as (type byte, unit count) pairs.
Shape ArrayShape(const Bytes& record) {
  Shape shape;
  size_t at = kHvcCRecordHeadSize;
  for (int array = 0; array < record[22]; ++array) {
    const int count = (record[at + 1] << 8) | record[at + 2];
    shape.emplace_back(record[at], count);
    at += 3;
    for (int unit = 0; unit < count; ++unit) at += 2 + ((record[at] << 8) | record[at + 1]);
  }
  EXPECT_EQ(at, record.size()) << "the arrays fill the record exactly";
  return shape;
}

Bytes Build(const Bytes& stream, int mode) {
  Bytes out;
  EXPECT_EQ(BuildHvcC(stream.data(), stream.size(), &out, mode), S_OK);
  return out;
}

class HvcCRecordTest : public ::testing::Test {
 protected:
  const Bytes stream_ = LoadTestFile("hevc/crop_420_176x100.hevc");
  // What a muxer wrote for the same stream, as an "hvcC" box.
  const Bytes box_ = LoadTestFile("hevc/crop_420_176x100.hvcC");
  const Bytes record_{box_.begin() + 8, box_.end()};
};

TEST_F(HvcCRecordTest, BuildMatchesAMuxersRecordForTheSameStream) {
  ASSERT_EQ(box_.size(), 118u);
  Bytes muxerRecord = record_;
  // The muxer counts one temporal layer; ours leaves numTemporalLayers 0.
  EXPECT_EQ(muxerRecord[21], 0x0F);
  muxerRecord[21] = 0x07;
  EXPECT_EQ(Build(stream_, kHvcCRecordComplete), muxerRecord);
  // The box modes wrap the same record; the incomplete ones clear each array's completeness bit.
  for (int mode : {kHvcCBoxIncomplete, kHvcCRecordIncomplete, kHvcCBoxComplete}) {
    Bytes out = Build(stream_, mode);
    if (mode != kHvcCRecordIncomplete) {
      ASSERT_EQ(Bytes(out.begin(), out.begin() + 8), Bytes({0, 0, 0, 118, 'h', 'v', 'c', 'C'})) << mode;
      out.erase(out.begin(), out.begin() + 8);
    }
    const uint8_t complete = mode == kHvcCBoxComplete ? 0x80 : 0;
    EXPECT_EQ(ArrayShape(out), (Shape{{complete | 32, 1}, {complete | 33, 1}, {complete | 34, 1}}));
  }
}

TEST(BuildHvcCTest, ArraysListEveryUnitInTypeOrder) {
  const Bytes sei = NalUnit(39, {0x05, 0x02, 0xAB, 0xCD});
  SpsSpec second;
  second.id = 1;
  const Bytes stream = AnnexB({sei, MakePps(), MakeSps(), MakeVps(), MakeSps(second), kSlice, sei, MakePps({1, 1})});
  const Bytes record = Build(stream, kHvcCRecordIncomplete);
  EXPECT_EQ(ArrayShape(record), (Shape{{32, 1}, {33, 2}, {34, 2}, {39, 2}}));
  // The units are copied whole, without the start code's extra zero.
  const Bytes vps = MakeVps();
  EXPECT_EQ(Bytes(record.begin() + 28, record.begin() + 28 + vps.size()), vps);
}

TEST(BuildHvcCTest, HeadComesFromTheSps) {
  SpsSpec sps;
  sps.temporalIdNesting = false;
  sps.chromaFormatIdc = 2, sps.bitDepthLumaMinus8 = 2, sps.bitDepthChromaMinus8 = 4;
  sps.vui = true, sps.minSpatialSegmentationIdc = 0x123;
  const Bytes record = Build(AnnexB({MakeVps(), MakeSps(sps), MakePps(), kSlice}), kHvcCRecordComplete);
  ASSERT_GE(record.size(), kHvcCRecordHeadSize);
  // Version 1; Main profile; compatible with Main and Main 10; progressive,
  // frame only; level 3.1; min_spatial_segmentation_idc; parallelism; 4:2:2,
  // 10 and 12 bits; no average frame rate; not nested, 4-byte lengths; three arrays.
  const Bytes expected = {0x01, 0x01, 0x60, 0, 0,    0,    0x90, 0,    0, 0, 0,    0,
                          93,   0xF1, 0x23, 0xFC, 0xFE, 0xFA, 0xFC, 0, 0, 0x03, 0x03};
  EXPECT_EQ(Bytes(record.begin(), record.begin() + kHvcCRecordHeadSize), expected);
}

TEST(BuildHvcCTest, RefusesStreamsWithoutAllParameterSets) {
  const Bytes sets = AnnexB({MakeVps(), MakeSps(), MakePps(), kSlice});
  SpsSpec bad;
  bad.chromaFormatIdc = 7;
  const std::pair<Bytes, int> cases[] = {
      {{}, 0},
      {AnnexB({kSlice, kSlice}), 0},
      {AnnexB({MakeVps(), MakeSps(), kSlice}), 2},
      {AnnexB({MakeVps(), MakeSps(bad), MakePps(), kSlice}), 1},
      {sets, 4},  // unknown modes
      {sets, -1},
  };
  for (const auto& [stream, mode] : cases) {
    Bytes out = {0xAA};
    EXPECT_EQ(BuildHvcC(stream.data(), stream.size(), &out, mode), E_INVALIDARG) << stream.size() << " " << mode;
    EXPECT_EQ(out, Bytes{0xAA});
  }
}

TEST_F(HvcCRecordTest, ConfigGivesTheStreamsParameterSetsBoxedOrBare) {
  for (const Bytes& config : {box_, record_}) {
    Bytes startCodes;
    ASSERT_EQ(ConfigToStartCodes(config.data(), config.size(), &startCodes), S_OK);
    EXPECT_EQ(startCodes, Bytes(stream_.begin(), stream_.begin() + 84));  // VPS, SPS, PPS
  }
  // The seven-byte PPS ends the converted data and still counts.
  H265StreamInfo info;
  Bytes startCodes;
  ASSERT_EQ(ParseH265Config(box_.data(), box_.size(), &startCodes, &info), S_OK);
  EXPECT_EQ(std::make_pair(info.pictureWidth, info.pictureHeight), std::make_pair(176, 100));
}

TEST_F(HvcCRecordTest, BadBoxesAndRecordsGiveTheirCodes) {
  auto boxOf = [](BoxSize size, const Bytes& body) {
    BoxBuilder b;
    return b.Box(size, "hvcC", [&] { b.Bytes(body); }).Data();
  };
  Bytes unitPastEnd = record_, missingArray = record_, typeWithoutSize = {'h', 'v', 'c', 'C'};
  unitPastEnd[kHvcCRecordHeadSize + 3] = 0x7F;  // the VPS length
  missingArray[22] = 4;
  typeWithoutSize.insert(typeWithoutSize.end(), record_.begin(), record_.end());
  const Bytes head(record_.begin(), record_.begin() + 22);
  const std::pair<Bytes, HRESULT> cases[] = {
      {boxOf(BoxSize::Forced(8), record_), VFW_E_INVALID_MEDIA_TYPE},
      {boxOf(BoxSize::Forced(uint32_t(record_.size() + 9)), record_), VFW_E_INVALID_MEDIA_TYPE},  // past the input
      {typeWithoutSize, VFW_E_INVALID_MEDIA_TYPE},
      {boxOf(BoxSize::Forced(9), record_), E_FAIL},
      {head, E_FAIL},
      {boxOf(BoxSize::Auto(), head), E_FAIL},
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
  Bytes empty(kHvcCRecordHeadSize, 0), out;
  empty[0] = 1;
  H265StreamInfo info;
  EXPECT_EQ(ConfigToStartCodes(empty.data(), empty.size(), &out), S_OK);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(ParseH265Config(empty.data(), empty.size(), &out, &info), kParameterSetsIncomplete);
}

}  // namespace
