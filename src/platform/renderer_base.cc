#include "platform/renderer_base.h"

CRendererInputPin::CRendererInputPin(CRendererBase* renderer, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBaseInputPin("CRendererInputPin", renderer, lock, phr, name), m_renderer(renderer) {}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* mt) { return m_renderer->CheckRenderType(mt); }

HRESULT CRendererInputPin::Receive(IMediaSample* sample) { return m_renderer->ReceiveSample(sample); }

HRESULT CRendererInputPin::EndOfStream() { return m_renderer->EndOfStreamReceived(); }

HRESULT CRendererInputPin::BeginFlush() {
  CAutoLock hold(m_pLock);
  const HRESULT hr = CBaseInputPin::BeginFlush();
  CAutoLock receive(&m_renderer->m_receiveLock);
  m_renderer->ForgetEndOfStream();
  m_renderer->OnBeginFlush();
  return hr;
}

HRESULT CRendererInputPin::EndFlush() {
  CAutoLock hold(m_pLock);
  const HRESULT hr = CBaseInputPin::EndFlush();
  CAutoLock receive(&m_renderer->m_receiveLock);
  m_renderer->OnEndFlush();
  return hr;
}

HRESULT CRendererInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CAutoLock receive(&m_renderer->m_receiveLock);
  CBasePin::NewSegment(start, stop, rate);
  m_renderer->OnNewSegment(start, stop, rate);
  return S_OK;
}

CRendererBase::CRendererBase(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(name, outer, &m_filterLock, clsid, phr), m_pin(this, &m_filterLock, phr, L"In") {}

CRendererBase::~CRendererBase() = default;

HRESULT CRendererBase::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CRendererBase::GetPin(int n) { return n == 0 ? &m_pin : nullptr; }

HRESULT CRendererBase::Stop() {
  CAutoLock hold(&m_filterLock);
  // Stopped first, so that samples arriving from now on are refused.
  const HRESULT hr = CBaseFilter::Stop();
  CAutoLock receive(&m_receiveLock);
  ForgetEndOfStream();
  return hr;
}

HRESULT CRendererBase::Pause() {
  CAutoLock hold(&m_filterLock);
  if (m_State == State_Stopped) {
    CAutoLock receive(&m_receiveLock);
    ForgetEndOfStream();
  }
  return CBaseFilter::Pause();
}

HRESULT CRendererBase::Run(REFERENCE_TIME start) {
  CAutoLock hold(&m_filterLock);
  const HRESULT hr = CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  CAutoLock receive(&m_receiveLock);
  SendCompleteIfDue();
  return S_OK;
}

HRESULT CRendererBase::ReceiveSample(IMediaSample* sample) {
  CAutoLock receive(&m_receiveLock);
  HRESULT hr = m_pin.CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  if (m_eos) return VFW_E_SAMPLE_REJECTED_EOS;
  return OnSample(sample);
}

HRESULT CRendererBase::EndOfStreamReceived() {
  CAutoLock receive(&m_receiveLock);
  const HRESULT hr = m_pin.CheckStreaming();
  if (hr != S_OK) return hr;
  if (m_eos) return S_OK;
  m_eos = true;
  OnEndOfStream();
  SendCompleteIfDue();
  return S_OK;
}

void CRendererBase::SendCompleteIfDue() {
  if (!m_eos || m_eosDelivered || m_State != State_Running) return;
  m_eosDelivered = true;
  NotifyEvent(EC_COMPLETE, S_OK, 0);
}

void CRendererBase::ForgetEndOfStream() {
  m_eos = false;
  m_eosDelivered = false;
}
