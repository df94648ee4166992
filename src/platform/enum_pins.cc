#include "platform/enum_pins.h"

#include "platform/base_filter.h"

#include <new>

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* toCopy) : CUnknown("CEnumPins", nullptr), m_pFilter(filter) {
  m_pFilter->AddRef();
  if (toCopy != nullptr) {
    m_Position = toCopy->m_Position;
    m_PinCount = toCopy->m_PinCount;
    m_Version = toCopy->m_Version;
  } else {
    m_PinCount = m_pFilter->GetPinCount();
    m_Version = m_pFilter->GetPinVersion();
  }
}

CEnumPins::~CEnumPins() { m_pFilter->Release(); }

HRESULT CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CEnumPins::OutOfSync() const { return m_pFilter->GetPinVersion() != m_Version; }

HRESULT CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (pins == nullptr) return E_POINTER;
  if (fetched != nullptr) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG got = 0;
  while (got < count && m_Position < m_PinCount) {
    CBasePin* pin = m_pFilter->GetPin(m_Position);
    if (pin == nullptr) {
      // The pin set shrank without a version change; give back what we took.
      for (ULONG i = 0; i < got; ++i) pins[i]->Release();
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    ++m_Position;
    pins[got] = pin;
    pin->AddRef();
    ++got;
  }
  if (fetched != nullptr) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG count) {
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  const ULONG left = static_cast<ULONG>(m_PinCount - m_Position);
  if (count > left) return S_FALSE;
  m_Position += static_cast<int>(count);
  return S_OK;
}

HRESULT CEnumPins::Reset() {
  m_Version = m_pFilter->GetPinVersion();
  m_PinCount = m_pFilter->GetPinCount();
  m_Position = 0;
  return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumPins(m_pFilter, this);
  if (copy == nullptr) return E_OUTOFMEMORY;
  copy->AddRef();
  *enumerator = copy;
  return S_OK;
}
