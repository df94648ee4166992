#include "graph_session.h"

#include "damage_warnings.h"
#include "human_format.h"
#include "tool_common.h"
#include "input_location.h"

#include "container/trak_box.h"
#include "engine/output_pin.h"
#include "platform/class_table.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/media_subtypes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr LONG kProgressIntervalMs = 250;
constexpr double kUnitsPerSecond = 10000000.0;

// A position as the seeking interface takes it: 100-ns units, or a frame.
LONGLONG PositionOf(double value, bool frames) {
  const double scaled = frames ? value : value * kUnitsPerSecond;
  if (!(scaled < 9.2e18)) return MAX_TIME;
  if (!(scaled > -9.2e18)) return -MAX_TIME;
  return std::llround(scaled);
}

}  // namespace

std::string NarrowName(const std::wstring& name) {
  std::string text;
  for (wchar_t c : name) text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return text;
}

std::string MajorTypeText(REFGUID majortype) {
  if (majortype == MEDIATYPE_Video) return "Video";
  if (majortype == MEDIATYPE_Audio) return "Audio";
  if (majortype == MEDIATYPE_Subtitle) return "Subtitle";
  return GuidToString(majortype);
}

std::string SubtypeText(REFGUID subtype) {
  if (subtype == MEDIASUBTYPE_PCM) return "PCM";
  if (subtype == MEDIASUBTYPE_UTF8) return "UTF8";
  if (IsPrivateSubtype(subtype) || IsFourCCGuid(subtype)) {
    if (subtype.Data1 <= 0xFFFF) {
      char tag[16];
      std::snprintf(tag, sizeof tag, "0x%04X", subtype.Data1);
      return tag;
    }
    return FourCCText(SwapFourCC(subtype.Data1));
  }
  return GuidToString(subtype);
}

GraphSession::~GraphSession() {
  if (m_control) m_control->Stop();
  for (PinInfo& pin : m_pins) {
    if (pin.sink) pin.sink->CloseOutput();
  }
  // The filters hold no references to the graph; removing them breaks the
  // connections, which hold references between pins.
  if (m_graph) {
    for (PinInfo& pin : m_pins) {
      if (pin.sink) m_graph->RemoveFilter(pin.sink.Get());
    }
    if (m_demuxFilter) m_graph->RemoveFilter(m_demuxFilter.Get());
    if (m_source) m_graph->RemoveFilter(m_source.Get());
  }
}

HRESULT GraphSession::Open(const std::string& input) {
  RETURN_IF_FAILED(
      CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, m_graph.PutVoid()));
  RETURN_IF_FAILED(m_graph.As(IID_IMediaControl, m_control));
  RETURN_IF_FAILED(m_graph.As(IID_IMediaEventEx, m_events));
  RETURN_IF_FAILED(m_graph.As(IID_IMediaSeeking, m_seeking));

  RETURN_IF_FAILED(CoCreateInstance(SourceFilterClassFor(input), nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    m_source.PutVoid()));
  ComPtr<IFileSourceFilter> file;
  RETURN_IF_FAILED(m_source.As(IID_IFileSourceFilter, file));
  RETURN_IF_FAILED(file->Load(SourceFilterNameFor(input).c_str(), nullptr));
  RETURN_IF_FAILED(m_graph->AddFilter(m_source.Get(), L"Source"));

  RETURN_IF_FAILED(
      CoCreateInstance(CLSID_DarEdo, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, m_demuxFilter.PutVoid()));
  m_demux = CDarEdo::FromFilter(m_demuxFilter.Get());
  if (m_demux == nullptr) return E_NOINTERFACE;
  RETURN_IF_FAILED(m_graph->AddFilter(m_demuxFilter.Get(), kDarEdoName));

  ComPtr<IPin> sourceOut;
  RETURN_IF_FAILED(m_source->FindPin(L"Output", sourceOut.Put()));
  const HRESULT hr = m_graph->ConnectDirect(sourceOut.Get(), m_demux->GetPin(0), nullptr);
  if (FAILED(hr)) {
    // The graph may sum a refusal up as "no acceptable types"; what the
    // parse said is more use.
    const HRESULT parse = m_demux->LastConnectResult();
    return FAILED(parse) ? parse : hr;
  }

  const int count = m_demux->GetOutputPinCount();
  for (int k = 0; k < count; ++k) {
    PinInfo info;
    info.pin = m_demux->GetOutputPin(k);
    if (info.pin == nullptr) continue;
    info.name = info.pin->Name() != nullptr ? info.pin->Name() : L"";
    if (info.pin->Track() != nullptr) info.trackId = info.pin->Track()->trackId;
    info.pin->GetMediaType(0, &info.mediaType);
    m_pins.push_back(std::move(info));
  }
  return S_OK;
}

HRESULT GraphSession::ConnectSinks(CStreamSink::Mode mode, const std::string& outputDir,
                                   std::optional<int> mediaType) {
  for (size_t k = 0; k < m_pins.size(); ++k) {
    PinInfo& info = m_pins[k];
    std::string path;
    if (mode == CStreamSink::Mode::kWrite) {
      char name[32];
      std::snprintf(name, sizeof name, "/output%02zu.bin", k + 1);
      path = outputDir + name;
    }
    CStreamSink* sink = nullptr;
    RETURN_IF_FAILED(CStreamSink::Create(mode, path, &sink));
    info.sink = ComPtr<CStreamSink>::Attach(sink);
    if (mediaType) {
      CMediaType wanted;
      if (info.pin->GetMediaType(*mediaType, &wanted) != S_OK) info.pin->GetMediaType(0, &wanted);
      sink->AcceptOnly(wanted);
    }
    RETURN_IF_FAILED(m_graph->AddFilter(sink, (L"Sink " + info.name).c_str()));
    RETURN_IF_FAILED(m_graph->ConnectDirect(info.pin, sink->GetPin(0), nullptr));
    // The pin copies into an empty record, as the interface asks.
    CMediaType connected;
    if (SUCCEEDED(info.pin->ConnectionMediaType(&connected))) info.mediaType = connected;
  }
  return S_OK;
}

HRESULT GraphSession::ApplyOptions(const PlayOptions& options) {
  if (options.frames) RETURN_IF_FAILED(m_seeking->SetTimeFormat(&TIME_FORMAT_FRAME));
  if (options.rate != 1.0) RETURN_IF_FAILED(m_seeking->SetRate(options.rate));
  if (options.start || options.stop) {
    LONGLONG start = options.start ? PositionOf(*options.start, options.frames) : 0;
    LONGLONG stop = options.stop ? PositionOf(*options.stop, options.frames) : 0;
    RETURN_IF_FAILED(m_seeking->SetPositions(&start,
                                             options.start ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning,
                                             &stop,
                                             options.stop ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning));
  }
  return S_OK;
}

void GraphSession::DrawProgress() {
  LONGLONG current = 0, duration = 0;
  GUID format = TIME_FORMAT_MEDIA_TIME;
  double rate = 1.0;
  m_seeking->GetTimeFormat(&format);
  m_seeking->GetRate(&rate);
  if (FAILED(m_seeking->GetCurrentPosition(&current)) || FAILED(m_seeking->GetDuration(&duration))) return;
  // The position follows the samples as they are delivered, which are not
  // in time order (reordered frames, pins side by side); the line shows the
  // furthest point reached in the direction of play.
  if (m_progressDrawn) current = rate < 0 ? std::min(current, m_progressShown) : std::max(current, m_progressShown);
  m_progressShown = current;
  const int percent =
      duration > 0 ? static_cast<int>(std::clamp(100.0 * static_cast<double>(current) / static_cast<double>(duration),
                                                 0.0, 100.0))
                   : 0;
  if (format == TIME_FORMAT_FRAME) {
    std::fprintf(stderr, "\r\033[Kframe %lld of %lld (%d%%)", static_cast<long long>(current),
                 static_cast<long long>(duration), percent);
  } else {
    std::fprintf(stderr, "\r\033[K%s of %s (%d%%)", SecondsText(current).c_str(), SecondsText(duration).c_str(),
                 percent);
  }
  std::fflush(stderr);
  m_progressDrawn = true;
}

HRESULT GraphSession::RunToCompletion(bool progress, std::vector<GraphEvent>* events) {
  RETURN_IF_FAILED(m_control->Run());
  LONG code = 0;
  for (;;) {
    const HRESULT hr = m_events->WaitForCompletion(kProgressIntervalMs, &code);
    if (hr != E_ABORT) break;
    if (progress) DrawProgress();
  }
  // The line is gone when the report begins.
  if (m_progressDrawn) std::fputs("\r\033[K", stderr);
  HRESULT result = S_OK;
  LONG eventCode = 0;
  LONG_PTR param1 = 0, param2 = 0;
  while (m_events->GetEvent(&eventCode, &param1, &param2, 0) == S_OK) {
    if (events != nullptr) events->push_back({eventCode, param1});
    if (eventCode == EC_ERRORABORT && SUCCEEDED(result)) result = static_cast<HRESULT>(param1);
  }
  RETURN_IF_FAILED(Stop());
  for (PinInfo& pin : m_pins) {
    if (!pin.sink) continue;
    pin.sink->CloseOutput();
    if (SUCCEEDED(result) && FAILED(pin.sink->WriteResult())) result = pin.sink->WriteResult();
  }
  return result;
}

HRESULT GraphSession::Stop() { return m_control ? m_control->Stop() : S_OK; }

std::vector<std::string> GraphSession::DamageWarnings() const {
  std::vector<std::string> warnings;
  if (m_demux == nullptr) return warnings;
  for (size_t i = 0; i < m_demux->SourceCount(); ++i) {
    for (std::string& warning : TruncationWarnings(m_demux->Source(i))) warnings.push_back(std::move(warning));
  }
  return warnings;
}
