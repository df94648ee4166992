// The graph's IMediaSeeking: every call goes to the IMediaSeeking of the
// output pins connected to the renderers' input pins, and the answers are
// combined (capabilities intersected, durations and stop positions the
// largest, the current position the one furthest behind).
#include "platform/filter_graph.h"

#include "platform/media_guids.h"

#include <algorithm>
#include <functional>

namespace {

// Applies `call` to every seeker; S_OK when one succeeded, else the first
// failure (E_NOTIMPL without seekers).
HRESULT ForEach(const std::vector<ComPtr<IMediaSeeking>>& seekers, const std::function<HRESULT(IMediaSeeking*)>& call) {
  if (seekers.empty()) return E_NOTIMPL;
  HRESULT firstFailure = S_OK;
  bool anySucceeded = false;
  for (const ComPtr<IMediaSeeking>& seeker : seekers) {
    const HRESULT hr = call(seeker.Get());
    if (SUCCEEDED(hr)) {
      anySucceeded = true;
    } else if (SUCCEEDED(firstFailure)) {
      firstFailure = hr;
    }
  }
  return anySucceeded ? S_OK : firstFailure;
}

// The largest (or smallest) value any seeker reports.
HRESULT Combine(const std::vector<ComPtr<IMediaSeeking>>& seekers, LONGLONG* out, bool largest,
                const std::function<HRESULT(IMediaSeeking*, LONGLONG*)>& call) {
  if (out == nullptr) return E_POINTER;
  bool have = false;
  const HRESULT hr = ForEach(seekers, [&](IMediaSeeking* seeker) {
    LONGLONG value = 0;
    const HRESULT result = call(seeker, &value);
    if (SUCCEEDED(result)) {
      if (!have || (largest ? value > *out : value < *out)) *out = value;
      have = true;
    }
    return result;
  });
  return hr;
}

}  // namespace

std::vector<ComPtr<IMediaSeeking>> CFilterGraph::Seekers() {
  std::vector<ComPtr<IMediaSeeking>> seekers;
  for (IBaseFilter* renderer : Renderers()) {
    ComPtr<IEnumPins> pins;
    if (FAILED(renderer->EnumPins(pins.Put()))) continue;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
      PIN_DIRECTION dir = PINDIR_OUTPUT;
      pin->QueryDirection(&dir);
      ComPtr<IPin> upstream;
      ComPtr<IMediaSeeking> seeking;
      if (dir == PINDIR_INPUT && SUCCEEDED(pin->ConnectedTo(upstream.Put())) &&
          SUCCEEDED(upstream->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()))) {
        const bool known = std::any_of(seekers.begin(), seekers.end(),
                                       [&](const ComPtr<IMediaSeeking>& s) { return s.Get() == seeking.Get(); });
        if (!known) seekers.push_back(seeking);
      }
      pin->Release();
    }
  }
  return seekers;
}

HRESULT CFilterGraph::GetCapabilities(DWORD* capabilities) {
  if (capabilities == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  DWORD combined = ~0u;
  const HRESULT hr = ForEach(Seekers(), [&](IMediaSeeking* seeker) {
    DWORD caps = 0;
    const HRESULT result = seeker->GetCapabilities(&caps);
    if (SUCCEEDED(result)) combined &= caps;
    return result;
  });
  *capabilities = SUCCEEDED(hr) ? combined : 0;
  return hr;
}

HRESULT CFilterGraph::CheckCapabilities(DWORD* capabilities) {
  if (capabilities == nullptr) return E_POINTER;
  DWORD supported = 0;
  const HRESULT hr = GetCapabilities(&supported);
  if (FAILED(hr)) return hr;
  const DWORD asked = *capabilities;
  *capabilities &= supported;
  if (*capabilities == asked) return S_OK;
  return *capabilities == 0 ? E_FAIL : S_FALSE;
}

HRESULT CFilterGraph::IsFormatSupported(const GUID* format) {
  if (format == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  const std::vector<ComPtr<IMediaSeeking>> seekers = Seekers();
  if (seekers.empty()) return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
  for (const ComPtr<IMediaSeeking>& seeker : seekers) {
    if (seeker->IsFormatSupported(format) != S_OK) return S_FALSE;
  }
  return S_OK;
}

HRESULT CFilterGraph::QueryPreferredFormat(GUID* format) {
  if (format == nullptr) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT CFilterGraph::GetTimeFormat(GUID* format) {
  if (format == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  *format = m_timeFormat;
  return S_OK;
}

HRESULT CFilterGraph::IsUsingTimeFormat(const GUID* format) {
  if (format == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  return *format == m_timeFormat ? S_OK : S_FALSE;
}

HRESULT CFilterGraph::SetTimeFormat(const GUID* format) {
  if (format == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  if (m_state != State_Stopped) return VFW_E_WRONG_STATE;
  const std::vector<ComPtr<IMediaSeeking>> seekers = Seekers();
  for (const ComPtr<IMediaSeeking>& seeker : seekers) {
    const HRESULT hr = seeker->SetTimeFormat(format);
    if (FAILED(hr)) {
      // Every stream keeps one format: put back those already switched.
      for (const ComPtr<IMediaSeeking>& done : seekers) {
        if (done.Get() == seeker.Get()) break;
        done->SetTimeFormat(&m_timeFormat);
      }
      return hr;
    }
  }
  m_timeFormat = *format;
  return S_OK;
}

HRESULT CFilterGraph::GetDuration(LONGLONG* duration) {
  CAutoLock hold(&m_graphLock);
  return Combine(Seekers(), duration, true, [](IMediaSeeking* s, LONGLONG* v) { return s->GetDuration(v); });
}

HRESULT CFilterGraph::GetStopPosition(LONGLONG* stop) {
  CAutoLock hold(&m_graphLock);
  return Combine(Seekers(), stop, true, [](IMediaSeeking* s, LONGLONG* v) { return s->GetStopPosition(v); });
}

HRESULT CFilterGraph::GetCurrentPosition(LONGLONG* current) {
  CAutoLock hold(&m_graphLock);
  return Combine(Seekers(), current, false, [](IMediaSeeking* s, LONGLONG* v) { return s->GetCurrentPosition(v); });
}

HRESULT CFilterGraph::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat) {
  if (target == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  HRESULT hr = E_NOTIMPL;
  for (const ComPtr<IMediaSeeking>& seeker : Seekers()) {
    hr = seeker->ConvertTimeFormat(target, targetFormat, source, sourceFormat);
    if (SUCCEEDED(hr)) return hr;
  }
  return hr;
}

HRESULT CFilterGraph::ChangeStreams(const std::function<HRESULT()>& change) {
  const FILTER_STATE before = m_state;
  // A running graph is paused around the change and restarts its stream
  // time; the streams start over, so completion is counted anew.
  if (before == State_Running) {
    const HRESULT hr = PauseLocked();
    if (FAILED(hr)) return hr;
  }
  const HRESULT hr = change();
  if (before != State_Stopped) {
    m_pausedStreamTime = 0;
    ArmCompletion();
  }
  if (before == State_Running) {
    const HRESULT run = RunLocked(0, true);
    if (FAILED(run)) return run;
  }
  return hr;
}

HRESULT CFilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  CAutoLock hold(&m_graphLock);
  return ChangeStreams([&] { return SetPositionsLocked(current, currentFlags, stop, stopFlags); });
}

HRESULT CFilterGraph::SetPositionsLocked(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  bool first = true;
  LONGLONG firstCurrent = current != nullptr ? *current : 0;
  LONGLONG firstStop = stop != nullptr ? *stop : 0;
  const HRESULT hr = ForEach(Seekers(), [&](IMediaSeeking* seeker) {
    // Each stream gets the caller's values; the first one's answers go back.
    LONGLONG c = current != nullptr ? *current : 0;
    LONGLONG s = stop != nullptr ? *stop : 0;
    const HRESULT result =
        seeker->SetPositions(current != nullptr ? &c : nullptr, currentFlags, stop != nullptr ? &s : nullptr, stopFlags);
    if (SUCCEEDED(result) && first) {
      firstCurrent = c;
      firstStop = s;
      first = false;
    }
    return result;
  });
  if (SUCCEEDED(hr)) {
    if (current != nullptr) *current = firstCurrent;
    if (stop != nullptr) *stop = firstStop;
  }
  return hr;
}

HRESULT CFilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop) {
  if (current == nullptr && stop == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  if (current != nullptr) hr = GetCurrentPosition(current);
  if (SUCCEEDED(hr) && stop != nullptr) hr = GetStopPosition(stop);
  return hr;
}

HRESULT CFilterGraph::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  CAutoLock hold(&m_graphLock);
  HRESULT hr = E_NOTIMPL;
  for (const ComPtr<IMediaSeeking>& seeker : Seekers()) {
    hr = seeker->GetAvailable(earliest, latest);
    if (SUCCEEDED(hr)) return hr;
  }
  return hr;
}

HRESULT CFilterGraph::SetRate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  CAutoLock hold(&m_graphLock);
  return ChangeStreams(
      [&] { return ForEach(Seekers(), [&](IMediaSeeking* seeker) { return seeker->SetRate(rate); }); });
}

HRESULT CFilterGraph::GetRate(double* rate) {
  if (rate == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  HRESULT hr = E_NOTIMPL;
  for (const ComPtr<IMediaSeeking>& seeker : Seekers()) {
    hr = seeker->GetRate(rate);
    if (SUCCEEDED(hr)) return hr;
  }
  return hr;
}

HRESULT CFilterGraph::GetPreroll(LONGLONG* preroll) {
  CAutoLock hold(&m_graphLock);
  return Combine(Seekers(), preroll, true, [](IMediaSeeking* s, LONGLONG* v) { return s->GetPreroll(v); });
}
