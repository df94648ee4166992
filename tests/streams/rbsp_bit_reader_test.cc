#include "streams/rbsp_bit_reader.h"

#include "h265_stream_builder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(RbspBitReaderTest, EmulationPreventionBytesAreDropped) {
  const std::pair<std::vector<uint8_t>, std::vector<uint8_t>> cases[] = {
      {{0x00, 0x00, 0x03, 0x01}, {0x00, 0x00, 0x01}},
      // A 0x03 after a single zero is payload.
      {{0x00, 0x03, 0x00, 0x00, 0x03, 0x02}, {0x00, 0x03, 0x00, 0x00, 0x02}},
      // The zero count starts again after a dropped byte.
      {{0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00}},
      {{0x00, 0x00, 0x03}, {0x00, 0x00}},
      {{0xA5}, {0xA5}},
  };
  for (const auto& [escaped, raw] : cases) {
    CRbspBitReader reader(escaped.data(), escaped.size());
    std::vector<uint8_t> read;
    for (size_t i = 0; i < raw.size(); ++i) read.push_back(static_cast<uint8_t>(reader.ReadBits(8)));
    EXPECT_EQ(read, raw);
    EXPECT_FALSE(reader.RanPastEnd());
    EXPECT_EQ(reader.ReadBits(32), 0u) << "past the end come zeros";
    EXPECT_TRUE(reader.RanPastEnd());
  }
}

TEST(RbspBitReaderTest, HugeSkipPastTheEndDoesNotWalkBitByBit) {
  const uint8_t data[] = {0xFF, 0x80};
  CRbspBitReader reader(data, sizeof data);
  for (int i = 0; i < 1000; ++i) reader.SkipBits(0xFFFFFFFF);
  EXPECT_TRUE(reader.RanPastEnd());
  EXPECT_FALSE(reader.ReadFlag());
}

TEST(RbspBitReaderTest, ExpGolombCodesDecode) {
  const struct {
    uint64_t code;
    int32_t signedValue;
  } cases[] = {{0, 0},      {1, 1},       {2, -1},          {3, 2},         {4, -2},      {6, -3},
               {254, -127}, {255, 128},   {65535, 32768},   {0x7FFFFFFF, 0x40000000}, {0xFFFFFFFD, 0x7FFFFFFF},
               {0xFFFFFFFE, -0x7FFFFFFF}};
  for (const auto& c : cases) {
    // Each code twice, then a marker that shows the reader kept its place;
    // long codes hold zero runs that need emulation prevention.
    const std::vector<uint8_t> unit = h265_test::NalUnit(0, BitWriter().Ue(c.code).Ue(c.code).Se(-5).Rbsp());
    CRbspBitReader reader(unit.data() + 2, unit.size() - 2);
    uint32_t ue = 0;
    int32_t se = 0, marker = 0;
    ASSERT_EQ(reader.ReadUe(&ue), S_OK) << c.code;
    ASSERT_EQ(reader.ReadSe(&se), S_OK) << c.code;
    ASSERT_EQ(reader.ReadSe(&marker), S_OK) << c.code;
    EXPECT_EQ(ue, c.code);
    EXPECT_EQ(se, c.signedValue) << c.code;
    EXPECT_EQ(marker, -5) << c.code;
  }
}

TEST(RbspBitReaderTest, MoreThan31LeadingZerosIsMalformedNotALongLoop) {
  const std::vector<uint8_t> thirtyTwoZeros = BitWriter().Bits(0, 32).Bits(1, 1).Bits(0, 32).Rbsp();
  CRbspBitReader reader(thirtyTwoZeros.data(), thirtyTwoZeros.size());
  uint32_t value = 0;
  EXPECT_EQ(reader.ReadUe(&value), kMalformedBitstream);
  CRbspBitReader empty(nullptr, 0);
  EXPECT_EQ(empty.ReadUe(&value), kMalformedBitstream) << "zeros past the end are no code";
}

TEST(RbspBitReaderTest, RangeCheckedReadsRefuseValuesOutside) {
  const std::vector<uint8_t> bytes = BitWriter().Ue(16).Ue(15).Se(-13).Se(12).Rbsp();
  CRbspBitReader reader(bytes.data(), bytes.size());
  uint32_t id = 0;
  int32_t offset = 0;
  EXPECT_EQ(reader.ReadUeMax(15, &id), kMalformedBitstream);
  EXPECT_EQ(reader.ReadUeMax(15, &id), S_OK);
  EXPECT_EQ(reader.ReadSeRange(-12, 12, &offset), kMalformedBitstream);
  EXPECT_EQ(reader.ReadSeRange(-12, 12, &offset), S_OK);
}

}  // namespace
