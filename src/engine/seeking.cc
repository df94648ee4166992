#include "engine/seeking.h"

#include "diagnostics/trace.h"
#include "platform/media_guids.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

bool IsKnownFormat(const GUID& format) { return format == TIME_FORMAT_MEDIA_TIME || format == TIME_FORMAT_FRAME; }

// Positions come from applications; sums near the 64-bit ends saturate
// instead of overflowing.
LONGLONG AddPositions(LONGLONG a, LONGLONG b) {
  LONGLONG sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<LONGLONG>::max() : std::numeric_limits<LONGLONG>::min();
}

constexpr DWORD kPositionPointerFlags = AM_SEEKING_PositioningBitsMask | AM_SEEKING_ReturnTime;

}  // namespace

HRESULT CSeeking::GetCapabilities(DWORD* capabilities) {
  if (capabilities == nullptr) return E_POINTER;
  *capabilities = kSeekingCapabilities;
  return S_OK;
}

HRESULT CSeeking::CheckCapabilities(DWORD* capabilities) {
  if (capabilities == nullptr) return E_POINTER;
  if ((*capabilities & ~kSeekingCapabilities) == 0) return S_OK;
  *capabilities &= kSeekingCapabilities;
  return *capabilities != 0 ? S_FALSE : E_FAIL;
}

HRESULT CSeeking::IsFormatSupported(const GUID* format) {
  if (format == nullptr) return E_POINTER;
  return IsKnownFormat(*format) ? S_OK : S_FALSE;
}

HRESULT CSeeking::QueryPreferredFormat(GUID* format) {
  if (format == nullptr) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT CSeeking::GetTimeFormat(GUID* format) {
  if (format == nullptr) return E_POINTER;
  *format = m_mediaTimeFormat ? TIME_FORMAT_MEDIA_TIME : TIME_FORMAT_FRAME;
  return S_OK;
}

HRESULT CSeeking::IsUsingTimeFormat(const GUID* format) {
  if (format == nullptr) return E_POINTER;
  return *format == (m_mediaTimeFormat ? TIME_FORMAT_MEDIA_TIME : TIME_FORMAT_FRAME) ? S_OK : S_FALSE;
}

HRESULT CSeeking::SetTimeFormat(const GUID* format) {
  if (format == nullptr) return E_POINTER;
  LONGLONG converted = 0;
  if (*format == TIME_FORMAT_FRAME) {
    if (!m_mediaTimeFormat) return S_OK;
    m_mediaTimeFormat = FALSE;
    const HRESULT hr = TimeToFrame(m_start, &converted);
    if (FAILED(hr)) {
      m_mediaTimeFormat = TRUE;
      return hr;
    }
    m_start = converted;
    if (SUCCEEDED(TimeToFrame(m_stop, &converted))) m_stop = converted;
    return S_OK;
  }
  if (*format == TIME_FORMAT_MEDIA_TIME) {
    if (m_mediaTimeFormat) return S_OK;
    m_mediaTimeFormat = TRUE;
    if (SUCCEEDED(FrameToTime(m_start, &converted))) m_start = converted;
    if (SUCCEEDED(FrameToTime(m_stop, &converted))) m_stop = converted;
    return S_OK;
  }
  return E_FAIL;
}

HRESULT CSeeking::GetStopPosition(LONGLONG* stop) {
  if (stop == nullptr) return E_POINTER;
  *stop = m_stop;
  return S_OK;
}

HRESULT CSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                    const GUID* sourceFormat) {
  if (target == nullptr) return E_POINTER;
  const GUID current = m_mediaTimeFormat ? TIME_FORMAT_MEDIA_TIME : TIME_FORMAT_FRAME;
  const GUID& to = targetFormat != nullptr ? *targetFormat : current;
  const GUID& from = sourceFormat != nullptr ? *sourceFormat : current;
  if (!IsKnownFormat(to) || !IsKnownFormat(from)) return E_INVALIDARG;
  if (to == from) {
    *target = source;
    return S_OK;
  }
  if (from == TIME_FORMAT_FRAME) return FrameToTime(source, target);
  return TimeToFrame(source, target);
}

std::string CSeeking::PositionText(const LONGLONG* position) const {
  if (position == nullptr) return "(NULL)";
  if (m_mediaTimeFormat) return TraceTime(*position);
  char text[32];
  std::snprintf(text, sizeof(text), "%u frame", static_cast<unsigned>(*position));
  return text;
}

HRESULT CSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  DMX_TRACE("\n+ SetPositions. Current=%s, CurrentFlags=%08X, Stop=%s, StopFlags=%d", PositionText(current).c_str(),
            currentFlags, PositionText(stop).c_str(), static_cast<int>(stopFlags));
  if ((currentFlags & kPositionPointerFlags) != 0 && current == nullptr) return E_POINTER;
  if ((stopFlags & kPositionPointerFlags) != 0 && stop == nullptr) return E_POINTER;

  const LONGLONG oldStart = m_start;
  LONGLONG reached = oldStart;
  GetCurrentPosition(&reached);
  LONGLONG newStart = 0;
  switch (currentFlags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_NoPositioning:
      newStart = reached;
      break;
    case AM_SEEKING_AbsolutePositioning:
      newStart = *current;
      break;
    case AM_SEEKING_RelativePositioning:
      newStart = AddPositions(*current, reached);
      break;
    default:
      return E_INVALIDARG;
  }
  if ((currentFlags & AM_SEEKING_ReturnTime) != 0) {
    LONGLONG returned = newStart;
    if (!m_mediaTimeFormat) {
      const HRESULT hr = FrameToTime(newStart, &returned);
      if (FAILED(hr)) return hr;
    }
    *current = returned;
  }

  const LONGLONG oldStop = m_stop;
  LONGLONG newStop = oldStop;
  switch (stopFlags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_NoPositioning:
      break;
    case AM_SEEKING_AbsolutePositioning:
      newStop = *stop;
      break;
    case AM_SEEKING_RelativePositioning:
      newStop = AddPositions(*stop, oldStop);
      break;
    default:
      newStop = AddPositions(*stop, newStart);
      break;
  }
  if ((stopFlags & AM_SEEKING_ReturnTime) != 0) {
    LONGLONG returned = newStop;
    if (!m_mediaTimeFormat) {
      const HRESULT hr = FrameToTime(newStop, &returned);
      if (FAILED(hr)) return hr;
    }
    *stop = returned;
  }

  m_start = newStart;
  m_stop = newStop;
  const BOOL flush = ((currentFlags | stopFlags) & AM_SEEKING_NoFlush) != 0 ? FALSE : TRUE;
  const HRESULT hr = UpdateCurrentPosition(flush);
  DMX_TRACE("\n- SetPositions");
  return hr;
}

HRESULT CSeeking::GetPositions(LONGLONG* current, LONGLONG* stop) {
  GetCurrentPosition(current);
  return GetStopPosition(stop);
}

HRESULT CSeeking::GetAvailable(LONGLONG*, LONGLONG*) { return E_NOTIMPL; }

BOOL CSeeking::IsRateSupported(double rate) { return rate > 0.0 ? TRUE : FALSE; }

HRESULT CSeeking::SetRate(double rate) {
  // Stream times are divided by the rate: an infinite or undefined one
  // would make every time meaningless, whatever the filter accepts.
  if (!std::isfinite(rate) || !IsRateSupported(rate)) return E_INVALIDARG;
  if (rate == m_rate) return S_OK;
  DMX_TRACE("\nCSeeking.SetRate(%f)", rate);
  m_rate = rate;
  return UpdateCurrentPosition(TRUE);
}

HRESULT CSeeking::GetRate(double* rate) {
  if (rate == nullptr) return E_POINTER;
  *rate = m_rate;
  return S_OK;
}

HRESULT CSeeking::GetPreroll(LONGLONG*) { return E_NOTIMPL; }

HRESULT CSeeking::GetSegment(REFERENCE_TIME* start, REFERENCE_TIME* stop, double* rate) {
  if (start == nullptr || stop == nullptr || rate == nullptr) return E_POINTER;
  const bool frames = !m_mediaTimeFormat;
  const LONGLONG startPosition = m_start;
  const double segmentRate = m_rate;
  LONGLONG stopPosition = m_stop;
  // Reverse playback runs from the start down to the beginning.
  if (segmentRate < 0 && stopPosition > startPosition) stopPosition = 0;

  REFERENCE_TIME segmentStart = startPosition;
  REFERENCE_TIME segmentStop = stopPosition;
  if (frames) {
    HRESULT hr = FrameToTime(startPosition, &segmentStart);
    if (FAILED(hr)) return hr;
    hr = FrameToTime(stopPosition, &segmentStop);
    if (FAILED(hr)) return hr;
  }
  *start = segmentStart;
  *stop = segmentStop;
  *rate = segmentRate;
  if (m_lastValid && m_lastStart == segmentStart && m_lastStop == segmentStop && m_lastRate == segmentRate) {
    return S_FALSE;
  }
  return S_OK;
}

BOOL CSeeking::RecordSegment(FILTER_STATE state) {
  REFERENCE_TIME start = 0, stop = 0;
  double rate = 1.0;
  const HRESULT hr = GetSegment(&start, &stop, &rate);
  if (hr == S_FALSE) return TRUE;
  // A segment that cannot be computed is not recorded; applying it reports
  // the conversion failure.
  if (FAILED(hr) || state == State_Running) return FALSE;
  m_lastStart = start;
  m_lastStop = stop;
  m_lastRate = rate;
  m_lastValid = TRUE;
  return FALSE;
}
