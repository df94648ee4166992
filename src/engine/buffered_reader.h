// CBufferedAsyncReader: an IAsyncReader over another one that serves
// SyncRead from a cache of one 4096-byte aligned block, so that the box
// parser's many small header reads cost a copy instead of a source call.
// Every other call passes straight through to the source.
//
// Threads: SyncRead may be called from several threads; m_lock serialises
// them. The pass-through calls take no lock (the source pointer never
// changes after construction).
#pragma once

#include "engine/dmx_interfaces.h"
#include "platform/critical_section.h"

#include <atomic>

inline constexpr LONG kBufferBlockSize = 4096;

class CBufferedAsyncReader final : public IBufferedAsyncReader {
 public:
  // Holds one reference on `source`. The reader starts with one reference,
  // which the creator owns.
  static HRESULT Create(IAsyncReader* source, IBufferedAsyncReader** reader);

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props, IMemAllocator** actual) override;
  HRESULT Request(IMediaSample* sample, DWORD_PTR user) override;
  HRESULT WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) override;
  HRESULT SyncReadAligned(IMediaSample* sample) override;
  // Block by block through the cache; a block the source cannot fill is
  // asked again for just the bytes this call needs (the end of a file).
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  HRESULT GetSourceReader(IAsyncReader** source) override;
  HRESULT Clone(IBufferedAsyncReader** reader) override;

 private:
  explicit CBufferedAsyncReader(IAsyncReader* source);
  ~CBufferedAsyncReader();

  // Loads the block holding `position`, needing `wanted` bytes from there.
  HRESULT FillBlockFor(LONGLONG position, LONG wanted);

  // Guards m_block, m_cacheStart and m_cacheEnd; innermost (only the
  // source's own read runs under it).
  CCritSec m_lock;
  std::atomic<LONG> m_refCount{1};
  IAsyncReader* const m_source;  // one reference
  BYTE m_block[kBufferBlockSize];
  // The cached range [m_cacheStart, m_cacheEnd); both 0 when empty.
  LONGLONG m_cacheStart = 0;
  LONGLONG m_cacheEnd = 0;
};
