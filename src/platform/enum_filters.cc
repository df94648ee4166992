#include "platform/enum_filters.h"

#include <new>
#include <utility>

CEnumFilters::CEnumFilters(IUnknown* owner, Snapshot snapshot, Version version)
    : CUnknown("CEnumFilters", nullptr), m_owner(owner), m_snapshot(std::move(snapshot)), m_version(std::move(version)) {
  m_owner->AddRef();
  Take();
}

CEnumFilters::~CEnumFilters() {
  Drop();
  m_owner->Release();
}

void CEnumFilters::Take() {
  m_filters = m_snapshot(&m_snapshotVersion);
  m_position = 0;
}

void CEnumFilters::Drop() {
  for (IBaseFilter* filter : m_filters) filter->Release();
  m_filters.clear();
}

HRESULT CEnumFilters::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IEnumFilters) return GetInterface(static_cast<IEnumFilters*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CEnumFilters::Next(ULONG count, IBaseFilter** filters, ULONG* fetched) {
  if (filters == nullptr) return E_POINTER;
  if (fetched != nullptr) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  if (m_version() != m_snapshotVersion) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG got = 0;
  while (got < count && m_position < m_filters.size()) {
    filters[got] = m_filters[m_position++];
    filters[got]->AddRef();
    ++got;
  }
  if (fetched != nullptr) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT CEnumFilters::Skip(ULONG count) {
  if (m_version() != m_snapshotVersion) return VFW_E_ENUM_OUT_OF_SYNC;
  if (count > m_filters.size() - m_position) {
    m_position = m_filters.size();
    return S_FALSE;
  }
  m_position += count;
  return S_OK;
}

HRESULT CEnumFilters::Reset() {
  Drop();
  Take();
  return S_OK;
}

HRESULT CEnumFilters::Clone(IEnumFilters** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  if (m_version() != m_snapshotVersion) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumFilters(m_owner, m_snapshot, m_version);
  if (copy == nullptr) return E_OUTOFMEMORY;
  copy->m_position = m_position;
  copy->AddRef();
  *enumerator = copy;
  return S_OK;
}
