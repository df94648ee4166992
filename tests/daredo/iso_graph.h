// The ISO demultiplexer in a real graph for the filter's tests: the
// platform's file source over a file, the filter created by its class
// identifier and connected to it, and one CSampleSink per output pin.
#pragma once

#include "daredo/dar_edo.h"
#include "engine/output_pin.h"
#include "platform/class_table.h"
#include "platform/filter_graph.h"
#include "platform/media_guids.h"
#include "platform/sample_sink.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace isotest {

class IsoGraph {
 public:
  // Loads `path` (with `type` as the source's media type when given) into
  // the source filter of class `sourceClass` and connects the filter's
  // input; the result is ConnectDirect's.
  HRESULT Open(const std::string& path, const AM_MEDIA_TYPE* type = nullptr,
               REFCLSID sourceClass = CLSID_AsyncReader) {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph.PutVoid());
    if (FAILED(hr)) return hr;
    graph.As(IID_IMediaControl, control);
    graph.As(IID_IMediaEventEx, events);
    graph.As(IID_IMediaSeeking, seeking);
    hr = CoCreateInstance(sourceClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IFileSourceFilter> file;
    source.As(IID_IFileSourceFilter, file);
    hr = file->Load(std::wstring(path.begin(), path.end()).c_str(), type);
    if (FAILED(hr)) return hr;
    graph->AddFilter(source.Get(), L"Source");
    hr = CoCreateInstance(CLSID_DarEdo, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid());
    if (FAILED(hr)) return hr;
    dmx = CDarEdo::FromFilter(filter.Get());
    filter.As(IID_IDmxFilterSeeking, filterSeeking);
    graph->AddFilter(filter.Get(), kDarEdoName);
    source->FindPin(L"Output", sourceOut.Put());
    return graph->ConnectDirect(sourceOut.Get(), dmx->GetPin(0), nullptr);
  }

  // One sample sink per output pin, or on pin `onlyPin` alone. Use under
  // ASSERT_NO_FATAL_FAILURE.
  void ConnectSinks(int onlyPin = -1) {
    for (int k = 0; k < dmx->GetOutputPinCount(); ++k) {
      if (onlyPin >= 0 && k != onlyPin) continue;
      CSampleSink* sink = nullptr;
      ASSERT_EQ(CSampleSink::Create(&sink), S_OK);
      sinks.push_back(ComPtr<CSampleSink>::Attach(sink));
      ASSERT_EQ(graph->AddFilter(sink, (L"Sink " + std::to_wstring(k)).c_str()), S_OK);
      ASSERT_EQ(graph->ConnectDirect(dmx->GetOutputPin(k), sink->GetPin(0), nullptr), S_OK);
    }
  }

  ~IsoGraph() {
    if (control) control->Stop();
    if (graph) {
      for (auto& sink : sinks) graph->RemoveFilter(sink.Get());
      if (filter) graph->RemoveFilter(filter.Get());
      if (source) graph->RemoveFilter(source.Get());
    }
  }

  // Runs and waits for the graph's completion; returns the event code.
  LONG RunToEnd() {
    EXPECT_EQ(control->Run(), S_OK);
    return WaitForEnd();
  }
  LONG WaitForEnd() {
    LONG code = 0;
    EXPECT_EQ(events->WaitForCompletion(10000, &code), S_OK);
    return code;
  }
  void ClearRecords() {
    for (auto& sink : sinks) sink->ClearRecord();
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    }
  }

  ComPtr<IFilterGraph> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  ComPtr<IMediaSeeking> seeking;  // the graph's
  ComPtr<IBaseFilter> source;
  ComPtr<IPin> sourceOut;
  ComPtr<IBaseFilter> filter;
  CDarEdo* dmx = nullptr;  // filter's object
  ComPtr<IMediaSeeking> filterSeeking;
  std::vector<ComPtr<CSampleSink>> sinks;
};

}  // namespace isotest
