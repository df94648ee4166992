#include "platform/arithmetic.h"
#include "platform/crc32.h"
#include "platform/guid.h"
#include "platform/hresult.h"

#include <gtest/gtest.h>

namespace {

constexpr GUID kMediaTypeStream = {0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

TEST(GuidText, RegistryFormRoundTripsInBothCasesAndMalformedTextIsRefused) {
  EXPECT_EQ(GuidToString(kMediaTypeStream), "{E436EB83-524F-11CE-9F53-0020AF0BA770}");
  EXPECT_EQ(GuidFromString("{e436eb83-524f-11ce-9f53-0020af0ba770}"), kMediaTypeStream);
  for (const char* text : {"", "E436EB83-524F-11CE-9F53-0020AF0BA770", "{E436EB83-524F-11CE-9F53-0020AF0BA77}",
                           "{E436EB83-524F-11CE-9F53+0020AF0BA770}", "{G436EB83-524F-11CE-9F53-0020AF0BA770}"}) {
    EXPECT_FALSE(GuidFromString(text).has_value()) << text;
  }
}

TEST(ResultText, NamesKnownCodesAndShowsHexForOthers) {
  // More named codes show up in the tools' messages, checked there.
  EXPECT_EQ(HResultText(STG_E_INVALIDHEADER), "0x800300FB STG_E_INVALIDHEADER");
  EXPECT_EQ(HResultText(MakeHResult(0x8007000D)), "0x8007000D (Win32 error 13)");
  EXPECT_EQ(HResultText(MakeHResult(0x12345678)), "0x12345678");
}

struct MulDivCase {
  LONG a, b, c, expected;
};

TEST(MulDivRounding, HalvesGoAwayFromZeroAndOverflowIsMinusOne) {
  const MulDivCase cases[] = {
      {720, 4, 3, 960},       {3, 1, 2, 2},          {-3, 1, 2, -2},           {5, 1, 2, 3},
      {1, 1, 3, 0},           {2, 1, 3, 1},          {-2, 1, 3, -1},           {7, -1, 2, -4},
      {1, 1, 0, -1},          {INT32_MAX, 2, 1, -1}, {INT32_MAX, 2, 2, INT32_MAX}, {0, -5, 3, 0},
  };
  for (const MulDivCase& c : cases) {
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
  }
}

struct ScaleCase {
  LONGLONG a;
  LONG b, c, d;
  LONGLONG expected;
};

TEST(Int64x32Div32Rounding, MatchesTheMediaTimeExamples) {
  const ScaleCase cases[] = {
      // Media to reference time: d = (timescale - 1) / 2.
      {1, 10000000, 3, 1, 3333333},
      {1, 10000000, 2, 0, 5000000},
      {1, 10000000, 20000000, 9999999, 0},
      // Reference to media time: d = 4999999.
      {15000000, 1, 10000000, 4999999, 1},
      {15000001, 1, 10000000, 4999999, 2},
      {-15000001, 1, 10000000, 4999999, -1},
      // A product beyond 64 bits still divides exactly.
      {INT64_MAX, 10000000, 10000000, 0, INT64_MAX},
      {INT64_MAX / 2, 4, 2, 0, INT64_MAX - 1},
      // Saturation.
      {INT64_MAX, 2, 1, 0, INT64_MAX},
      {INT64_MIN + 1, 2, 1, 0, INT64_MIN},
      {5, 1, 0, 0, INT64_MAX},
      {-5, 1, 0, 0, INT64_MIN},
      {6, 1, -3, 0, -2},
  };
  for (const ScaleCase& c : cases) {
    EXPECT_EQ(Int64x32Div32(c.a, c.b, c.c, c.d), c.expected) << c.a << "*" << c.b << "+" << c.d << "/" << c.c;
  }
}

TEST(Crc32, MatchesTheZipChecksum) {
  const char* text = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const BYTE*>(text), 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

}  // namespace
