#include "diagnostics/trace.h"

#include <gtest/gtest.h>

namespace {

class TraceCapture : public ::testing::Test {
 protected:
  void SetUp() override { SetTraceCaptureForTesting(&lines_); }
  void TearDown() override { SetTraceCaptureForTesting(nullptr); }
  std::string lines_;
};

TEST_F(TraceCapture, LinesAreFormattedAsWrittenAndCutAtTheBufferSize) {
  DMX_TRACE("\nCBaseDmxOutputPin::Process: Start=%s, end=%s", TraceTime(12345678).c_str(),
            TraceTime(INT64_MAX).c_str());
  EXPECT_EQ(lines_, "\nCBaseDmxOutputPin::Process: Start=1234, end=MAX_INT64");
  lines_.clear();
  DMX_TRACE("\n%s", std::string(5000, 'x').c_str());
  EXPECT_EQ(lines_.size(), static_cast<size_t>(kTraceLineCapacity - 1));
}

TEST(TraceTimes, AreWholeMillisecondsAndExtremesHaveNames) {
  const std::pair<REFERENCE_TIME, const char*> cases[] = {
      {INT64_MAX, "MAX_INT64"}, {-INT64_MAX, "MIN_INT64"}, {INT64_MIN, "MIN_INT64"}, {-25000, "-2"}, {0, "0"}};
  for (const auto& [time, text] : cases) EXPECT_EQ(TraceTime(time), text) << time;
}

TEST(TraceSwitch, ArgumentsAreNotEvaluatedWhileOff) {
  SetTraceCaptureForTesting(nullptr);
  if (TraceEnabled()) GTEST_SKIP() << "ISODMX_TRACE is set in this environment";
  int evaluated = 0;
  DMX_TRACE("\n%d", ++evaluated);
  EXPECT_EQ(evaluated, 0);
}

}  // namespace
