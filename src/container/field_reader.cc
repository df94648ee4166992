#include "container/field_reader.h"

#include <cstring>

HRESULT BoxFieldReader::Read(BYTE* out, LONG count) {
  if (count < 0) return E_INVALIDARG;
  if (!Fits(count)) return STG_E_INVALIDHEADER;
  *remaining_ -= count;
  // A source may report success without filling everything (memory past its
  // end does); zeros then stand in for bytes that never came.
  std::memset(out, 0, static_cast<size_t>(count));
  const HRESULT hr = source_->SyncRead(*position_, count, out);
  if (lastResult_ != nullptr) *lastResult_ = hr;
  if (hr != S_OK) return hr;
  *position_ += count;
  return S_OK;
}

HRESULT BoxFieldReader::U8(BYTE* value) { return Read(value, 1); }

HRESULT BoxFieldReader::U16(WORD* value) {
  BYTE bytes[2];
  RETURN_IF_FAILED(Read(bytes, sizeof bytes));
  *value = LoadBigEndian16(bytes);
  return S_OK;
}

HRESULT BoxFieldReader::U24(DWORD* value) {
  BYTE bytes[3];
  RETURN_IF_FAILED(Read(bytes, sizeof bytes));
  *value = LoadBigEndian24(bytes);
  return S_OK;
}

HRESULT BoxFieldReader::U32(DWORD* value) {
  BYTE bytes[4];
  RETURN_IF_FAILED(Read(bytes, sizeof bytes));
  *value = LoadBigEndian32(bytes);
  return S_OK;
}

HRESULT BoxFieldReader::U64(ULONGLONG* value) {
  BYTE bytes[8];
  RETURN_IF_FAILED(Read(bytes, sizeof bytes));
  *value = LoadBigEndian64(bytes);
  return S_OK;
}

HRESULT BoxFieldReader::VersionedU64(BYTE version, ULONGLONG* value) {
  if (version == 1) return U64(value);
  DWORD narrow = 0;
  RETURN_IF_FAILED(U32(&narrow));
  *value = narrow;
  return S_OK;
}

HRESULT BoxFieldReader::I32(LONG* value) {
  DWORD bits = 0;
  RETURN_IF_FAILED(U32(&bits));
  *value = static_cast<LONG>(bits);
  return S_OK;
}

HRESULT BoxFieldReader::I64(LONGLONG* value) {
  ULONGLONG bits = 0;
  RETURN_IF_FAILED(U64(&bits));
  *value = static_cast<LONGLONG>(bits);
  return S_OK;
}

HRESULT BoxFieldReader::Bytes(void* out, LONG count) { return Read(static_cast<BYTE*>(out), count); }

HRESULT BoxFieldReader::Skip(LONGLONG count) {
  if (count < 0) return E_INVALIDARG;
  if (!Fits(count)) return STG_E_INVALIDHEADER;
  *remaining_ -= count;
  *position_ += count;
  return S_OK;
}

void BoxFieldReader::SkipRest() {
  if (*remaining_ <= 0) return;
  *position_ += *remaining_;
  *remaining_ = 0;
}
