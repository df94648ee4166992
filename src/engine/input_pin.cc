#include "engine/input_pin.h"

#include "engine/base_dmx.h"
#include "engine/buffered_reader.h"

CBaseDmxInputPin::CBaseDmxInputPin(CBaseDmx* filter, int index, HRESULT* phr, LPCWSTR name)
    : CBaseInputPin("CBaseDmxInputPin", filter, filter->FilterLock(), phr, name), m_dmx(filter), m_index(index) {}

CBaseDmxInputPin::~CBaseDmxInputPin() {
  if (m_reader != nullptr) m_reader->Release();
}

HRESULT CBaseDmxInputPin::CheckMediaType(const CMediaType* mt) {
  if (mt == nullptr) return E_POINTER;
  return m_dmx->CheckPinMediaType(m_index, mt);
}

HRESULT CBaseDmxInputPin::SetMediaType(const CMediaType* mt) {
  const HRESULT hr = CBaseInputPin::SetMediaType(mt);
  if (FAILED(hr)) return hr;
  return m_dmx->SetPinMediaType(m_index, mt);
}

HRESULT CBaseDmxInputPin::CheckConnect(IPin* pin) {
  const HRESULT hr = m_dmx->CheckPinConnect(m_index, pin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CheckConnect(pin);
}

HRESULT CBaseDmxInputPin::CompleteConnect(IPin* pin) {
  CAutoLock hold(m_pLock);
  if (m_reader != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (pin == nullptr) return E_POINTER;

  HRESULT hr;
  IBufferedAsyncReader* buffered = nullptr;
  if (SUCCEEDED(pin->QueryInterface(IID_IBufferedAsyncReader, reinterpret_cast<void**>(&buffered))) &&
      buffered != nullptr) {
    // Upstream is one of ours: share its source, not its cache.
    hr = buffered->Clone(&m_reader);
    buffered->Release();
  } else {
    IAsyncReader* source = nullptr;
    hr = pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&source));
    if (FAILED(hr)) return hr;
    hr = CBufferedAsyncReader::Create(source, &m_reader);
    source->Release();
  }
  if (FAILED(hr)) {
    m_reader = nullptr;
    return hr;
  }
  return m_dmx->CompletePinConnect(m_index, pin);
}

HRESULT CBaseDmxInputPin::BreakConnect() {
  CAutoLock hold(m_pLock);
  m_dmx->BreakPinConnect(m_index);
  if (m_reader != nullptr) {
    m_reader->Release();
    m_reader = nullptr;
  }
  return CBaseInputPin::BreakConnect();
}

HRESULT CBaseDmxInputPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT CBaseDmxInputPin::EndOfStream() {
  CAutoLock hold(m_dmx->StreamLock());
  if (m_eosReceived) return S_OK;
  if (m_dmx->IsStopped()) return VFW_E_WRONG_STATE;
  m_eosReceived = TRUE;
  return m_dmx->OnInputEndOfStream(m_index);
}

HRESULT CBaseDmxInputPin::BeginFlush() {
  const HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_dmx->DeliverBeginFlushAll(m_index);
}

HRESULT CBaseDmxInputPin::EndFlush() {
  const HRESULT hr = CBaseInputPin::EndFlush();
  if (FAILED(hr)) return hr;
  return m_dmx->DeliverEndFlushAll(m_index);
}

HRESULT CBaseDmxInputPin::Receive(IMediaSample* sample) {
  CAutoLock hold(m_dmx->StreamLock());
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  return m_dmx->ReceiveInputSample(m_index, sample);
}

HRESULT CBaseDmxInputPin::ResetEndOfStream() {
  m_eosReceived = FALSE;
  return S_OK;
}

HRESULT CBaseDmxInputPin::OnFilterStopped() {
  const HRESULT hr = CBaseInputPin::Inactive();
  return FAILED(hr) ? hr : S_OK;
}

BOOL CBaseDmxInputPin::IsEndOfStream() { return m_eosReceived; }

IBufferedAsyncReader* CBaseDmxInputPin::GetReader() {
  CAutoLock hold(m_pLock);
  if (m_reader != nullptr) m_reader->AddRef();
  return m_reader;
}
