#include "platform/base_pin.h"

#include "platform/base_filter.h"
#include "platform/enum_media_types.h"
#include "platform/task_memory.h"

#include <cwchar>
#include <new>

namespace {

// Failures too generic to be worth reporting over a later, specific one.
bool IsGenericConnectFailure(HRESULT hr) {
  return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}

void CopyName(LPCWSTR name, WCHAR* target, size_t capacity) {
  target[0] = L'\0';
  if (name == nullptr) return;
  std::wcsncpy(target, name, capacity - 1);
  target[capacity - 1] = L'\0';
}

}  // namespace

LPWSTR CoTaskMemDuplicateString(LPCWSTR text) {
  if (text == nullptr) text = L"";
  const size_t bytes = (std::wcslen(text) + 1) * sizeof(WCHAR);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::wmemcpy(copy, text, bytes / sizeof(WCHAR));
  return copy;
}

WCHAR* DuplicateWideString(LPCWSTR text) {
  if (text == nullptr) return nullptr;
  const size_t length = std::wcslen(text) + 1;
  auto* copy = new (std::nothrow) WCHAR[length];
  if (copy != nullptr) std::wmemcpy(copy, text, length);
  return copy;
}

CBasePin::CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name,
                   PIN_DIRECTION dir)
    : CUnknown(objectName, nullptr, phr),
      m_pName(DuplicateWideString(name)),
      m_dir(dir),
      m_pLock(lock),
      m_pFilter(filter) {
  if (phr != nullptr && name != nullptr && m_pName == nullptr) *phr = E_OUTOFMEMORY;
}

CBasePin::~CBasePin() {
  // A connected pin being destroyed would leave its peer pointing at freed memory.
  if (m_Connected != nullptr) {
    m_Connected->Release();
    m_Connected = nullptr;
  }
  delete[] m_pName;
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  if (riid == IID_IUnknown) return GetInterface(static_cast<IPin*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }

ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

BOOL CBasePin::IsStopped() const { return m_pFilter->m_State == State_Stopped ? TRUE : FALSE; }

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
  if (receivePin == nullptr) return E_POINTER;
  CAutoLock hold(m_pLock);
  if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  const HRESULT hr = AgreeMediaType(receivePin, static_cast<const CMediaType*>(mt));
  if (FAILED(hr)) return hr;
  return S_OK;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
  if (connector == nullptr || mt == nullptr) return E_POINTER;
  CAutoLock hold(m_pLock);
  if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  const auto* type = static_cast<const CMediaType*>(mt);
  hr = CheckMediaType(type);
  if (hr != S_OK) {
    BreakConnect();
    if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) hr = VFW_E_TYPE_NOT_ACCEPTED;
    return hr;
  }
  SetConnected(connector);
  hr = SetMediaType(type);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(connector);
    if (SUCCEEDED(hr)) return S_OK;
  }
  SetConnected(nullptr);
  BreakConnect();
  return hr;
}

HRESULT CBasePin::Disconnect() {
  CAutoLock hold(m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
  CAutoLock hold(m_pLock);
  if (m_Connected == nullptr) return S_FALSE;
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  SetConnected(nullptr);
  return S_OK;
}

void CBasePin::SetConnected(IPin* pin) {
  if (pin != nullptr) pin->AddRef();
  IPin* old = nullptr;
  {
    CAutoLock hold(&m_connectionLock);
    old = m_Connected;
    m_Connected = pin;
  }
  // The peer's release may reach its filter: not under our lock.
  if (old != nullptr) old->Release();
}

// The queries take the connection lock only: a downstream pin may ask them
// from inside Receive while the filter lock is held by a Stop or a seek
// that waits for that very Receive to return.
HRESULT CBasePin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  CAutoLock hold(&m_connectionLock);
  *pin = m_Connected;
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  m_Connected->AddRef();
  return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
  if (mt == nullptr) return E_POINTER;
  CAutoLock hold(&m_connectionLock);
  if (m_Connected == nullptr) {
    static_cast<CMediaType*>(mt)->InitMediaType();
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(mt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) return E_POINTER;
  info->pFilter = m_pFilter;
  if (m_pFilter != nullptr) m_pFilter->AddRef();
  CopyName(m_pName, info->achName, MAX_PIN_NAME);
  info->dir = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* dir) {
  if (dir == nullptr) return E_POINTER;
  *dir = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) {
  if (id == nullptr) return E_POINTER;
  *id = CoTaskMemDuplicateString(m_pName);
  return *id == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (mt == nullptr) return E_POINTER;
  HRESULT hr = CheckMediaType(static_cast<const CMediaType*>(mt));
  if (SUCCEEDED(hr) && hr != S_OK) hr = S_FALSE;
  return hr;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  auto* created = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  if (created == nullptr) return E_OUTOFMEMORY;
  *enumerator = created;
  created->AddRef();
  return S_OK;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  m_tStart = start;
  m_tStop = stop;
  m_dRate = rate;
  return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBasePin::SetSink(IQualityControl* sink) {
  CAutoLock hold(m_pLock);
  m_pQSink = sink;
  return S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION dir;
  const HRESULT hr = pin->QueryDirection(&dir);
  if (FAILED(hr)) return hr;
  if (dir == m_dir) return VFW_E_INVALID_DIRECTION;
  return S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::SetMediaType(const CMediaType* mt) {
  CAutoLock hold(&m_connectionLock);
  return m_mt.Set(*mt);
}

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

HRESULT CBasePin::Active() { return S_OK; }

HRESULT CBasePin::Inactive() {
  m_bRunTimeError = FALSE;
  return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* mt) {
  // A fully specified type is tried on its own.
  if (mt != nullptr && !mt->IsPartiallySpecified()) return AttemptConnection(receivePin, mt);

  HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int pass = 0; pass < 2; ++pass) {
    IEnumMediaTypes* types = nullptr;
    HRESULT hr = pass == (m_bTryMyTypesFirst ? 1 : 0) ? receivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
    if (FAILED(hr) || types == nullptr) continue;
    hr = TryMediaTypes(receivePin, mt, types);
    types->Release();
    if (SUCCEEDED(hr)) return S_OK;
    if (!IsGenericConnectFailure(hr)) failure = hr;
  }
  return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* mt, IEnumMediaTypes* types) {
  HRESULT hr = types->Reset();
  if (FAILED(hr)) return hr;
  HRESULT failure = S_OK;
  for (;;) {
    AM_MEDIA_TYPE* candidate = nullptr;
    ULONG fetched = 0;
    hr = types->Next(1, &candidate, &fetched);
    if (hr != S_OK || candidate == nullptr) {
      if (candidate != nullptr) DeleteMediaType(candidate);
      return failure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : failure;
    }
    const auto* type = static_cast<const CMediaType*>(candidate);
    if (mt == nullptr || type->MatchesPartial(mt)) {
      hr = AttemptConnection(receivePin, type);
      if (FAILED(hr) && SUCCEEDED(failure) && !IsGenericConnectFailure(hr)) failure = hr;
    } else {
      hr = VFW_E_NO_ACCEPTABLE_TYPES;
    }
    DeleteMediaType(candidate);
    if (hr == S_OK) return S_OK;
  }
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* mt) {
  CAutoLock hold(m_pLock);
  HRESULT hr = CheckConnect(receivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(mt);
  if (hr == S_OK) {
    SetConnected(receivePin);
    hr = SetMediaType(mt);
    if (SUCCEEDED(hr)) {
      hr = receivePin->ReceiveConnection(static_cast<IPin*>(this), mt);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(receivePin);
        if (SUCCEEDED(hr)) return hr;
        receivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  SetConnected(nullptr);
  BreakConnect();
  return hr;
}
