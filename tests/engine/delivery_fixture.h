// The engine tests' fixtures. Small demultiplexer filters: a CBaseDmx
// whose output pins record what reaches them and whose hooks can be told to
// fail, and a variant that is also a CSeeking (25 frames per second, 1000
// frames) with an UpdateCurrentPosition that applies a seek the way a real
// filter must. Then a whole delivery path without a file: a movie built in
// memory (BuildMovieFile), parsed with the streams layer's sample entries
// over a MemorySource, and a demultiplexer whose output pins are bound to its
// tracks, each connected to a CSampleSink in a filter graph. Tests run the
// graph and read what the sinks recorded.
#pragma once

#include "container/trak_box.h"
#include "engine/base_dmx.h"
#include "engine/buffered_reader.h"
#include "engine/input_pin.h"
#include "engine/output_pin.h"
#include "engine/seeking.h"
#include "platform/class_table.h"
#include "platform/filter_graph.h"
#include "platform/media_guids.h"
#include "platform/sample_sink.h"
#include "streams/sample_entry_factory.h"
#include "support/box_builder.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"
#include "support/test_objects.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
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

// `count` samples of `duration`, sample i holding `size` bytes of value i.
inline StreamSpec VideoStream(const std::string& format, int count, int32_t duration = 1000, size_t size = 40) {
  StreamSpec spec;
  spec.format = format;
  spec.entryBody = VisualEntryBody(16, 16);
  for (int i = 0; i < count; ++i) {
    spec.durations.push_back(duration);
    spec.samples.emplace_back(size, static_cast<uint8_t>(i + 1));
  }
  return spec;
}

// A SeekingDmx whose pins are sized from their tracks and report their
// buffer count, as a real demultiplexer's are.
class TrackDmx : public SeekingDmx {
 public:
  TrackDmx() : SeekingDmx(8) {}

  HRESULT DecidePinBufferSize(int pinNo, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
    CBaseDmxOutputPin* pin = pinNo > 0 ? GetOutputPin(pinNo - 1) : nullptr;
    if (pin != nullptr) props->cbBuffer = std::max<LONG>(props->cbBuffer, static_cast<LONG>(pin->MaxSampleSize()));
    props->cBuffers = std::max<LONG>(props->cBuffers, buffers);
    const HRESULT hr = CBaseDmx::DecidePinBufferSize(pinNo, allocator, props);
    if (SUCCEEDED(hr) && pin != nullptr) pin->SetBufferCount(props->cBuffers);
    return hr;
  }

  LONG buffers = 3;
  using CBaseDmx::SetFirstVideoPin;
};

// The graph of one test: build, run, look. The destructor stops it.
class DeliveryRig {
 public:
  // Builds the movie, the filter with one pin per track, and one sample
  // sink per pin. Use under ASSERT_NO_FATAL_FAILURE.
  void Build(const std::vector<StreamSpec>& streams) {
    bytes = BuildMovieFile(streams);
    source = MemorySource::Create(bytes);
    movie = ParseMovie(source.Get(), 0, CreateSampleEntry);
    ASSERT_EQ(movie.result, S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph.PutVoid()),
              S_OK);
    ASSERT_EQ(graph.As(IID_IMediaControl, control), S_OK);
    ASSERT_EQ(graph.As(IID_IMediaEventEx, events), S_OK);
    ASSERT_EQ(graph.As(IID_IMediaSeeking, seeking), S_OK);
    dmx = Make<TrackDmx>();
    ASSERT_EQ(graph->AddFilter(dmx.Get(), L"Demux"), S_OK);
    for (ULONG i = 0; i < movie.source->TrackCount(); ++i) {
      trakBox& track = movie.Track(i);
      track.PreparePcmLayout();
      ASSERT_EQ(dmx->AddOutputPin(FALSE), S_OK);
      CBaseDmxOutputPin* pin = dmx->GetOutputPin(static_cast<int>(i));
      pin->SetTrack(&track);
      pin->SetMaxSampleSize(track.GetMaxSampleSize());
      if (track.mediaKind == kMediaKindVideo && dmx->FirstVideoPin() == nullptr) dmx->SetFirstVideoPin(pin);
      if (track.mediaKind == kMediaKindSound && dmx->FirstAudioPin() == nullptr) dmx->SetFirstAudioPin(pin);
      CSampleSink* sink = nullptr;
      ASSERT_EQ(CSampleSink::Create(&sink), S_OK);
      sinks.push_back(ComPtr<CSampleSink>::Attach(sink));
      ASSERT_EQ(graph->AddFilter(sink, (L"Sink " + std::to_wstring(i)).c_str()), S_OK);
      ASSERT_EQ(graph->ConnectDirect(pin, sink->GetPin(0), nullptr), S_OK);
    }
  }

  ~DeliveryRig() {
    if (control) control->Stop();
    if (source) source->Open();
    if (graph) {
      for (auto& sink : sinks) graph->RemoveFilter(sink.Get());
      if (dmx) graph->RemoveFilter(dmx.Get());
    }
  }

  // Runs and waits for EC_COMPLETE (or an abort); returns the event code.
  LONG RunToEnd() {
    EXPECT_EQ(control->Run(), S_OK);
    LONG code = 0;
    EXPECT_EQ(events->WaitForCompletion(10000, &code), S_OK);
    return code;
  }

  // The start (100-ns) and the rate, through the graph, while stopped.
  void SetSegment(REFERENCE_TIME start, double rate = 1.0) {
    ASSERT_EQ(seeking->SetRate(rate), S_OK);
    ASSERT_EQ(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  }

  // The graph's events so far, as (code, param1).
  std::vector<std::pair<LONG, LONG_PTR>> TakeEvents() {
    std::vector<std::pair<LONG, LONG_PTR>> taken;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) taken.emplace_back(code, p1);
    return taken;
  }

  // The 0-based numbers of the samples a sink received (their media start).
  std::vector<LONGLONG> SampleNumbers(size_t pin) const {
    std::vector<LONGLONG> numbers;
    for (const SinkSample& sample : sinks[pin]->Samples()) numbers.push_back(sample.mediaStart);
    return numbers;
  }

  // Members are destroyed bottom up: the sinks and the filter (with its
  // pins) before the tracks they point at.
  std::vector<uint8_t> bytes;
  ComPtr<MemorySource> source;
  ParsedMovie movie;
  ComPtr<IFilterGraph> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  ComPtr<IMediaSeeking> seeking;
  ComPtr<TrackDmx> dmx;
  std::vector<ComPtr<CSampleSink>> sinks;
};

}  // namespace dmxtest
