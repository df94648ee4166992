// A scripted byte source for tests. It behaves like a file (a read that runs
// past the end copies what is there and returns S_FALSE) and can be told to
// fail reads, to fail Length, and to report every read that reaches it.
#pragma once

#include "platform/async_reader.h"

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

class MemorySource final : public IAsyncReader {
 public:
  struct ReadCall {
    LONGLONG position;
    LONG length;
  };

  // One reference, held by the result.
  static ComPtr<MemorySource> Create(std::vector<uint8_t> bytes);

  // Any read that touches a byte at or after `offset` returns `result`.
  void FailReadsFrom(LONGLONG offset, HRESULT result);
  // The read with this 0-based number returns `result` (and no bytes).
  void FailReadNumber(size_t number, HRESULT result);
  // What a read running past the end returns (S_FALSE unless set).
  void SetShortReadResult(HRESULT result) { shortReadResult_ = result; }
  // Length returns this failure instead of the size.
  void FailLength(HRESULT result) { lengthResult_ = result; }

  size_t ReadCount() const { return reads_.size(); }
  const std::vector<ReadCall>& Reads() const { return reads_; }

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return static_cast<ULONG>(++refCount_); }
  ULONG Release() override;

  HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override { return E_NOTIMPL; }
  HRESULT Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return E_NOTIMPL; }
  HRESULT SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;
  HRESULT BeginFlush() override { return S_OK; }
  HRESULT EndFlush() override { return S_OK; }

 private:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  ~MemorySource() = default;

  std::vector<uint8_t> bytes_;
  std::vector<ReadCall> reads_;
  LONGLONG failFrom_ = -1;
  HRESULT failFromResult_ = S_OK;
  size_t failNumber_ = SIZE_MAX;
  HRESULT failNumberResult_ = S_OK;
  HRESULT shortReadResult_ = S_FALSE;
  HRESULT lengthResult_ = S_OK;
  std::atomic<LONG> refCount_{0};
};
