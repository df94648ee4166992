// Plays a media file through the Verdant ISO Demultiplexer with a sample
// sink on every output pin, then prints per pin how many samples and bytes
// arrived and the first and last stream times. Built against the installed
// package, with pkg-config or with CMake (see CMakeLists.txt here).
#include "daredo/iso_demultiplexer.h"
#include "platform/class_table.h"
#include "platform/filter_graph.h"
#include "platform/media_guids.h"
#include "platform/sample_sink.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr LONG kWaitMs = 60000;

bool Failed(HRESULT hr, const char* step) {
  if (SUCCEEDED(hr)) return false;
  std::fprintf(stderr, "play_counts: %s: %s\n", step, HResultText(hr).c_str());
  return true;
}

// The filter's pins of one direction, in its order.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
  std::vector<ComPtr<IPin>> found;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.Put()))) return found;
  for (ComPtr<IPin> pin; pins->Next(1, pin.Put(), nullptr) == S_OK;) {
    PIN_DIRECTION direction = PINDIR_INPUT;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) found.push_back(pin);
  }
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: play_counts FILE\n");
    return 2;
  }
  const std::string path = argv[1];
  ComPtr<IFilterGraph> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  ComPtr<IBaseFilter> source;
  ComPtr<IFileSourceFilter> file;
  ComPtr<IBaseFilter> demux;
  ComPtr<IPin> sourceOut;
  if (Failed(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph.PutVoid()),
             "graph") ||
      Failed(graph.As(IID_IMediaControl, control), "control") || Failed(graph.As(IID_IMediaEventEx, events), "events")) {
    return 1;
  }
  // The file source reads the file; the demultiplexer comes from the module
  // this program links, or from the registry when the filter is registered.
  if (Failed(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid()),
             "file source") ||
      Failed(source.As(IID_IFileSourceFilter, file), "file source") ||
      Failed(file->Load(std::wstring(path.begin(), path.end()).c_str(), nullptr), path.c_str()) ||
      Failed(graph->AddFilter(source.Get(), L"Source"), "add source") ||
      Failed(CoCreateInstance(CLSID_DarEdo, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, demux.PutVoid()),
             "demultiplexer") ||
      Failed(graph->AddFilter(demux.Get(), kDarEdoName), "add demultiplexer") ||
      Failed(source->FindPin(L"Output", sourceOut.Put()), "source pin") ||
      Failed(graph->ConnectDirect(sourceOut.Get(), PinsOf(demux.Get(), PINDIR_INPUT).at(0).Get(), nullptr),
             "connect")) {
    return 1;
  }

  // A sample sink behind every output pin.
  std::vector<ComPtr<CSampleSink>> sinks;
  for (const ComPtr<IPin>& pin : PinsOf(demux.Get(), PINDIR_OUTPUT)) {
    CSampleSink* sink = nullptr;
    if (Failed(CSampleSink::Create(&sink), "sink")) return 1;
    sinks.push_back(ComPtr<CSampleSink>::Attach(sink));
    if (Failed(graph->AddFilter(sink, (L"Sink " + std::to_wstring(sinks.size())).c_str()), "add sink") ||
        Failed(graph->ConnectDirect(pin.Get(), sink->GetPin(0), nullptr), "connect sink")) {
      return 1;
    }
  }

  LONG code = 0;
  if (Failed(control->Run(), "run") || Failed(events->WaitForCompletion(kWaitMs, &code), "wait")) return 1;
  control->Stop();
  for (size_t k = 0; k < sinks.size(); ++k) {
    const std::vector<SinkSample> samples = sinks[k]->Samples();
    long long bytes = 0;
    for (const SinkSample& sample : samples) bytes += sample.length;
    std::printf("pin %zu: %zu samples, %lld bytes", k + 1, samples.size(), bytes);
    if (!samples.empty()) {
      std::printf(", first start %lld, last stop %lld (100-ns units)", static_cast<long long>(samples.front().start),
                  static_cast<long long>(samples.back().stop));
    }
    std::printf("\n");
  }
  // The filters hold the graph's connections; removing them breaks the
  // references between pins.
  for (auto& sink : sinks) graph->RemoveFilter(sink.Get());
  graph->RemoveFilter(demux.Get());
  graph->RemoveFilter(source.Get());
  return 0;
}
