#include "memory_source.h"

#include <algorithm>
#include <chrono>
#include <cstring>

ComPtr<MemorySource> MemorySource::Create(std::vector<uint8_t> bytes) {
  return ComPtr<MemorySource>(new MemorySource(std::move(bytes)));
}

void MemorySource::FailReadsFrom(LONGLONG offset, HRESULT result) {
  failFrom_ = offset;
  failFromResult_ = result;
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

void MemorySource::CloseAt(LONGLONG offset) {
  std::lock_guard<std::mutex> hold(lock_);
  gate_ = offset;
}

void MemorySource::Open() {
  std::lock_guard<std::mutex> hold(lock_);
  gate_ = -1;
  changed_.notify_all();
}

bool MemorySource::WaitUntilHeld() {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, std::chrono::seconds(2), [this] { return held_ > 0; });
}

void MemorySource::CutAt(LONGLONG size) { size_ = std::min(size, static_cast<LONGLONG>(bytes_.size())); }

size_t MemorySource::ReadCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return reads_.size();
}

std::vector<MemorySource::ReadCall> MemorySource::Reads() const {
  std::lock_guard<std::mutex> hold(lock_);
  return reads_;
}

HRESULT MemorySource::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  {
    std::unique_lock<std::mutex> hold(lock_);
    reads_.push_back({position, length});
    if (buffer == nullptr) return E_POINTER;
    if (position < 0 || length < 0) return E_INVALIDARG;
    if (failFrom_ >= 0 && length > 0 && position + length > failFrom_) return failFromResult_;
    if (gate_ >= 0 && position + length > gate_ && !flushing_) {
      ++held_;
      changed_.notify_all();
      changed_.wait(hold, [this] { return gate_ < 0 || flushing_; });
      --held_;
      if (flushing_) return VFW_E_WRONG_STATE;
    }
  }
  const LONGLONG count = std::clamp<LONGLONG>(size_ - position, 0, length);
  if (count > 0) std::memcpy(buffer, bytes_.data() + position, static_cast<size_t>(count));
  return count == length ? S_OK : shortReadResult_;
}

HRESULT MemorySource::Length(LONGLONG* total, LONGLONG* available) {
  if (FAILED(lengthResult_)) return lengthResult_;
  if (total != nullptr) *total = size_;
  if (available != nullptr) *available = size_;
  return S_OK;
}

HRESULT MemorySource::BeginFlush() {
  std::lock_guard<std::mutex> hold(lock_);
  flushing_ = true;
  changed_.notify_all();
  return S_OK;
}

HRESULT MemorySource::EndFlush() {
  std::lock_guard<std::mutex> hold(lock_);
  flushing_ = false;
  return S_OK;
}
