// A scripted byte source for tests. It behaves like a file (a read that runs
// past the end copies what is there and returns S_FALSE) and can be told to
// fail reads, to fail Length, and to report every read that reaches it. It
// can also hold reads at a gate until opened or flushed, so that a test can
// seek while a pin is mid-stream, and be cut short as a file that shrank.
#pragma once

#include "platform/async_reader.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
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
  // What a read running past the end returns (S_FALSE unless set).
  void SetShortReadResult(HRESULT result) { shortReadResult_ = result; }
  // Length returns this failure instead of the size.
  void FailLength(HRESULT result) { lengthResult_ = result; }

  // Reads touching `offset` or later wait until Open, a flush, or the end.
  void CloseAt(LONGLONG offset);
  void Open();
  // Waits until a read is held at the gate; false after two seconds.
  bool WaitUntilHeld();
  // Reads and Length see only the first `size` bytes from now on.
  void CutAt(LONGLONG size);

  size_t ReadCount() const;
  std::vector<ReadCall> Reads() const;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return static_cast<ULONG>(++refCount_); }
  ULONG Release() override;

  HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override { return E_NOTIMPL; }
  HRESULT Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return E_NOTIMPL; }
  HRESULT SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

 private:
  explicit MemorySource(std::vector<uint8_t> bytes)
      : bytes_(std::move(bytes)), size_(static_cast<LONGLONG>(bytes_.size())) {}
  ~MemorySource() = default;

  const std::vector<uint8_t> bytes_;
  std::atomic<LONGLONG> size_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  LONGLONG gate_ = -1;
  bool flushing_ = false;
  int held_ = 0;
  std::vector<ReadCall> reads_;
  LONGLONG failFrom_ = -1;
  HRESULT failFromResult_ = S_OK;
  HRESULT shortReadResult_ = S_FALSE;
  HRESULT lengthResult_ = S_OK;
  std::atomic<LONG> refCount_{0};
};
