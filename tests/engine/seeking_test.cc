#include "diagnostics/trace.h"
#include "dmx_test_filters.h"

#include <gtest/gtest.h>

namespace {

using namespace dmxtest;

constexpr LONGLONG kSecond = UNITS;

class SeekingTest : public ::testing::Test {
 protected:
  void SetUp() override { dmx_ = Make<SeekingDmx>(2); }
  CSeeking& Seeking() { return *dmx_.Get(); }

  ComPtr<SeekingDmx> dmx_;
};

struct PositionCase {
  const char* name;
  DWORD currentFlags;
  LONGLONG current;
  DWORD stopFlags;
  LONGLONG stop;
  HRESULT result;
  LONGLONG expectedStart;
  LONGLONG expectedStop;
  int updates;
  BOOL flush;
};

// Before each row: start 2 s, stop 8 s, current position 3 s.
TEST_F(SeekingTest, SetPositionsFlagCombinations) {
  const PositionCase cases[] = {
      {"absolute start keeps the old stop and flushes", AM_SEEKING_AbsolutePositioning, 5 * kSecond,
       AM_SEEKING_NoPositioning, 0, S_OK, 5 * kSecond, 8 * kSecond, 1, TRUE},
      {"no-flush on the start", AM_SEEKING_AbsolutePositioning | AM_SEEKING_NoFlush, 5 * kSecond,
       AM_SEEKING_NoPositioning, 0, S_OK, 5 * kSecond, 8 * kSecond, 1, FALSE},
      {"no-flush on the stop", AM_SEEKING_AbsolutePositioning, 5 * kSecond, AM_SEEKING_NoFlush, 0, S_OK, 5 * kSecond,
       8 * kSecond, 1, FALSE},
      {"relative start counts from the current position", AM_SEEKING_RelativePositioning, kSecond,
       AM_SEEKING_NoPositioning, 0, S_OK, 4 * kSecond, 8 * kSecond, 1, TRUE},
      {"no positioning starts where delivery is", AM_SEEKING_NoPositioning, 0, AM_SEEKING_AbsolutePositioning,
       9 * kSecond, S_OK, 3 * kSecond, 9 * kSecond, 1, TRUE},
      {"relative stop counts from the old stop", AM_SEEKING_AbsolutePositioning, kSecond,
       AM_SEEKING_RelativePositioning, -kSecond, S_OK, kSecond, 7 * kSecond, 1, TRUE},
      {"incremental stop counts from the new start", AM_SEEKING_AbsolutePositioning, kSecond,
       AM_SEEKING_IncrementalPositioning, 2 * kSecond, S_OK, kSecond, 3 * kSecond, 1, TRUE},
      {"incremental start is refused with nothing changed", AM_SEEKING_IncrementalPositioning, kSecond,
       AM_SEEKING_AbsolutePositioning, kSecond, E_INVALIDARG, 2 * kSecond, 8 * kSecond, 0, FALSE},
      {"relative stop past the largest time saturates", AM_SEEKING_NoPositioning, 0, AM_SEEKING_RelativePositioning,
       MAX_TIME, S_OK, 3 * kSecond, MAX_TIME, 1, TRUE},
  };
  for (const PositionCase& c : cases) {
    SCOPED_TRACE(c.name);
    dmx_ = Make<SeekingDmx>(2);
    LONGLONG start = 2 * kSecond, stop = 8 * kSecond;
    ASSERT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning),
              S_OK);
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
}

TEST_F(SeekingTest, PositioningFlagsNeedTheirPointers) {
  LONGLONG position = 0;
  EXPECT_EQ(Seeking().SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, &position, 0), E_POINTER);
  EXPECT_EQ(Seeking().SetPositions(&position, 0, nullptr, AM_SEEKING_ReturnTime), E_POINTER);
  EXPECT_EQ(Seeking().SetPositions(nullptr, AM_SEEKING_NoPositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
}

TEST_F(SeekingTest, ReturnTimeWritesTheNewPositionsBackIn100nsUnits) {
  const GUID frames = TIME_FORMAT_FRAME;
  ASSERT_EQ(Seeking().SetTimeFormat(&frames), S_OK);
  LONGLONG start = 10, stop = 5;
  EXPECT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, &stop,
                                   AM_SEEKING_IncrementalPositioning | AM_SEEKING_ReturnTime),
            S_OK);
  EXPECT_EQ(start, 10 * kFrameTime);
  EXPECT_EQ(stop, 15 * kFrameTime);
  EXPECT_EQ(Seeking().StartPosition(), 10);
  EXPECT_EQ(Seeking().StopPosition(), 15);
  EXPECT_EQ(dmx_->CurrentTime(), 10 * kFrameTime);
  EXPECT_EQ(dmx_->CurrentFrame(), 10);
}

TEST_F(SeekingTest, FailedReturnTimeConversionStoresNothing) {
  const GUID frames = TIME_FORMAT_FRAME;
  ASSERT_EQ(Seeking().SetTimeFormat(&frames), S_OK);
  LONGLONG start = -3, stop = 0;
  EXPECT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, &stop, 0),
            E_INVALIDARG);
  EXPECT_EQ(Seeking().StartPosition(), 0);
  EXPECT_EQ(dmx_->applied, 0);
}

TEST_F(SeekingTest, ReverseSegmentRunsFromTheStartDownToZero) {
  ASSERT_EQ(Seeking().SetRate(-1.0), S_OK);
  LONGLONG start = 5 * kSecond, stop = MAX_TIME;
  ASSERT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning),
            S_OK);
  REFERENCE_TIME segStart = 0, segStop = 0;
  double rate = 0;
  Seeking().ForgetRecordedSegment();
  EXPECT_EQ(Seeking().GetSegment(&segStart, &segStop, &rate), S_OK);
  EXPECT_EQ(segStart, 5 * kSecond);
  EXPECT_EQ(segStop, 0);
  EXPECT_EQ(rate, -1.0);
}

TEST_F(SeekingTest, SegmentInFramesComesBackIn100nsUnits) {
  const GUID frames = TIME_FORMAT_FRAME;
  ASSERT_EQ(Seeking().SetTimeFormat(&frames), S_OK);
  LONGLONG start = 25, stop = 50;
  ASSERT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning),
            S_OK);
  REFERENCE_TIME segStart = 0, segStop = 0;
  double rate = 0;
  Seeking().GetSegment(&segStart, &segStop, &rate);
  EXPECT_EQ(segStart, kSecond);
  EXPECT_EQ(segStop, 2 * kSecond);
  EXPECT_EQ(Seeking().GetSegment(nullptr, &segStop, &rate), E_POINTER);
}

TEST_F(SeekingTest, RecordedSegmentReadsAsUnchangedUntilItChanges) {
  LONGLONG start = kSecond;
  ASSERT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  REFERENCE_TIME segStart = 0, segStop = 0;
  double rate = 0;
  EXPECT_EQ(Seeking().GetSegment(&segStart, &segStop, &rate), S_FALSE);
  EXPECT_EQ(Seeking().GetSegment(&segStart, &segStop, &rate), S_FALSE);
  // The same seek again changes nothing and is not applied.
  EXPECT_EQ(Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(dmx_->applied, 1);
  EXPECT_EQ(dmx_->unchanged, 1);
  start = 2 * kSecond;
  Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  EXPECT_EQ(dmx_->applied, 2);
}

// Stopped at 0 after a run to the end, a player seeks to 0 and runs again:
// the seek must reach the pins even though 0 was recorded before the run.
TEST_F(SeekingTest, SeekToAPositionRecordedBeforeRunningIsAppliedAfterRunning) {
  LONGLONG zero = 0;
  ASSERT_EQ(Seeking().SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  ASSERT_EQ(dmx_->applied, 1);
  ASSERT_EQ(dmx_->Run(0), S_OK);
  Seeking().SetCurrentPosition(40 * kSecond, 1000);
  ASSERT_EQ(dmx_->Pause(), S_OK);
  EXPECT_EQ(Seeking().SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(dmx_->applied, 2);
  EXPECT_EQ(dmx_->CurrentTime(), 0);
  // Paused, the same seek twice is one seek.
  EXPECT_EQ(Seeking().SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(dmx_->applied, 2);
  dmx_->Stop();
}

TEST_F(SeekingTest, SeeksWhileRunningAreNeverTakenForUnchanged) {
  ASSERT_EQ(dmx_->Run(0), S_OK);
  LONGLONG start = kSecond;
  Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  EXPECT_EQ(dmx_->applied, 2);
  dmx_->Stop();
}

TEST_F(SeekingTest, RateChangesAreCheckedAndAppliedOnce) {
  EXPECT_EQ(Seeking().SetRate(0.0), E_INVALIDARG);
  EXPECT_EQ(Seeking().SetRate(std::numeric_limits<double>::quiet_NaN()), E_INVALIDARG);
  EXPECT_EQ(Seeking().SetRate(std::numeric_limits<double>::infinity()), E_INVALIDARG);
  EXPECT_EQ(dmx_->applied, 0);
  EXPECT_EQ(Seeking().SetRate(1.0), S_OK);
  EXPECT_EQ(dmx_->applied, 0);
  EXPECT_EQ(Seeking().SetRate(-2.0), S_OK);
  EXPECT_EQ(dmx_->applied, 1);
  EXPECT_TRUE(dmx_->lastFlush);
  double rate = 0;
  EXPECT_EQ(Seeking().GetRate(&rate), S_OK);
  EXPECT_EQ(rate, -2.0);
}

// The base refuses what it cannot play forwards.
class ForwardOnlySeeking : public SeekingDmx {
 public:
  ForwardOnlySeeking() : SeekingDmx(1) {}
  BOOL IsRateSupported(double rate) override { return CSeeking::IsRateSupported(rate); }
};

TEST(SeekingBase, DefaultRateCheckRefusesReversePlayback) {
  auto dmx = Make<ForwardOnlySeeking>();
  EXPECT_EQ(dmx->SetRate(-1.0), E_INVALIDARG);
  EXPECT_EQ(dmx->SetRate(0.5), S_OK);
}

TEST_F(SeekingTest, TimeFormatSwitchConvertsThePositions) {
  LONGLONG start = 2 * kSecond, stop = 4 * kSecond;
  Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning);
  const GUID frames = TIME_FORMAT_FRAME, mediaTime = TIME_FORMAT_MEDIA_TIME, bytes = TIME_FORMAT_BYTE;
  EXPECT_EQ(Seeking().SetTimeFormat(&frames), S_OK);
  EXPECT_EQ(Seeking().IsUsingTimeFormat(&frames), S_OK);
  EXPECT_EQ(Seeking().StartPosition(), 50);
  EXPECT_EQ(Seeking().StopPosition(), 100);
  LONGLONG reported = 0;
  EXPECT_EQ(Seeking().GetStopPosition(&reported), S_OK);
  EXPECT_EQ(reported, 100);
  EXPECT_EQ(Seeking().SetTimeFormat(&frames), S_OK);
  EXPECT_EQ(Seeking().StartPosition(), 50);
  EXPECT_EQ(Seeking().SetTimeFormat(&mediaTime), S_OK);
  EXPECT_EQ(Seeking().StartPosition(), 2 * kSecond);
  EXPECT_EQ(Seeking().StopPosition(), 4 * kSecond);
  EXPECT_EQ(Seeking().SetTimeFormat(&bytes), E_FAIL);
  EXPECT_EQ(Seeking().IsUsingTimeFormat(&mediaTime), S_OK);
  EXPECT_EQ(Seeking().SetTimeFormat(nullptr), E_POINTER);
}

TEST_F(SeekingTest, FailedStartConversionKeepsMediaTime) {
  Seeking().SetCurrentPosition(0, 0);
  LONGLONG start = -kSecond;
  Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  const GUID frames = TIME_FORMAT_FRAME, mediaTime = TIME_FORMAT_MEDIA_TIME;
  EXPECT_EQ(Seeking().SetTimeFormat(&frames), E_INVALIDARG);
  EXPECT_EQ(Seeking().IsUsingTimeFormat(&mediaTime), S_OK);
  EXPECT_EQ(Seeking().StartPosition(), -kSecond);
}

struct ConvertCase {
  const GUID* target;
  LONGLONG source;
  const GUID* sourceFormat;
  HRESULT result;
  LONGLONG expected;
};

TEST_F(SeekingTest, ConvertTimeFormatBetweenFramesAndTime) {
  const ConvertCase cases[] = {
      {&TIME_FORMAT_FRAME, 2 * kSecond, &TIME_FORMAT_MEDIA_TIME, S_OK, 50},
      {&TIME_FORMAT_MEDIA_TIME, 50, &TIME_FORMAT_FRAME, S_OK, 2 * kSecond},
      {&TIME_FORMAT_FRAME, 7, &TIME_FORMAT_FRAME, S_OK, 7},
      // A null format is the current one (media time).
      {nullptr, 50, &TIME_FORMAT_FRAME, S_OK, 2 * kSecond},
      {&TIME_FORMAT_FRAME, 2 * kSecond, nullptr, S_OK, 50},
      {nullptr, 123, nullptr, S_OK, 123},
      {&TIME_FORMAT_BYTE, 1, &TIME_FORMAT_FRAME, E_INVALIDARG, -1},
      {&TIME_FORMAT_FRAME, 1, &TIME_FORMAT_SAMPLE, E_INVALIDARG, -1},
  };
  for (const ConvertCase& c : cases) {
    LONGLONG target = -1;
    EXPECT_EQ(Seeking().ConvertTimeFormat(&target, c.target, c.source, c.sourceFormat), c.result) << c.source;
    EXPECT_EQ(target, c.expected) << c.source;
  }
  EXPECT_EQ(Seeking().ConvertTimeFormat(nullptr, nullptr, 0, nullptr), E_POINTER);
}

TEST_F(SeekingTest, CheckCapabilitiesKeepsOnlyWhatIsSupported) {
  struct {
    DWORD asked;
    HRESULT result;
    DWORD left;
  } const cases[] = {
      {0x3F, S_OK, 0x3F},
      {AM_SEEKING_CanSeekAbsolute, S_OK, AM_SEEKING_CanSeekAbsolute},
      {0, S_OK, 0},
      {AM_SEEKING_CanPlayBackwards, E_FAIL, 0},
      {AM_SEEKING_CanPlayBackwards | AM_SEEKING_CanGetDuration, S_FALSE, AM_SEEKING_CanGetDuration},
      {0xFFFFFFFF, S_FALSE, 0x3F},
  };
  for (const auto& c : cases) {
    DWORD caps = c.asked;
    EXPECT_EQ(Seeking().CheckCapabilities(&caps), c.result) << c.asked;
    EXPECT_EQ(caps, c.left) << c.asked;
  }
  DWORD caps = 0;
  EXPECT_EQ(Seeking().GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps, 0x3Fu);
  EXPECT_EQ(Seeking().CheckCapabilities(nullptr), E_POINTER);
}

TEST_F(SeekingTest, FormatQueriesAndUnsupportedCalls) {
  const GUID frames = TIME_FORMAT_FRAME, bytes = TIME_FORMAT_BYTE;
  EXPECT_EQ(Seeking().IsFormatSupported(&frames), S_OK);
  EXPECT_EQ(Seeking().IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(Seeking().IsFormatSupported(&bytes), S_FALSE);
  EXPECT_EQ(Seeking().IsFormatSupported(nullptr), E_POINTER);
  GUID format = GUID_NULL;
  EXPECT_EQ(Seeking().QueryPreferredFormat(&format), S_OK);
  EXPECT_EQ(format, TIME_FORMAT_MEDIA_TIME);
  EXPECT_EQ(Seeking().GetTimeFormat(nullptr), E_POINTER);
  LONGLONG a = 0, b = 0;
  EXPECT_EQ(Seeking().GetAvailable(&a, &b), E_NOTIMPL);
  EXPECT_EQ(Seeking().GetPreroll(&a), E_NOTIMPL);
  EXPECT_EQ(Seeking().GetRate(nullptr), E_POINTER);
  Seeking().SetCurrentPosition(3 * kSecond, 75);
  EXPECT_EQ(Seeking().GetPositions(&a, &b), S_OK);
  EXPECT_EQ(a, 3 * kSecond);
  EXPECT_EQ(b, MAX_TIME);
}

TEST_F(SeekingTest, SetPositionsTracesItsArgumentsInTheCurrentFormat) {
  std::string trace;
  SetTraceCaptureForTesting(&trace);
  LONGLONG start = 1500 * 10000;
  Seeking().SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  const GUID frames = TIME_FORMAT_FRAME;
  Seeking().SetTimeFormat(&frames);
  LONGLONG frame = 12;
  Seeking().SetPositions(&frame, AM_SEEKING_AbsolutePositioning, nullptr, 0);
  SetTraceCaptureForTesting(nullptr);
  EXPECT_NE(trace.find("\n+ SetPositions. Current=" + TraceTime(start) + ", CurrentFlags=00000001, Stop=(NULL), StopFlags=0"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("Current=12 frame, CurrentFlags=00000001"), std::string::npos) << trace;
  EXPECT_NE(trace.find("\n- SetPositions"), std::string::npos);
}

// The output pins' pass-through: only the main seeking pin moves the filter.
class PassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dmx_ = Make<SeekingDmx>(2);
    dmx_->AddOutputPin(FALSE);
    dmx_->AddOutputPin(FALSE);
  }
  ComPtr<IMediaSeeking> SeekingOf(int k) {
    ComPtr<IMediaSeeking> seeking;
    EXPECT_EQ(dmx_->GetOutputPin(k)->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
    return seeking;
  }

  ComPtr<SeekingDmx> dmx_;
};

TEST_F(PassThroughTest, FirstPinAskedBecomesMainWithoutAConnectedAudioPin) {
  dmx_->SetFirstAudioPin(dmx_->GetOutputPin(1));  // not connected
  ComPtr<IMediaSeeking> first = SeekingOf(0);
  ComPtr<IMediaSeeking> second = SeekingOf(1);
  EXPECT_EQ(dmx_->GetMainSeekingPin(), dmx_->GetOutputPin(0));
  EXPECT_EQ(second->SetRate(2.0), S_OK);
  EXPECT_EQ(dmx_->Rate(), 1.0);
  LONGLONG start = kSecond;
  EXPECT_EQ(second->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(dmx_->applied, 0);
  EXPECT_EQ(first->SetRate(2.0), S_OK);
  EXPECT_EQ(dmx_->Rate(), 2.0);
  EXPECT_EQ(first->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(dmx_->applied, 2);
  // Reads go through on every pin.
  LONGLONG stop = 0;
  EXPECT_EQ(second->GetStopPosition(&stop), S_OK);
  EXPECT_EQ(stop, MAX_TIME);
  LONGLONG current = -1;
  EXPECT_EQ(second->GetCurrentPosition(&current), S_OK);
  EXPECT_EQ(current, kSecond);
}

TEST_F(PassThroughTest, ConnectionChangesReopenTheChoice) {
  SeekingOf(0);
  EXPECT_EQ(dmx_->GetMainSeekingPin(), dmx_->GetOutputPin(0));
  dmx_->BreakPinConnect(1);
  EXPECT_EQ(dmx_->GetMainSeekingPin(), nullptr);
  ComPtr<IMediaSeeking> second = SeekingOf(1);
  EXPECT_EQ(dmx_->GetMainSeekingPin(), dmx_->GetOutputPin(1));
  // The first pin learns on its next query that it is no longer main.
  ComPtr<IMediaSeeking> first = SeekingOf(0);
  EXPECT_EQ(first->SetRate(3.0), S_OK);
  EXPECT_EQ(dmx_->Rate(), 1.0);
  dmx_->CompletePinConnect(2, nullptr);
  EXPECT_EQ(dmx_->GetMainSeekingPin(), nullptr);
}

TEST_F(PassThroughTest, PinOfAFilterWithoutSeekingOffersNone) {
  auto plain = Make<TestDmx>(1);
  plain->AddOutputPin(FALSE);
  void* seeking = reinterpret_cast<void*>(1);
  EXPECT_EQ(plain->GetOutputPin(0)->QueryInterface(IID_IMediaSeeking, &seeking), E_NOTIMPL);
  EXPECT_EQ(seeking, nullptr);
  EXPECT_EQ(plain->GetOutputPin(0)->QueryInterface(IID_IMediaSeeking, nullptr), E_POINTER);
  // Its pass-through answers nothing.
  CFilterPassThru* passThru = plain->GetOutputPin(0);
  LONGLONG position = 0;
  EXPECT_EQ(passThru->GetDuration(&position), E_NOTIMPL);
  EXPECT_EQ(passThru->SetRate(1.0), E_NOTIMPL);
  EXPECT_EQ(passThru->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER);
}

TEST_F(PassThroughTest, FilterAnswersSeekingOnlyUnderItsPrivateIdentifier) {
  ComPtr<IMediaSeeking> seeking;
  EXPECT_EQ(dmx_->NonDelegatingQueryInterface(IID_IMediaSeeking, seeking.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(dmx_->NonDelegatingQueryInterface(IID_IDmxFilterSeeking, seeking.PutVoid()), S_OK);
  EXPECT_EQ(dmx_->GetSeeking(), static_cast<CSeeking*>(dmx_.Get()));
}

}  // namespace
