// The readers under the H.265 parsers: start-code scanning, the rewriting of
// length prefixes and the RBSP reader of NAL unit payloads. (The plain bit
// reader's stop at the first shortfall shows in the VOL and AAC tests.)
#include "streams/rbsp_bit_reader.h"
#include "streams/start_codes.h"

#include "h265_stream_builder.h"

#include <gtest/gtest.h>

namespace {

using h265_test::Bytes;

TEST(FindStartCodeTest, FindsTheValueByteOnlyWithAByteAfterIt) {
  // The offset of the byte found, -1 for none.
  const std::pair<Bytes, int> cases[] = {
      {{}, -1}, {{0, 0, 1, 0x40}, -1}, {{0, 0, 1, 0x40, 0x01}, 3}, {{0x12, 0, 0, 0, 1, 0x42, 0x01}, 5},
      {{0, 1, 0, 0, 1, 0x44, 0x01}, 5}, {{0, 0, 2, 0, 0, 1, 0x44}, -1}, {{0, 0, 1, 0, 0, 1, 0x40}, 3},
  };
  for (const auto& [data, expected] : cases) {
    const BYTE* found = FindStartCode(data.data(), data.size());
    EXPECT_EQ(found ? static_cast<int>(found - data.data()) : -1, expected) << "input of " << data.size() << " bytes";
  }
  const uint8_t data[] = {0x00, 0x00, 0x01, 0x40, 0x01, 0x00, 0x00, 0x01, 0x42, 0x01};
  EXPECT_EQ(FindStartCode(data + 4, 5), nullptr) << "the second code's value byte is the last in range";
  EXPECT_EQ(FindStartCode(data + 4, 6), data + 8);
}

TEST(LengthPrefixedToStartCodesTest, RewritesPrefixesWithinTheSampleOnly) {
  // Guard bytes 0xEE on both sides show that nothing outside the sample moves.
  const std::tuple<Bytes, Bytes, size_t> cases[] = {
      {{0xEE, 0, 0, 0, 2, 0x40, 0x01, 0, 0, 0, 3, 0x42, 0x01, 0xAA, 0xEE},
       {0xEE, 0, 0, 0, 1, 0x40, 0x01, 0, 0, 0, 1, 0x42, 0x01, 0xAA, 0xEE}, 2},
      // A unit running past the end is the last; a length cut by the end is left alone.
      {{0xEE, 0, 0, 0, 9, 0x40, 0x01, 0xEE}, {0xEE, 0, 0, 0, 1, 0x40, 0x01, 0xEE}, 1},
      {{0xEE, 0, 0, 0, 1, 0x40, 0, 0, 0, 0xEE}, {0xEE, 0, 0, 0, 1, 0x40, 0, 0, 0, 0xEE}, 1},
      // An empty unit is stepped over; a length near 4 GiB does not wrap around.
      {{0xEE, 0, 0, 0, 0, 0, 0, 0, 1, 0x26, 0xEE}, {0xEE, 0, 0, 0, 1, 0, 0, 0, 1, 0x26, 0xEE}, 2},
      {{0xEE, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0xEE}, {0xEE, 0, 0, 0, 1, 0, 0, 0, 1, 0xEE}, 1},
      {{0xEE, 0, 0, 5, 0xEE}, {0xEE, 0, 0, 5, 0xEE}, 0},
  };
  for (auto [sample, expected, rewritten] : cases) {
    EXPECT_EQ(LengthPrefixedToStartCodes(sample.data() + 1, sample.size() - 2), rewritten) << sample.size();
    EXPECT_EQ(sample, expected);
  }
}

TEST(RbspBitReaderTest, EmulationPreventionBytesAreDroppedAndZerosFollowTheEnd) {
  const std::pair<Bytes, Bytes> cases[] = {
      {{0x00, 0x00, 0x03, 0x01}, {0x00, 0x00, 0x01}},
      // A 0x03 after a single zero is payload; the zero count starts again after a dropped byte.
      {{0x00, 0x03, 0x00, 0x00, 0x03, 0x02}, {0x00, 0x03, 0x00, 0x00, 0x02}},
      {{0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00}},
      {{0xA5}, {0xA5}},
  };
  for (const auto& [escaped, raw] : cases) {
    CRbspBitReader reader(escaped.data(), escaped.size());
    Bytes read;
    for (size_t i = 0; i < raw.size(); ++i) read.push_back(static_cast<uint8_t>(reader.ReadBits(8)));
    EXPECT_EQ(read, raw);
    EXPECT_FALSE(reader.RanPastEnd());
    EXPECT_EQ(reader.ReadBits(32), 0u);
    EXPECT_TRUE(reader.RanPastEnd());
  }
  // A huge skip past the end does not walk bit by bit.
  CRbspBitReader reader(nullptr, 0);
  for (int i = 0; i < 1000; ++i) reader.SkipBits(0xFFFFFFFF);
  EXPECT_FALSE(reader.ReadFlag());
}

TEST(RbspBitReaderTest, ExpGolombCodesDecode) {
  const std::pair<uint64_t, int32_t> cases[] = {{0, 0},       {1, 1},         {2, -1},
                                                {6, -3},      {254, -127},    {65535, 32768},
                                                {0x7FFFFFFF, 0x40000000},     {0xFFFFFFFD, 0x7FFFFFFF},
                                                {0xFFFFFFFE, -0x7FFFFFFF}};
  for (const auto& [code, signedValue] : cases) {
    // Each code as ue and as se, then a marker that shows the reader kept its
    // place; long codes hold zero runs that need emulation prevention.
    const Bytes unit = h265_test::NalUnit(0, BitWriter().Ue(code).Ue(code).Se(-5).Rbsp());
    CRbspBitReader reader(unit.data() + 2, unit.size() - 2);
    uint32_t ue = 0;
    int32_t se = 0, marker = 0;
    ASSERT_EQ(reader.ReadUe(&ue), S_OK) << code;
    ASSERT_EQ(reader.ReadSe(&se), S_OK) << code;
    ASSERT_EQ(reader.ReadSe(&marker), S_OK) << code;
    EXPECT_EQ(std::make_tuple(uint64_t{ue}, se, marker), std::make_tuple(code, signedValue, -5));
  }
}

// The range-checked reads are pinned by the H.265 parser's malformed rows.
TEST(RbspBitReaderTest, MoreThan31LeadingZerosIsNoCodeAndNoLongLoop) {
  uint32_t value = 0;
  const Bytes thirtyTwoZeros = BitWriter().Bits(0, 32).Bits(1, 1).Bits(0, 32).Rbsp();
  EXPECT_EQ(CRbspBitReader(thirtyTwoZeros.data(), thirtyTwoZeros.size()).ReadUe(&value), kMalformedBitstream);
  EXPECT_EQ(CRbspBitReader(nullptr, 0).ReadUe(&value), kMalformedBitstream) << "nor are the zeros past the end";
}

}  // namespace
