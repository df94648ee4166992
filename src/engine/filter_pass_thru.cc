#include "engine/filter_pass_thru.h"

#include "diagnostics/trace.h"
#include "engine/seeking.h"

#include <utility>

namespace {

// Every call that the pass-through does not filter goes to the filter's
// seeking object as it is, or fails with E_NOTIMPL before the pin has one.
template <class... Params, class... Args>
HRESULT Forward(IMediaSeeking* seeking, HRESULT (IMediaSeeking::*method)(Params...), Args&&... args) {
  return seeking == nullptr ? E_NOTIMPL : (seeking->*method)(std::forward<Args>(args)...);
}

}  // namespace

CFilterPassThru::CFilterPassThru(IBaseFilter* filter, HRESULT* phr) : m_filter(filter) {
  if (filter == nullptr && phr != nullptr) *phr = E_POINTER;
}

HRESULT CFilterPassThru::QuerySeeking(void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (m_seeking == nullptr && m_filter != nullptr) {
    IMediaSeeking* seeking = nullptr;
    if (SUCCEEDED(m_filter->QueryInterface(IID_IDmxFilterSeeking, reinterpret_cast<void**>(&seeking))) &&
        seeking != nullptr) {
      m_seeking = seeking;
      seeking->Release();
    }
  }
  if (m_seeking == nullptr) return E_NOTIMPL;
  IMediaSeeking* self = this;
  self->AddRef();
  *ppv = self;
  return S_OK;
}

HRESULT CFilterPassThru::GetCurrentPositionHook(LONGLONG*, DWORD) { return E_FAIL; }

HRESULT CFilterPassThru::GetCapabilities(DWORD* capabilities) {
  return Forward(m_seeking, &IMediaSeeking::GetCapabilities, capabilities);
}

HRESULT CFilterPassThru::CheckCapabilities(DWORD* capabilities) {
  return Forward(m_seeking, &IMediaSeeking::CheckCapabilities, capabilities);
}

HRESULT CFilterPassThru::IsFormatSupported(const GUID* format) {
  return Forward(m_seeking, &IMediaSeeking::IsFormatSupported, format);
}

HRESULT CFilterPassThru::QueryPreferredFormat(GUID* format) {
  return Forward(m_seeking, &IMediaSeeking::QueryPreferredFormat, format);
}

HRESULT CFilterPassThru::GetTimeFormat(GUID* format) {
  return Forward(m_seeking, &IMediaSeeking::GetTimeFormat, format);
}

HRESULT CFilterPassThru::IsUsingTimeFormat(const GUID* format) {
  return Forward(m_seeking, &IMediaSeeking::IsUsingTimeFormat, format);
}

HRESULT CFilterPassThru::SetTimeFormat(const GUID* format) {
  return Forward(m_seeking, &IMediaSeeking::SetTimeFormat, format);
}

HRESULT CFilterPassThru::GetDuration(LONGLONG* duration) {
  return Forward(m_seeking, &IMediaSeeking::GetDuration, duration);
}

HRESULT CFilterPassThru::GetStopPosition(LONGLONG* stop) {
  return Forward(m_seeking, &IMediaSeeking::GetStopPosition, stop);
}

HRESULT CFilterPassThru::GetCurrentPosition(LONGLONG* current) {
  IMediaSeeking* seeking = m_seeking;
  if (seeking == nullptr) return E_NOTIMPL;
  if (SUCCEEDED(GetCurrentPositionHook(current, 0))) return S_OK;
  return seeking->GetCurrentPosition(current);
}

HRESULT CFilterPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                           const GUID* sourceFormat) {
  return Forward(m_seeking, &IMediaSeeking::ConvertTimeFormat, target, targetFormat, source, sourceFormat);
}

HRESULT CFilterPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  IMediaSeeking* seeking = m_seeking;
  if (seeking == nullptr) return E_POINTER;
  if (!m_isMainSeekingPin) return S_OK;
  return seeking->SetPositions(current, currentFlags, stop, stopFlags);
}

HRESULT CFilterPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
  return Forward(m_seeking, &IMediaSeeking::GetPositions, current, stop);
}

HRESULT CFilterPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  return Forward(m_seeking, &IMediaSeeking::GetAvailable, earliest, latest);
}

HRESULT CFilterPassThru::SetRate(double rate) {
  IMediaSeeking* seeking = m_seeking;
  if (seeking == nullptr) return E_NOTIMPL;
  if (!m_isMainSeekingPin) {
    DMX_TRACE("\nPassThru_SetRate(%f) ignored, because I am not the main seeking pin", rate);
    return S_OK;
  }
  return seeking->SetRate(rate);
}

HRESULT CFilterPassThru::GetRate(double* rate) {
  return Forward(m_seeking, &IMediaSeeking::GetRate, rate);
}

HRESULT CFilterPassThru::GetPreroll(LONGLONG* preroll) {
  return Forward(m_seeking, &IMediaSeeking::GetPreroll, preroll);
}
