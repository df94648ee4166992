// A whole delivery path for the engine tests, without a file: a movie built
// in memory (BuildMovieFile), parsed with the
// streams layer's sample entries over a MemorySource, and a SeekingDmx whose
// output pins are bound to its tracks, each pin connected to a CSampleSink
// in a filter graph. Tests run the graph and read what the sinks recorded.
#pragma once

#include "dmx_test_filters.h"

#include "container/trak_box.h"
#include "platform/class_table.h"
#include "platform/filter_graph.h"
#include "platform/sample_sink.h"
#include "streams/sample_entry_factory.h"
#include "support/box_builder.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace dmxtest {

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
