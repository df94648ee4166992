#include "platform/base_input_pin.h"

#include "platform/base_filter.h"
#include "platform/mem_allocator.h"

CBaseInputPin::CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBasePin(objectName, filter, lock, phr, name, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
  if (m_pAllocator != nullptr) {
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return E_POINTER;
  CAutoLock hold(m_pLock);
  if (m_pAllocator == nullptr) {
    const HRESULT hr = CreateMemoryAllocator(&m_pAllocator);
    if (FAILED(hr)) return hr;
  }
  m_pAllocator->AddRef();
  *allocator = m_pAllocator;
  return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (allocator == nullptr) return E_POINTER;
  CAutoLock hold(m_pLock);
  IMemAllocator* old = m_pAllocator;
  allocator->AddRef();
  m_pAllocator = allocator;
  if (old != nullptr) old->Release();
  m_bReadOnly = readOnly;
  return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  AM_MEDIA_TYPE* changed = nullptr;
  if (sample->GetMediaType(&changed) == S_OK && changed != nullptr) {
    hr = CheckMediaType(static_cast<CMediaType*>(changed));
    DeleteMediaType(changed);
    if (hr != S_OK) {
      m_bRunTimeError = TRUE;
      EndOfStream();
      m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
      return VFW_E_INVALIDMEDIATYPE;
    }
  }
  return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (samples == nullptr || processed == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  *processed = 0;
  while (count-- > 0) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() {
  const int count = m_pFilter->GetPinCount();
  int connectedOutputs = 0;
  for (int i = 0; i < count; ++i) {
    CBasePin* pin = m_pFilter->GetPin(i);
    if (pin == nullptr) break;
    PIN_DIRECTION dir;
    HRESULT hr = pin->QueryDirection(&dir);
    if (FAILED(hr)) return hr;
    if (dir != PINDIR_OUTPUT) continue;
    IPin* connected = nullptr;
    if (FAILED(pin->ConnectedTo(&connected))) continue;
    ++connectedOutputs;
    IMemInputPin* input = nullptr;
    hr = connected->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    connected->Release();
    // A transport we do not know may block.
    if (FAILED(hr)) return S_OK;
    hr = input->ReceiveCanBlock();
    input->Release();
    if (hr != S_FALSE) return S_OK;
  }
  return connectedOutputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush() {
  CAutoLock hold(m_pLock);
  m_bFlushing = TRUE;
  return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
  CAutoLock hold(m_pLock);
  m_bFlushing = FALSE;
  m_bRunTimeError = FALSE;
  return S_OK;
}

HRESULT CBaseInputPin::Notify(IBaseFilter* self, Quality) {
  if (self == nullptr) return E_POINTER;
  return E_NOTIMPL;
}

HRESULT CBaseInputPin::PassNotify(Quality& q) {
  if (m_pQSink != nullptr) return m_pQSink->Notify(m_pFilter, q);
  if (m_Connected == nullptr) return VFW_E_NOT_FOUND;
  IQualityControl* upstream = nullptr;
  if (FAILED(m_Connected->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&upstream)))) {
    return VFW_E_NOT_FOUND;
  }
  const HRESULT hr = upstream->Notify(m_pFilter, q);
  upstream->Release();
  return hr;
}

HRESULT CBaseInputPin::BreakConnect() {
  CAutoLock hold(m_pLock);
  if (m_pAllocator != nullptr) {
    // The upstream pin may or may not decommit the shared allocator.
    const HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) return hr;
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = FALSE;
  CAutoLock hold(m_pLock);
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  m_bFlushing = FALSE;
  return m_pAllocator->Decommit();
}
