#include "streams/rbsp_bit_reader.h"

#include "h265_stream_builder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using h265_test::BitWriter;

TEST(RbspBitReaderTest, EmulationPreventionBytesAreDropped) {
  struct Case {
    std::vector<uint8_t> escaped;
    std::vector<uint8_t> raw;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x03, 0x01}, {0x00, 0x00, 0x01}},
      // A 0x03 after a single zero is payload.
      {{0x00, 0x03, 0x00, 0x00, 0x03, 0x02}, {0x00, 0x03, 0x00, 0x00, 0x02}},
      // The zero count starts again after a dropped byte.
      {{0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00}},
      {{0x00, 0x00, 0x03}, {0x00, 0x00}},
  };
  for (const Case& c : cases) {
    CRbspBitReader reader(c.escaped.data(), c.escaped.size());
    std::vector<uint8_t> read;
    for (size_t i = 0; i < c.raw.size(); ++i) read.push_back(static_cast<uint8_t>(reader.ReadBits(8)));
    EXPECT_EQ(read, c.raw);
    EXPECT_FALSE(reader.RanPastEnd());
    reader.ReadBits(1);
    EXPECT_TRUE(reader.RanPastEnd()) << "the escaped input has no more payload bytes";
  }
}

TEST(RbspBitReaderTest, PastTheEndYieldsZerosAndSaysSo) {
  const uint8_t data[] = {0xA5};
  CRbspBitReader reader(data, sizeof data);
  EXPECT_EQ(reader.ReadBits(4), 0xAu);
  EXPECT_EQ(reader.ReadBits(4), 0x5u);
  EXPECT_FALSE(reader.RanPastEnd());
  EXPECT_EQ(reader.ReadBits(32), 0u);
  EXPECT_TRUE(reader.RanPastEnd());
}

TEST(RbspBitReaderTest, HugeSkipPastTheEndDoesNotWalkBitByBit) {
  const uint8_t data[] = {0xFF, 0x80};
  CRbspBitReader reader(data, sizeof data);
  reader.SkipBits(3);
  for (int i = 0; i < 1000; ++i) reader.SkipBits(0xFFFFFFFF);
  EXPECT_TRUE(reader.RanPastEnd());
  EXPECT_FALSE(reader.ReadFlag());
}

TEST(RbspBitReaderTest, ExpGolombCodesDecode) {
  const uint64_t values[] = {0, 1, 2, 3, 6, 7, 254, 255, 65535, 0x7FFFFFFF, 0xFFFFFFFE};
  for (uint64_t value : values) {
    const std::vector<uint8_t> bytes = BitWriter().Ue(value).Se(-5).Rbsp();
    CRbspBitReader reader(bytes.data(), bytes.size());
    uint32_t ue = 0;
    ASSERT_EQ(reader.ReadUe(&ue), S_OK) << value;
    EXPECT_EQ(ue, value);
    int32_t se = 0;
    ASSERT_EQ(reader.ReadSe(&se), S_OK) << "the code after " << value << " starts at the right bit";
    EXPECT_EQ(se, -5);
  }
}

TEST(RbspBitReaderTest, SignedExpGolombAlternatesSigns) {
  const struct {
    uint64_t code;
    int32_t value;
  } cases[] = {{0, 0}, {1, 1}, {2, -1}, {3, 2}, {4, -2}, {0xFFFFFFFD, 0x7FFFFFFF}, {0xFFFFFFFE, -0x7FFFFFFF}};
  for (const auto& c : cases) {
    const std::vector<uint8_t> bytes = BitWriter().Ue(c.code).Rbsp();
    CRbspBitReader reader(bytes.data(), bytes.size());
    int32_t value = 0;
    ASSERT_EQ(reader.ReadSe(&value), S_OK);
    EXPECT_EQ(value, c.value) << c.code;
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
  EXPECT_EQ(reader.ReadUeMax(15, &id), kMalformedBitstream);
  EXPECT_EQ(reader.ReadUeMax(15, &id), S_OK);
  int32_t offset = 0;
  EXPECT_EQ(reader.ReadSeRange(-12, 12, &offset), kMalformedBitstream);
  EXPECT_EQ(reader.ReadSeRange(-12, 12, &offset), S_OK);
}

}  // namespace
