#include "platform/mem_allocator.h"

#include <cstdlib>
#include <mutex>
#include <new>

namespace {

// Alignments must divide the platform's allocation granularity.
constexpr LONG kAllocationGranularity = 65536;
// Total bytes one allocator may hold; sizes come from negotiation, and a
// hostile or broken peer must not make us ask for an absurd block.
constexpr int64_t kMaxAllocatorBytes = INT32_MAX;

}  // namespace

CBaseAllocator::CBaseAllocator(const char* name, IUnknown* outer, HRESULT* phr) : CUnknown(name, outer, phr) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (request == nullptr || actual == nullptr) return E_POINTER;
  CAutoLock hold(&m_lock);
  *actual = ALLOCATOR_PROPERTIES{};
  if (request->cbAlign != 1) return VFW_E_BADALIGN;
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (static_cast<LONG>(m_free.size()) < m_lAllocated) return VFW_E_BUFFERS_OUTSTANDING;
  actual->cbBuffer = m_lSize = request->cbBuffer;
  actual->cBuffers = m_lCount = request->cBuffers;
  actual->cbAlign = m_lAlignment = request->cbAlign;
  actual->cbPrefix = m_lPrefix = request->cbPrefix;
  m_bChanged = TRUE;
  return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (props == nullptr) return E_POINTER;
  CAutoLock hold(&m_lock);
  props->cbBuffer = m_lSize;
  props->cBuffers = m_lCount;
  props->cbAlign = m_lAlignment;
  props->cbPrefix = m_lPrefix;
  return S_OK;
}

HRESULT CBaseAllocator::Commit() {
  CAutoLock hold(&m_lock);
  if (m_bCommitted) return S_OK;
  m_bCommitted = TRUE;
  if (m_bDecommitInProgress) {
    // The buffers never went away; the reference taken at the first commit stays.
    m_bDecommitInProgress = FALSE;
    return S_OK;
  }
  const HRESULT hr = Alloc();
  if (FAILED(hr)) {
    m_bCommitted = FALSE;
    return hr;
  }
  NonDelegatingAddRef();
  return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
  bool release = false;
  {
    CAutoLock hold(&m_lock);
    if (!m_bCommitted) return S_OK;
    m_bCommitted = FALSE;
    if (static_cast<LONG>(m_free.size()) < m_lAllocated) {
      m_bDecommitInProgress = TRUE;
    } else {
      Free();
      release = true;
    }
  }
  m_sampleFreed.notify_all();
  if (release) NonDelegatingRelease();
  return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags) {
  if (sample == nullptr) return E_POINTER;
  *sample = nullptr;
  std::unique_lock<CCritSec> hold(m_lock);
  for (;;) {
    if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
    if (!m_free.empty()) break;
    if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
    m_sampleFreed.wait(hold);
  }
  CMediaSample* free = m_free.back();
  m_free.pop_back();
  free->m_cRef.store(1);
  *sample = free;
  return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  bool release = false;
  {
    CAutoLock hold(&m_lock);
    m_free.push_back(static_cast<CMediaSample*>(sample));
    if (m_bDecommitInProgress && static_cast<LONG>(m_free.size()) == m_lAllocated) {
      Free();
      m_bDecommitInProgress = FALSE;
      release = true;
    }
  }
  m_sampleFreed.notify_one();
  // May delete the allocator: the reference held since Commit goes here.
  if (release) NonDelegatingRelease();
  return S_OK;
}

HRESULT CBaseAllocator::Alloc() {
  if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0) return VFW_E_SIZENOTSET;
  m_bChanged = FALSE;
  return S_OK;
}

CMemAllocator::CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr) : CBaseAllocator(name, outer, phr) {}

CMemAllocator::~CMemAllocator() {
  Decommit();
  CAutoLock hold(&m_lock);
  // A decommit still waiting for samples cannot be pending here: it holds a reference.
  if (static_cast<LONG>(m_free.size()) == m_lAllocated) Free();
}

CUnknown* CMemAllocator::CreateInstance(IUnknown* outer, HRESULT* phr) {
  auto* allocator = new (std::nothrow) CMemAllocator("CMemAllocator", outer, phr);
  if (allocator == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return allocator;
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (request == nullptr || actual == nullptr) return E_POINTER;
  CAutoLock hold(&m_lock);
  *actual = ALLOCATOR_PROPERTIES{};
  const LONG align = request->cbAlign;
  if (align <= 0 || (kAllocationGranularity % align) != 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (static_cast<LONG>(m_free.size()) < m_lAllocated) return VFW_E_BUFFERS_OUTSTANDING;
  if (request->cbBuffer < 0 || request->cbPrefix < 0 || request->cBuffers < 0) return E_INVALIDARG;
  // The prefix counts toward alignment: prefix plus buffer is rounded up.
  int64_t size = static_cast<int64_t>(request->cbBuffer) + request->cbPrefix;
  const int64_t remainder = size % align;
  if (remainder != 0) size += align - remainder;
  if (size > kMaxAllocatorBytes) return E_INVALIDARG;
  actual->cbBuffer = m_lSize = static_cast<LONG>(size - request->cbPrefix);
  actual->cBuffers = m_lCount = request->cBuffers;
  actual->cbAlign = m_lAlignment = align;
  actual->cbPrefix = m_lPrefix = request->cbPrefix;
  m_bChanged = TRUE;
  return S_OK;
}

HRESULT CMemAllocator::Alloc() {
  HRESULT hr = CBaseAllocator::Alloc();
  if (FAILED(hr)) return hr;
  Free();
  const int64_t stride = static_cast<int64_t>(m_lSize) + m_lPrefix;
  if (stride * m_lCount > kMaxAllocatorBytes) return E_OUTOFMEMORY;
  const size_t alignment = static_cast<size_t>(m_lAlignment) < alignof(std::max_align_t)
                               ? alignof(std::max_align_t)
                               : static_cast<size_t>(m_lAlignment);
  size_t total = static_cast<size_t>(stride * m_lCount);
  total = (total + alignment - 1) / alignment * alignment;
  m_pBuffer = static_cast<BYTE*>(std::aligned_alloc(alignment, total));
  if (m_pBuffer == nullptr) return E_OUTOFMEMORY;
  for (LONG i = 0; i < m_lCount; ++i) {
    BYTE* buffer = m_pBuffer + i * stride + m_lPrefix;
    auto* sample = new (std::nothrow) CMediaSample("CMediaSample", this, &hr, buffer, m_lSize);
    if (sample == nullptr) {
      Free();
      return E_OUTOFMEMORY;
    }
    m_free.push_back(sample);
    ++m_lAllocated;
  }
  return S_OK;
}

void CMemAllocator::Free() {
  for (CMediaSample* sample : m_free) delete sample;
  m_free.clear();
  m_lAllocated = 0;
  std::free(m_pBuffer);
  m_pBuffer = nullptr;
}

HRESULT CreateMemoryAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return E_POINTER;
  *allocator = nullptr;
  HRESULT hr = S_OK;
  auto* created = new (std::nothrow) CMemAllocator("CMemAllocator", nullptr, &hr);
  if (created == nullptr) return E_OUTOFMEMORY;
  created->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) hr = created->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
  created->NonDelegatingRelease();
  return hr;
}
