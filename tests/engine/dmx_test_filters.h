// Small demultiplexer filters for the engine tests: a CBaseDmx whose output
// pins record what reaches them and whose hooks can be told to fail, and a
// variant that is also a CSeeking (25 frames per second, 1000 frames) with
// an UpdateCurrentPosition that applies a seek the way a real filter must.
#pragma once

#include "support/test_objects.h"

#include "container/trak_box.h"
#include "engine/base_dmx.h"
#include "engine/buffered_reader.h"
#include "engine/input_pin.h"
#include "engine/output_pin.h"
#include "engine/seeking.h"
#include "platform/media_guids.h"
#include "streams/sample_entry_factory.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace dmxtest {

using testobjects::CallLog;
using testobjects::Make;

// Logs its state calls as "<call> <stream index>" and can fail them.
class RecordingOutputPin : public CBaseDmxOutputPin {
 public:
  RecordingOutputPin(CBaseDmx* filter, int streamIndex, HRESULT* phr, LPCWSTR name, CallLog* log)
      : CBaseDmxOutputPin(filter, streamIndex, phr, name), log_(log) {}

  HRESULT Active() override {
    Log("Active");
    return FAILED(activeResult) ? activeResult : CBaseDmxOutputPin::Active();
  }
  HRESULT Inactive() override {
    Log("Inactive");
    const HRESULT hr = CBaseDmxOutputPin::Inactive();
    return FAILED(inactiveResult) ? inactiveResult : hr;
  }
  HRESULT Run(REFERENCE_TIME start) override {
    Log("Run");
    return FAILED(runResult) ? runResult : CBaseDmxOutputPin::Run(start);
  }

  HRESULT activeResult = S_OK;
  HRESULT inactiveResult = S_OK;
  HRESULT runResult = S_OK;

 private:
  void Log(const char* call) {
    if (log_ != nullptr) log_->Add(std::string(call) + " " + std::to_string(StreamIndex()));
  }

  CallLog* log_;
};

inline constexpr CLSID CLSID_TestDmx = {0x1A2B3C4D, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};

// A CBaseDmx that accepts a MEDIATYPE_Stream input and logs its hooks.
class TestDmx : public CBaseDmx {
 public:
  explicit TestDmx(LONG maxOutputPins = 4, CallLog* log = nullptr)
      : CBaseDmx(CLSID_TestDmx, "TestDmx", nullptr, &constructResult, maxOutputPins), log_(log) {}

  HRESULT PrepareOutputPins() override {
    Log("Prepare");
    if (FAILED(prepareResult)) return prepareResult;
    return CBaseDmx::PrepareOutputPins();
  }
  HRESULT OnStopped() override {
    Log("OnStopped");
    return onStoppedResult;
  }
  HRESULT CheckPinMediaType(int pinNo, const CMediaType* mt) override {
    if (pinNo != 0) return S_OK;
    return mt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
  }
  RecordingOutputPin* Pin(int k) { return static_cast<RecordingOutputPin*>(GetOutputPin(k)); }
  using CBaseDmx::SetFirstAudioPin;

  HRESULT constructResult = S_OK;
  HRESULT prepareResult = S_OK;
  HRESULT onStoppedResult = S_OK;

 protected:
  CBaseDmxOutputPin* CreateOutputPin(int streamIndex, LPCWSTR name) override {
    HRESULT hr = S_OK;
    auto* pin = new RecordingOutputPin(this, streamIndex, &hr, name, log_);
    if (FAILED(hr)) {
      delete pin;
      return nullptr;
    }
    return pin;
  }
  void Log(const char* call) {
    if (log_ != nullptr) log_->Add(call);
  }

  CallLog* log_;

 public:
  ~TestDmx() override { RemoveOutputPins(); }
};

inline constexpr REFERENCE_TIME kFrameTime = 400000;  // 25 frames per second
inline constexpr LONGLONG kFrameCount = 1000;

// A TestDmx that is its own CSeeking, as a real demultiplexer is.
class SeekingDmx : public TestDmx, public CSeeking {
 public:
  using TestDmx::TestDmx;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv != nullptr && riid == IID_IDmxFilterSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return TestDmx::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT GetDuration(LONGLONG* duration) override {
    if (duration == nullptr) return E_POINTER;
    *duration = IsMediaTimeFormat() ? kFrameCount * kFrameTime : kFrameCount;
    return S_OK;
  }
  HRESULT GetCurrentPosition(LONGLONG* current) override {
    if (current == nullptr) return E_POINTER;
    *current = IsMediaTimeFormat() ? CurrentTime() : CurrentFrame();
    return S_OK;
  }
  HRESULT FrameToTime(LONGLONG frame, LONGLONG* time) override {
    if (frame < 0) return E_INVALIDARG;
    *time = std::min(frame, kFrameCount) * kFrameTime;
    return S_OK;
  }
  HRESULT TimeToFrame(LONGLONG time, LONGLONG* frame) override {
    if (time < 0) return E_INVALIDARG;
    *frame = std::min(time / kFrameTime, kFrameCount);
    return S_OK;
  }
  BOOL IsRateSupported(double rate) override { return rate != 0.0 ? TRUE : FALSE; }

  // Applies the segment as a demultiplexer must: record it, move the
  // current position, then flush and restart the pins, or ask them to
  // restart without a flush.
  HRESULT UpdateCurrentPosition(BOOL flush) override {
    CAutoLock hold(FilterLock());
    if (RecordSegment(State())) {
      ++unchanged;
      return S_OK;
    }
    ++applied;
    lastFlush = flush;
    LONGLONG frame = 0;
    REFERENCE_TIME time = 0;
    if (IsMediaTimeFormat()) {
      time = StartPosition();
      if (FAILED(TimeToFrame(time, &frame))) frame = 0;
    } else {
      frame = StartPosition();
      const HRESULT hr = FrameToTime(frame, &time);
      if (FAILED(hr)) return hr;
    }
    SetCurrentPosition(time, frame);
    if (State() == State_Stopped) return S_OK;
    const int count = GetOutputPinCount();
    if (flush) {
      DeliverBeginFlushAll(0);
      for (int k = 0; k < count; ++k) GetOutputPin(k)->Inactive();
      DeliverEndFlushAll(0);
      for (int k = 0; k < count; ++k) GetOutputPin(k)->Active();
    } else {
      for (int k = 0; k < count; ++k) GetOutputPin(k)->RequestRestart();
    }
    return S_OK;
  }

  int applied = 0;
  int unchanged = 0;
  BOOL lastFlush = FALSE;
};

}  // namespace dmxtest
