#include "streams/start_codes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(FindStartCodeTest, FindsTheValueByteOnlyWithAByteAfterIt) {
  // The offset of the byte found, -1 for none.
  const std::pair<Bytes, int> cases[] = {
      {{}, -1},
      {{0x00, 0x00, 0x01, 0x40}, -1},
      {{0x00, 0x00, 0x01, 0x40, 0x01}, 3},
      {{0x12, 0x00, 0x00, 0x00, 0x01, 0x42, 0x01}, 5},
      {{0x00, 0x01, 0x00, 0x00, 0x01, 0x44, 0x01}, 5},
      {{0x00, 0x00, 0x02, 0x00, 0x00, 0x01, 0x44}, -1},
      {{0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x40}, 3},
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
  const struct {
    Bytes sample, expected;
    size_t rewritten;
  } cases[] = {
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
  for (auto c : cases) {
    EXPECT_EQ(LengthPrefixedToStartCodes(c.sample.data() + 1, c.sample.size() - 2), c.rewritten) << c.sample.size();
    EXPECT_EQ(c.sample, c.expected);
  }
}

}  // namespace
