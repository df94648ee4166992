#include "platform/enum_media_types.h"

#include "platform/base_pin.h"
#include "platform/task_memory.h"

#include <climits>
#include <new>

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* toCopy)
    : CUnknown("CEnumMediaTypes", nullptr), m_pPin(pin) {
  m_pPin->AddRef();
  if (toCopy != nullptr) {
    m_Position = toCopy->m_Position;
    m_Version = toCopy->m_Version;
  } else {
    m_Version = m_pPin->GetMediaTypeVersion();
  }
}

CEnumMediaTypes::~CEnumMediaTypes() { m_pPin->Release(); }

HRESULT CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CEnumMediaTypes::OutOfSync() const { return m_pPin->GetMediaTypeVersion() != m_Version; }

HRESULT CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (types == nullptr) return E_POINTER;
  if (fetched != nullptr) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG got = 0;
  while (got < count && m_Position < INT_MAX) {
    CMediaType type;
    if (m_pPin->GetMediaType(m_Position, &type) != S_OK) break;
    ++m_Position;
    auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (record == nullptr) break;
    // The record takes over the format block and pUnk of `type`.
    *record = type;
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    type.pUnk = nullptr;
    types[got++] = record;
  }
  if (fetched != nullptr) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG count) {
  if (count == 0) return S_OK;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  const int64_t target = static_cast<int64_t>(m_Position) + count;
  m_Position = target > INT_MAX ? INT_MAX : static_cast<int>(target);
  CMediaType type;
  return m_pPin->GetMediaType(m_Position - 1, &type) == S_OK ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Reset() {
  m_Position = 0;
  m_Version = m_pPin->GetMediaTypeVersion();
  return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
  if (copy == nullptr) return E_OUTOFMEMORY;
  copy->AddRef();
  *enumerator = copy;
  return S_OK;
}
