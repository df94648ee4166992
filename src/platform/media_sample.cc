#include "platform/media_sample.h"

#include "platform/mem_allocator.h"

CMediaSample::CMediaSample(const char* name, CBaseAllocator* allocator, HRESULT* phr, BYTE* buffer, LONG length)
    : CBaseObject(name), m_pBuffer(buffer), m_cbBuffer(length), m_pAllocator(allocator) {
  if (allocator == nullptr && phr != nullptr) *phr = VFW_E_NEED_OWNER;
}

CMediaSample::~CMediaSample() { DeleteMediaType(m_pMediaType); }

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IMediaSample || riid == IID_IUnknown) return GetInterface(this, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CMediaSample::Release() {
  const LONG count = m_cRef.fetch_sub(1) - 1;
  if (count == 0) {
    // The next user of this buffer starts from a clean sample.
    SetMediaType(nullptr);
    m_dwFlags = 0;
    m_lActual = 0;
    m_pAllocator->ReleaseBuffer(this);
  }
  return static_cast<ULONG>(count);
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
  if (buffer == nullptr) return E_POINTER;
  *buffer = m_pBuffer;
  return S_OK;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  if (start == nullptr || stop == nullptr) return E_POINTER;
  if (!(m_dwFlags & kTimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
  *start = m_Start;
  if (!(m_dwFlags & kStopValid)) {
    *stop = m_Start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *stop = m_End;
  return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  if (start == nullptr) {
    m_dwFlags &= ~(kTimeValid | kStopValid);
  } else if (stop == nullptr) {
    m_Start = *start;
    m_dwFlags = (m_dwFlags | kTimeValid) & ~kStopValid;
  } else {
    m_Start = *start;
    m_End = *stop;
    m_dwFlags |= kTimeValid | kStopValid;
  }
  return S_OK;
}

HRESULT CMediaSample::SetSyncPoint(BOOL isSyncPoint) {
  SetFlag(kSyncPoint, isSyncPoint);
  return S_OK;
}

HRESULT CMediaSample::SetPreroll(BOOL isPreroll) {
  SetFlag(kPreroll, isPreroll);
  return S_OK;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL isDiscontinuity) {
  SetFlag(kDiscontinuity, isDiscontinuity);
  return S_OK;
}

HRESULT CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** mediaType) {
  if (mediaType == nullptr) return E_POINTER;
  if (!(m_dwFlags & kTypeChanged)) {
    *mediaType = nullptr;
    return S_FALSE;
  }
  *mediaType = CreateMediaType(m_pMediaType);
  return *mediaType == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* mediaType) {
  DeleteMediaType(m_pMediaType);
  m_pMediaType = nullptr;
  if (mediaType == nullptr) {
    m_dwFlags &= ~kTypeChanged;
    return S_OK;
  }
  m_pMediaType = CreateMediaType(mediaType);
  if (m_pMediaType == nullptr) {
    m_dwFlags &= ~kTypeChanged;
    return E_OUTOFMEMORY;
  }
  m_dwFlags |= kTypeChanged;
  return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* stop) {
  if (start == nullptr || stop == nullptr) return E_POINTER;
  if (!(m_dwFlags & kMediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = m_MediaStart;
  *stop = m_MediaEnd;
  return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* stop) {
  if (start == nullptr) {
    m_dwFlags &= ~kMediaTimeValid;
    return S_OK;
  }
  if (stop == nullptr) return E_POINTER;
  m_MediaStart = *start;
  m_MediaEnd = *stop;
  m_dwFlags |= kMediaTimeValid;
  return S_OK;
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length) {
  if (length < 0) return VFW_E_BUFFER_OVERFLOW;
  m_pBuffer = buffer;
  m_cbBuffer = length;
  m_lActual = length;
  return S_OK;
}
