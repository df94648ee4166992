// The seeking interface of a demultiplexer: position flags, frames and
// times, and the recorded segment that hides repeated seeks until a run.
#include "delivery_fixture.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace dmxtest;

constexpr LONGLONG kSecond = UNITS;
const GUID kFrames = TIME_FORMAT_FRAME;
const GUID kMediaTime = TIME_FORMAT_MEDIA_TIME;

class SeekingTest : public ::testing::Test {
 protected:
  void SetUp() override { dmx_ = Make<SeekingDmx>(2); }
  CSeeking& Seeking() { return *dmx_.Get(); }
  HRESULT SeekTo(LONGLONG start, DWORD extraFlags = 0) {
    return Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning | extraFlags, nullptr, 0);
  }

  ComPtr<SeekingDmx> dmx_;
};

struct PositionCase {
  const char* name;
  DWORD currentFlags;
  LONGLONG current;
  DWORD stopFlags;
  LONGLONG stop;
  HRESULT result;
  LONGLONG expectedStart, expectedStop;
  int updates;
  BOOL flush;
};

// Before each row: start 2 s, stop 8 s, delivery at 3 s.
TEST_F(SeekingTest, SetPositionsFlagCombinations) {
  constexpr DWORD kAbs = AM_SEEKING_AbsolutePositioning, kRel = AM_SEEKING_RelativePositioning,
                  kInc = AM_SEEKING_IncrementalPositioning, kNone = AM_SEEKING_NoPositioning;
  const PositionCase cases[] = {
      {"absolute start keeps the old stop and flushes", kAbs, 5 * kSecond, kNone, 0, S_OK, 5 * kSecond, 8 * kSecond,
       1, TRUE},
      {"no-flush on the start", kAbs | AM_SEEKING_NoFlush, 5 * kSecond, kNone, 0, S_OK, 5 * kSecond, 8 * kSecond, 1,
       FALSE},
      {"no-flush on the stop", kAbs, 5 * kSecond, AM_SEEKING_NoFlush, 0, S_OK, 5 * kSecond, 8 * kSecond, 1, FALSE},
      {"relative start counts from the delivery position", kRel, kSecond, kNone, 0, S_OK, 4 * kSecond, 8 * kSecond,
       1, TRUE},
      {"no positioning starts where delivery is", kNone, 0, kAbs, 9 * kSecond, S_OK, 3 * kSecond, 9 * kSecond, 1,
       TRUE},
      {"relative stop counts from the old stop", kAbs, kSecond, kRel, -kSecond, S_OK, kSecond, 7 * kSecond, 1, TRUE},
      {"incremental stop counts from the new start", kAbs, kSecond, kInc, 2 * kSecond, S_OK, kSecond, 3 * kSecond, 1,
       TRUE},
      {"incremental start is refused with nothing changed", kInc, kSecond, kAbs, kSecond, E_INVALIDARG, 2 * kSecond,
       8 * kSecond, 0, FALSE},
      {"relative stop past the largest time saturates", kNone, 0, kRel, MAX_TIME, S_OK, 3 * kSecond, MAX_TIME, 1,
       TRUE},
  };
  for (const PositionCase& c : cases) {
    SCOPED_TRACE(c.name);
    dmx_ = Make<SeekingDmx>(2);
    LONGLONG start = 2 * kSecond, stop = 8 * kSecond;
    ASSERT_EQ(Seeking().SetPositions(&start, kAbs, &stop, kAbs), S_OK);
    Seeking().SetCurrentPosition(3 * kSecond, 75);
    dmx_->applied = 0;
    dmx_->lastFlush = FALSE;
    LONGLONG current = c.current, newStop = c.stop;
    EXPECT_EQ(Seeking().SetPositions(&current, c.currentFlags, &newStop, c.stopFlags), c.result);
    EXPECT_EQ(Seeking().StartPosition(), c.expectedStart);
    EXPECT_EQ(Seeking().StopPosition(), c.expectedStop);
    EXPECT_EQ(dmx_->applied, c.updates);
    EXPECT_EQ(dmx_->lastFlush, c.flush);
  }
  EXPECT_EQ(Seeking().SetPositions(nullptr, kAbs, nullptr, kNone), E_POINTER);
  EXPECT_EQ(Seeking().SetPositions(nullptr, kNone, nullptr, AM_SEEKING_ReturnTime), E_POINTER);
}

TEST_F(SeekingTest, ReturnTimeInFramesWritesBack100nsTimesOrStoresNothing) {
  ASSERT_EQ(Seeking().SetTimeFormat(&kFrames), S_OK);
  LONGLONG start = 10, stop = 5;
  EXPECT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, &stop,
                                   AM_SEEKING_IncrementalPositioning | AM_SEEKING_ReturnTime),
            S_OK);
  EXPECT_EQ(start, 10 * kFrameTime);
  EXPECT_EQ(stop, 15 * kFrameTime);
  EXPECT_EQ(Seeking().StopPosition(), 15);
  EXPECT_EQ(dmx_->CurrentTime(), 10 * kFrameTime);
  REFERENCE_TIME segStart = 0, segStop = 0;
  double rate = 0;
  Seeking().GetSegment(&segStart, &segStop, &rate);
  EXPECT_EQ(segStop, 15 * kFrameTime);
  start = -3;
  EXPECT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr, 0),
            E_INVALIDARG);
  EXPECT_EQ(Seeking().StartPosition(), 10);
}

// A player at the end seeks to 0 and runs again: the seek must reach the
// pins although 0 was recorded before the first run.
TEST_F(SeekingTest, RecordedSegmentHidesRepeatsOnlyUntilTheFilterRuns) {
  ASSERT_EQ(SeekTo(0), S_OK);
  REFERENCE_TIME segStart = 0, segStop = 0;
  double rate = 0;
  EXPECT_EQ(Seeking().GetSegment(&segStart, &segStop, &rate), S_FALSE);
  EXPECT_EQ(Seeking().GetSegment(&segStart, &segStop, &rate), S_FALSE);
  EXPECT_EQ(SeekTo(0), S_OK);
  EXPECT_EQ(dmx_->applied, 1);
  EXPECT_EQ(dmx_->unchanged, 1);

  ASSERT_EQ(dmx_->Run(0), S_OK);
  Seeking().SetCurrentPosition(40 * kSecond, 1000);
  // While running nothing is recorded: every seek is applied.
  SeekTo(kSecond);
  SeekTo(kSecond);
  EXPECT_EQ(dmx_->applied, 3);
  ASSERT_EQ(dmx_->Pause(), S_OK);
  SeekTo(0);
  EXPECT_EQ(dmx_->applied, 4);
  EXPECT_EQ(dmx_->CurrentTime(), 0);
  SeekTo(0);
  EXPECT_EQ(dmx_->applied, 4);
  dmx_->Stop();
}

TEST_F(SeekingTest, ConvertTimeFormatBetweenFramesAndTime) {
  // Target format, source value and format (null: the current one, media
  // time); the result and the value written.
  const std::tuple<const GUID*, LONGLONG, const GUID*, HRESULT, LONGLONG> cases[] = {
      {&kFrames, 2 * kSecond, &kMediaTime, S_OK, 50},    {&kMediaTime, 50, &kFrames, S_OK, 2 * kSecond},
      {&kFrames, 7, &kFrames, S_OK, 7},                  {nullptr, 50, &kFrames, S_OK, 2 * kSecond},
      {&kFrames, 2 * kSecond, nullptr, S_OK, 50},        {&TIME_FORMAT_BYTE, 1, &kFrames, E_INVALIDARG, -1},
      {&kFrames, 1, &TIME_FORMAT_SAMPLE, E_INVALIDARG, -1},
  };
  for (const auto& [target, source, sourceFormat, result, expected] : cases) {
    LONGLONG value = -1;
    EXPECT_EQ(Seeking().ConvertTimeFormat(&value, target, source, sourceFormat), result) << source;
    EXPECT_EQ(value, expected) << source;
  }
}

}  // namespace
