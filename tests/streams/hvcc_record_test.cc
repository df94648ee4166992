#include "streams/hvcc_record.h"

#include "streams/mini_parser_h265.h"

#include "support/box_builder.h"
#include "h265_stream_builder.h"
#include "hevc_test_files.h"

#include <gtest/gtest.h>

namespace {

using namespace h265_test;

constexpr size_t kBoxHeader = 8;
constexpr size_t kLengthSizeByte = 21;
constexpr size_t kArrayCountByte = 22;

const Bytes kSlice = {0x26, 0x01, 0xAF, 0x10};

Bytes Build(const Bytes& stream, int mode, HRESULT expected = S_OK) {
  Bytes out;
  EXPECT_EQ(BuildHvcC(stream.data(), stream.size(), &out, mode), expected);
  return out;
}

// The arrays of a bare record as (type byte, unit count) pairs.
std::vector<std::pair<uint8_t, int>> ArrayShape(const Bytes& record) {
  std::vector<std::pair<uint8_t, int>> shape;
  size_t at = kHvcCRecordHeadSize;
  for (int array = 0; array < record[kArrayCountByte]; ++array) {
    const int count = (record[at + 1] << 8) | record[at + 2];
    shape.emplace_back(record[at], count);
    at += 3;
    for (int unit = 0; unit < count; ++unit) at += 2 + ((record[at] << 8) | record[at + 1]);
  }
  EXPECT_EQ(at, record.size()) << "the arrays fill the record exactly";
  return shape;
}

TEST(BuildHvcCTest, MatchesAMuxersRecordForTheSameStream) {
  const Bytes stream = LoadHevcTestFile("crop_420_176x100.hevc");
  const Bytes box = LoadHevcTestFile("crop_420_176x100.hvcC");
  ASSERT_EQ(box.size(), 118u);
  Bytes muxerRecord(box.begin() + kBoxHeader, box.end());
  // The muxer counts one temporal layer; ours leaves numTemporalLayers 0.
  EXPECT_EQ(muxerRecord[kLengthSizeByte], 0x0F);
  muxerRecord[kLengthSizeByte] = 0x07;
  EXPECT_EQ(Build(stream, kHvcCRecordComplete), muxerRecord);
}

TEST(BuildHvcCTest, ModesChooseBoxAndCompleteness) {
  const Bytes stream = LoadHevcTestFile("crop_420_176x100.hevc");
  const Bytes record = Build(stream, kHvcCRecordIncomplete);
  ASSERT_GT(record.size(), kHvcCRecordHeadSize);
  const struct {
    int mode;
    bool boxed;
    uint8_t completeness;
  } cases[] = {{0, true, 0x00}, {1, false, 0x00}, {2, true, 0x80}, {3, false, 0x80}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    Bytes out = Build(stream, c.mode);
    if (c.boxed) {
      ASSERT_EQ(out.size(), record.size() + kBoxHeader);
      const uint32_t size = (out[0] << 24) | (out[1] << 16) | (out[2] << 8) | out[3];
      EXPECT_EQ(size, out.size());
      EXPECT_EQ(std::string(out.begin() + 4, out.begin() + 8), "hvcC");
      out.erase(out.begin(), out.begin() + kBoxHeader);
    }
    const std::vector<std::pair<uint8_t, int>> expected = {
        {c.completeness | 32, 1}, {c.completeness | 33, 1}, {c.completeness | 34, 1}};
    EXPECT_EQ(ArrayShape(out), expected);
  }
}

TEST(BuildHvcCTest, ArraysListEveryUnitInTypeOrder) {
  const Bytes sei = NalUnit(39, {0x05, 0x02, 0xAB, 0xCD});
  SpsSpec second;
  second.id = 1;
  const Bytes stream = AnnexB({sei, MakePps(), MakeSps(), MakeVps(), MakeSps(second), kSlice, sei, MakePps({1, 1})});
  const Bytes record = Build(stream, kHvcCRecordIncomplete);
  const std::vector<std::pair<uint8_t, int>> expected = {{32, 1}, {33, 2}, {34, 2}, {39, 2}};
  EXPECT_EQ(ArrayShape(record), expected);
  // The units are copied whole, without the start code's extra zero.
  const Bytes vps = MakeVps();
  const size_t vpsAt = kHvcCRecordHeadSize + 3 + 2;
  EXPECT_EQ(Bytes(record.begin() + vpsAt, record.begin() + vpsAt + vps.size()), vps);
}

TEST(BuildHvcCTest, HeadComesFromTheSps) {
  SpsSpec sps;
  sps.temporalIdNesting = false;
  sps.chromaFormatIdc = 2;
  sps.bitDepthLumaMinus8 = 2;
  sps.bitDepthChromaMinus8 = 4;
  sps.vui = true;
  sps.minSpatialSegmentationIdc = 0x123;
  const Bytes stream = AnnexB({MakeVps(), MakeSps(sps), MakePps(), kSlice});
  const Bytes record = Build(stream, kHvcCRecordComplete);
  ASSERT_GE(record.size(), kHvcCRecordHeadSize);
  const Bytes head(record.begin(), record.begin() + kHvcCRecordHeadSize);
  const Bytes expected = {
      0x01,                                // configurationVersion
      0x01,                                // profile space 0, main tier, Main
      0x60, 0x00, 0x00, 0x00,              // compatibility flags
      0x90, 0x00, 0x00, 0x00, 0x00, 0x00,  // progressive, frame only
      93,                                  // level 3.1
      0xF1, 0x23,                          // min_spatial_segmentation_idc
      0xFC, 0xFE, 0xFA, 0xFC,              // parallelism, 4:2:2, 10 and 12 bits
      0x00, 0x00,                          // avgFrameRate
      0x03,                                // not nested, 4-byte lengths
      0x03,                                // three arrays
  };
  EXPECT_EQ(head, expected);
}

TEST(BuildHvcCTest, RefusesStreamsWithoutAllParameterSets) {
  const struct {
    const char* name;
    Bytes stream;
    int mode;
  } cases[] = {
      {"empty", {}, 0},
      {"slices only", AnnexB({kSlice, kSlice}), 0},
      {"no PPS", AnnexB({MakeVps(), MakeSps(), kSlice}), 2},
      {"malformed SPS", AnnexB({MakeVps(), MakeSps([] { SpsSpec s; s.chromaFormatIdc = 7; return s; }()), MakePps(), kSlice}), 1},
      {"unknown mode", AnnexB({MakeVps(), MakeSps(), MakePps(), kSlice}), 4},
      {"negative mode", AnnexB({MakeVps(), MakeSps(), MakePps(), kSlice}), -1},
  };
  for (const auto& c : cases) {
    Bytes out = {0xAA};
    EXPECT_EQ(BuildHvcC(c.stream.data(), c.stream.size(), &out, c.mode), E_INVALIDARG) << c.name;
    EXPECT_EQ(out, Bytes{0xAA}) << c.name;
  }
}

TEST(ConfigToStartCodesTest, RealBoxGivesTheStreamsParameterSets) {
  const Bytes stream = LoadHevcTestFile("crop_420_176x100.hevc");
  const Bytes box = LoadHevcTestFile("crop_420_176x100.hvcC");
  ASSERT_GT(stream.size(), 84u);
  const Bytes expected(stream.begin(), stream.begin() + 84);  // VPS, SPS, PPS
  Bytes fromBox;
  ASSERT_EQ(ConfigToStartCodes(box.data(), box.size(), &fromBox), S_OK);
  EXPECT_EQ(fromBox, expected);
  Bytes fromRecord;
  ASSERT_EQ(ConfigToStartCodes(box.data() + kBoxHeader, box.size() - kBoxHeader, &fromRecord), S_OK);
  EXPECT_EQ(fromRecord, expected);

  // The seven-byte PPS ends the converted data and still counts.
  H265StreamInfo info;
  Bytes startCodes;
  ASSERT_EQ(ParseH265Config(box.data(), box.size(), &startCodes, &info), S_OK);
  EXPECT_EQ(info.pictureWidth, 176);
  EXPECT_EQ(info.pictureHeight, 100);
}

TEST(ConfigToStartCodesTest, RoundTripsWhatBuildHvcCWrote) {
  const Bytes sei = NalUnit(39, {0x05, 0x01, 0x77});
  const Bytes stream = AnnexB({MakeVps(), MakeSps(), MakePps(), sei, kSlice});
  for (int mode = 0; mode < 4; ++mode) {
    const Bytes built = Build(stream, mode);
    Bytes startCodes;
    ASSERT_EQ(ConfigToStartCodes(built.data(), built.size(), &startCodes), S_OK) << mode;
    EXPECT_EQ(startCodes, AnnexB({MakeVps(), MakeSps(), MakePps(), sei})) << mode;
  }
}

TEST(ConfigToStartCodesTest, BadBoxesAndRecordsGiveTheirCodes) {
  const Bytes box = LoadHevcTestFile("crop_420_176x100.hvcC");
  const Bytes record(box.begin() + kBoxHeader, box.end());
  auto boxOf = [](BoxSize size, const Bytes& body) {
    BoxBuilder b;
    b.Box(size, "hvcC", [&] { b.Bytes(body); });
    return b.Data();
  };
  Bytes unitPastEnd = record;
  unitPastEnd[kHvcCRecordHeadSize + 3] = 0x7F;  // the VPS length
  Bytes missingArray = record;
  missingArray[kArrayCountByte] = 4;
  const struct {
    const char* name;
    Bytes input;
    HRESULT expected;
  } cases[] = {
      {"box size 8", boxOf(BoxSize::Forced(8), record), VFW_E_INVALID_MEDIA_TYPE},
      {"box past the input", boxOf(BoxSize::Forced(static_cast<uint32_t>(record.size() + 9)), record),
       VFW_E_INVALID_MEDIA_TYPE},
      {"no room for the box size", Concat({{'h', 'v', 'c', 'C'}, record}), VFW_E_INVALID_MEDIA_TYPE},
      {"box of 9 bytes", boxOf(BoxSize::Forced(9), record), E_FAIL},
      {"record of 22 bytes", Bytes(record.begin(), record.begin() + 22), E_FAIL},
      {"box with a 22-byte record", boxOf(BoxSize::Auto(), Bytes(record.begin(), record.begin() + 22)), E_FAIL},
      {"unit past the end", unitPastEnd, E_FAIL},
      {"more arrays than the record holds", missingArray, E_FAIL},
      {"cut in an array header", Bytes(record.begin(), record.begin() + kHvcCRecordHeadSize + 2), E_FAIL},
  };
  for (const auto& c : cases) {
    Bytes out = {0xAA};
    EXPECT_EQ(ConfigToStartCodes(c.input.data(), c.input.size(), &out), c.expected) << c.name;
    EXPECT_EQ(out, Bytes{0xAA}) << c.name << ": output untouched";
  }
}

TEST(ConfigToStartCodesTest, EmptyRecordGivesNoUnits) {
  Bytes record(kHvcCRecordHeadSize, 0);
  record[0] = 1;
  Bytes out;
  EXPECT_EQ(ConfigToStartCodes(record.data(), record.size(), &out), S_OK);
  EXPECT_TRUE(out.empty());
  H265StreamInfo info;
  EXPECT_EQ(ParseH265Config(record.data(), record.size(), &out, &info), kParameterSetsIncomplete);
}

}  // namespace
