#include "platform/media_type.h"

#include "platform/task_memory.h"

#include <algorithm>
#include <cstring>

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.pbFormat != nullptr) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk != nullptr) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  if (source == nullptr) return nullptr;
  auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (mt == nullptr) return nullptr;
  if (FAILED(CopyMediaType(mt, source))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (target == nullptr || source == nullptr) return E_POINTER;
  if (target == source) return S_OK;
  *target = *source;
  // A block pointer without a length would otherwise be shared and freed twice.
  target->pbFormat = nullptr;
  if (source->cbFormat != 0) {
    if (source->pbFormat == nullptr) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_POINTER;
    }
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (target->pbFormat == nullptr) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  }
  if (target->pUnk != nullptr) target->pUnk->AddRef();
  return S_OK;
}

CMediaType::CMediaType() { InitMediaType(); }

CMediaType::CMediaType(const GUID* majorType) {
  InitMediaType();
  majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& source, HRESULT* phr) {
  InitMediaType();
  const HRESULT hr = Set(source);
  if (FAILED(hr) && phr != nullptr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& source, HRESULT* phr) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(source), phr) {}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const CMediaType& source) {
  Set(source);
  return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& source) {
  Set(source);
  return *this;
}

HRESULT CMediaType::Set(const CMediaType& source) { return Set(static_cast<const AM_MEDIA_TYPE&>(source)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& source) {
  if (&source == this) return S_OK;
  FreeMediaType(*this);
  const HRESULT hr = CopyMediaType(this, &source);
  if (FAILED(hr)) {
    InitMediaType();
    return hr;
  }
  return S_OK;
}

bool CMediaType::operator==(const CMediaType& other) const {
  if (majortype != other.majortype || subtype != other.subtype || formattype != other.formattype) return false;
  if (cbFormat != other.cbFormat) return false;
  if (cbFormat == 0) return true;
  return pbFormat != nullptr && other.pbFormat != nullptr && std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0;
}

BOOL CMediaType::IsValid() const { return majortype != GUID_NULL ? TRUE : FALSE; }

void CMediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
  }
}

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length) {
  if (length != 0 && format == nullptr) return FALSE;
  if (length == 0) {
    ResetFormatBuffer();
    return TRUE;
  }
  if (AllocFormatBuffer(length) == nullptr) return FALSE;
  std::memcpy(pbFormat, format, length);
  return TRUE;
}

void CMediaType::ResetFormatBuffer() {
  if (pbFormat != nullptr) CoTaskMemFree(pbFormat);
  cbFormat = 0;
  pbFormat = nullptr;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (length == cbFormat && pbFormat != nullptr) return pbFormat;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (block == nullptr) {
    if (length <= cbFormat) return pbFormat;
    return nullptr;
  }
  if (pbFormat != nullptr) CoTaskMemFree(pbFormat);
  cbFormat = length;
  pbFormat = block;
  return pbFormat;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
  if (length == cbFormat && pbFormat != nullptr) return pbFormat;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (block == nullptr) {
    if (length <= cbFormat) return pbFormat;
    return nullptr;
  }
  if (pbFormat != nullptr) {
    std::memcpy(block, pbFormat, std::min(length, cbFormat));
    CoTaskMemFree(pbFormat);
  }
  cbFormat = length;
  pbFormat = block;
  return pbFormat;
}

void CMediaType::InitMediaType() {
  AM_MEDIA_TYPE& record = *this;
  record = AM_MEDIA_TYPE{};
  lSampleSize = 1;
  bFixedSizeSamples = TRUE;
}

BOOL CMediaType::MatchesPartial(const CMediaType* partial) const {
  if (partial == nullptr) return TRUE;
  if (partial->majortype != GUID_NULL && majortype != partial->majortype) return FALSE;
  if (partial->subtype != GUID_NULL && subtype != partial->subtype) return FALSE;
  if (partial->formattype != GUID_NULL) {
    if (formattype != partial->formattype) return FALSE;
    if (cbFormat != partial->cbFormat) return FALSE;
    if (cbFormat != 0 && std::memcmp(pbFormat, partial->pbFormat, cbFormat) != 0) return FALSE;
  }
  return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
  return (majortype == GUID_NULL || formattype == GUID_NULL) ? TRUE : FALSE;
}
