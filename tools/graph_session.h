// GraphSession: the graph behind `info`, `play`, `dump` and `extract`. It
// builds a filter graph with the asynchronous file source for the input,
// the demultiplexer (created by its class identifier) connected to it, and
// optionally one CStreamSink per output pin; it applies the positions and
// rate asked for and runs the graph to completion.
//
// Used on the tool's main thread only. The destructor stops the graph and
// releases every filter.
#pragma once

#include "stream_sink.h"

#include "daredo/dar_edo.h"
#include "platform/filter_graph.h"

#include <optional>
#include <string>
#include <vector>

struct PlayOptions {
  // Seconds, or 0-based frame numbers with `frames`.
  std::optional<double> start;
  std::optional<double> stop;
  double rate = 1.0;
  bool frames = false;
  // 0-based: each pin's sink accepts only that pin's media type of this
  // index (a pin offering fewer keeps its first).
  std::optional<int> mediaType;
};

struct GraphEvent {
  LONG code;
  LONG_PTR param1;
};

struct PinInfo {
  std::wstring name;
  DWORD trackId = 0;
  CMediaType mediaType;  // the connection's, or the pin's first offer
  CBaseDmxOutputPin* pin = nullptr;  // not counted; lives with the filter
  ComPtr<CStreamSink> sink;
};

class GraphSession {
 public:
  GraphSession() = default;
  GraphSession(const GraphSession&) = delete;
  GraphSession& operator=(const GraphSession&) = delete;
  ~GraphSession();

  // Builds the graph and connects the demultiplexer's input. On failure the
  // result is what the demultiplexer's connect sequence returned when it
  // got that far, else the failure of the step that stopped.
  HRESULT Open(const std::string& input);
  // One sink per output pin; `outputDir` names the files of kWrite
  // ("output01.bin" ...).
  HRESULT ConnectSinks(CStreamSink::Mode mode, const std::string& outputDir = "",
                       std::optional<int> mediaType = std::nullopt);
  HRESULT ApplyOptions(const PlayOptions& options);
  // Runs until every stream ended or one failed; `progress` draws a line on
  // standard error meanwhile. *events gets the graph's events in order.
  // The result is S_OK, or the failure an EC_ERRORABORT carried.
  HRESULT RunToCompletion(bool progress, std::vector<GraphEvent>* events);
  HRESULT Stop();

  CDarEdo* Demux() const { return m_demux; }
  // The damaged-input warnings of every source the filter opened; while no
  // stream runs.
  std::vector<std::string> DamageWarnings() const;
  std::vector<PinInfo>& Pins() { return m_pins; }

 private:
  void DrawProgress();

  ComPtr<IFilterGraph> m_graph;
  ComPtr<IMediaControl> m_control;
  ComPtr<IMediaEventEx> m_events;
  ComPtr<IMediaSeeking> m_seeking;
  ComPtr<IBaseFilter> m_source;
  ComPtr<IBaseFilter> m_demuxFilter;
  CDarEdo* m_demux = nullptr;  // m_demuxFilter's object
  std::vector<PinInfo> m_pins;
  bool m_progressDrawn = false;
  LONGLONG m_progressShown = 0;
};

// "Video", "Audio", "Subtitle" or the registry form.
std::string MajorTypeText(REFGUID majortype);
// "avc1" for a FourCC or private subtype, "PCM", or the registry form.
std::string SubtypeText(REFGUID subtype);
std::string NarrowName(const std::wstring& name);
