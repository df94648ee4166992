#include "memory_source.h"

#include <algorithm>
#include <cstring>

ComPtr<MemorySource> MemorySource::Create(std::vector<uint8_t> bytes) {
  return ComPtr<MemorySource>(new MemorySource(std::move(bytes)));
}

void MemorySource::FailReadsFrom(LONGLONG offset, HRESULT result) {
  failFrom_ = offset;
  failFromResult_ = result;
}

void MemorySource::FailReadNumber(size_t number, HRESULT result) {
  failNumber_ = number;
  failNumberResult_ = result;
}

HRESULT MemorySource::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IAsyncReader) {
    *ppv = static_cast<IAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG MemorySource::Release() {
  const LONG count = --refCount_;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT MemorySource::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  const size_t number = reads_.size();
  reads_.push_back({position, length});
  if (buffer == nullptr) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  if (number == failNumber_) return failNumberResult_;
  if (failFrom_ >= 0 && length > 0 && position + length > failFrom_) return failFromResult_;
  const auto size = static_cast<LONGLONG>(bytes_.size());
  const LONGLONG count = std::clamp<LONGLONG>(size - position, 0, length);
  if (count > 0) std::memcpy(buffer, bytes_.data() + position, static_cast<size_t>(count));
  return count == length ? S_OK : shortReadResult_;
}

HRESULT MemorySource::Length(LONGLONG* total, LONGLONG* available) {
  if (FAILED(lengthResult_)) return lengthResult_;
  if (total != nullptr) *total = static_cast<LONGLONG>(bytes_.size());
  if (available != nullptr) *available = static_cast<LONGLONG>(bytes_.size());
  return S_OK;
}
