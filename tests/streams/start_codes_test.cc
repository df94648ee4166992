#include "streams/start_codes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FindStartCodeTest, FindsTheValueByteOnlyWithAByteAfterIt) {
  const std::pair<std::vector<uint8_t>, int> cases[] = {
      // Offset of the returned byte, -1 for none.
      {{}, -1},
      {{0x00, 0x00, 0x01}, -1},
      {{0x00, 0x00, 0x01, 0x40}, -1},
      {{0x00, 0x00, 0x01, 0x40, 0x01}, 3},
      {{0x00, 0x00, 0x00, 0x01, 0x40, 0x01}, 4},
      {{0x12, 0x00, 0x00, 0x01, 0x42, 0x01}, 4},
      {{0x00, 0x01, 0x00, 0x00, 0x01, 0x44, 0x01}, 5},
      {{0x00, 0x00, 0x02, 0x00, 0x00, 0x01, 0x44}, -1},
      {{0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x26, 0x01}, 6},
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
  const struct {
    const char* name;
    std::vector<uint8_t> sample, expected;
    size_t rewritten;
  } cases[] = {
      {"two units", {0, 0, 0, 2, 0x40, 0x01, 0, 0, 0, 3, 0x42, 0x01, 0xAA},
       {0, 0, 0, 1, 0x40, 0x01, 0, 0, 0, 1, 0x42, 0x01, 0xAA}, 2},
      {"a unit running past the end is the last", {0, 0, 0, 9, 0x40, 0x01}, {0, 0, 0, 1, 0x40, 0x01}, 1},
      {"a length field cut by the end is left alone", {0, 0, 0, 1, 0x40, 0, 0, 0}, {0, 0, 0, 1, 0x40, 0, 0, 0}, 1},
      {"an empty unit is stepped over", {0, 0, 0, 0, 0, 0, 0, 1, 0x26}, {0, 0, 0, 1, 0, 0, 0, 1, 0x26}, 2},
      {"a length near 4 GiB does not wrap around", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1}, {0, 0, 0, 1, 0, 0, 0, 1}, 1},
      {"fewer than four bytes", {0, 0, 5}, {0, 0, 5}, 0},
  };
  for (const auto& c : cases) {
    // Guard bytes on both sides show that nothing outside the sample moves.
    std::vector<uint8_t> buffer = {0xEE}, expected = {0xEE};
    buffer.insert(buffer.end(), c.sample.begin(), c.sample.end());
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    buffer.push_back(0xEE);
    expected.push_back(0xEE);
    EXPECT_EQ(LengthPrefixedToStartCodes(buffer.data() + 1, c.sample.size()), c.rewritten) << c.name;
    EXPECT_EQ(buffer, expected) << c.name;
  }
}

}  // namespace
