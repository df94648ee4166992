#include "engine/filter_pass_thru.h"

#include "diagnostics/trace.h"
#include "engine/seeking.h"

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
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->GetCapabilities(capabilities);
}

HRESULT CFilterPassThru::CheckCapabilities(DWORD* capabilities) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->CheckCapabilities(capabilities);
}

HRESULT CFilterPassThru::IsFormatSupported(const GUID* format) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->IsFormatSupported(format);
}

HRESULT CFilterPassThru::QueryPreferredFormat(GUID* format) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->QueryPreferredFormat(format);
}

HRESULT CFilterPassThru::GetTimeFormat(GUID* format) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->GetTimeFormat(format);
}

HRESULT CFilterPassThru::IsUsingTimeFormat(const GUID* format) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->IsUsingTimeFormat(format);
}

HRESULT CFilterPassThru::SetTimeFormat(const GUID* format) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->SetTimeFormat(format);
}

HRESULT CFilterPassThru::GetDuration(LONGLONG* duration) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->GetDuration(duration);
}

HRESULT CFilterPassThru::GetStopPosition(LONGLONG* stop) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->GetStopPosition(stop);
}

HRESULT CFilterPassThru::GetCurrentPosition(LONGLONG* current) {
  IMediaSeeking* seeking = m_seeking;
  if (seeking == nullptr) return E_NOTIMPL;
  if (SUCCEEDED(GetCurrentPositionHook(current, 0))) return S_OK;
  return seeking->GetCurrentPosition(current);
}

HRESULT CFilterPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                           const GUID* sourceFormat) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->ConvertTimeFormat(target, targetFormat, source, sourceFormat);
}

HRESULT CFilterPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  IMediaSeeking* seeking = m_seeking;
  if (seeking == nullptr) return E_POINTER;
  if (!m_isMainSeekingPin) return S_OK;
  return seeking->SetPositions(current, currentFlags, stop, stopFlags);
}

HRESULT CFilterPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->GetPositions(current, stop);
}

HRESULT CFilterPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->GetAvailable(earliest, latest);
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
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->GetRate(rate);
}

HRESULT CFilterPassThru::GetPreroll(LONGLONG* preroll) {
  IMediaSeeking* seeking = m_seeking;
  return seeking == nullptr ? E_NOTIMPL : seeking->GetPreroll(preroll);
}
