#include "container/read_from_buffer.h"

#include <algorithm>
#include <cstring>

HRESULT CReadFromBuffer::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IAsyncReader) {
    *ppv = static_cast<IAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOTIMPL;
}

ULONG CReadFromBuffer::AddRef() { return static_cast<ULONG>(refCount_.fetch_add(1) + 1); }

ULONG CReadFromBuffer::Release() {
  const LONG count = refCount_.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT CReadFromBuffer::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (buffer == nullptr) return E_POINTER;
  if (Data() == nullptr) return E_UNEXPECTED;
  if (position < 0 || position > Length()) return HRESULT_HANDLE_EOF;
  if (length < 0) return E_INVALIDARG;
  const LONGLONG count = std::min<LONGLONG>(length, Length() - position);
  if (count > 0) std::memcpy(buffer, Data() + position, static_cast<size_t>(count));
  return S_OK;
}

HRESULT CReadFromBuffer::Length(LONGLONG* total, LONGLONG* available) {
  if (total != nullptr) *total = CBuffer::Length();
  if (available != nullptr) *available = CBuffer::Length();
  return S_OK;
}
