// CBaseAllocator, the commit/decommit and free-list protocol of every
// allocator, and CMemAllocator, which backs it with one block of memory.
//
// While committed, and while a decommit waits for samples to come back, the
// allocator holds a reference on itself, so samples never outlive it.
#pragma once

#include "platform/critical_section.h"
#include "platform/media_sample.h"

#include <condition_variable>
#include <vector>

class CBaseAllocator : public CUnknown, public IMemAllocator {
 public:
  CBaseAllocator(const char* name, IUnknown* outer, HRESULT* phr);
  ~CBaseAllocator() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Only while decommitted with every buffer back; alignment must be 1 here
  // (derived allocators accept more).
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
  HRESULT Commit() override;
  // Frees the buffers now, or when the last outstanding sample comes back;
  // wakes every GetBuffer waiter with VFW_E_NOT_COMMITTED.
  HRESULT Decommit() override;
  // Waits for a free buffer unless AM_GBF_NOWAIT (then VFW_E_TIMEOUT).
  HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) override;
  HRESULT ReleaseBuffer(IMediaSample* sample) override;

 protected:
  // Creates the samples (m_lCount of m_lSize bytes after m_lPrefix) and puts
  // them on the free list; called under m_lock.
  virtual HRESULT Alloc();
  // Deletes the samples; called under m_lock with every sample on the list.
  virtual void Free() = 0;

  // Guards everything below; innermost: never held while calling out.
  CCritSec m_lock;
  std::condition_variable_any m_sampleFreed;
  std::vector<CMediaSample*> m_free;  // LIFO, so the warmest buffer is reused first
  LONG m_lAllocated = 0;              // samples in existence
  LONG m_lSize = 0;
  LONG m_lCount = 0;
  LONG m_lAlignment = 0;
  LONG m_lPrefix = 0;
  BOOL m_bChanged = FALSE;
  BOOL m_bCommitted = FALSE;
  BOOL m_bDecommitInProgress = FALSE;
};

class CMemAllocator final : public CBaseAllocator {
 public:
  CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr);
  ~CMemAllocator() override;

  // For the class table.
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

  // Alignment: a power of two up to 64 KiB. The buffer size is rounded up
  // so that prefix plus buffer is a multiple of the alignment.
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;

 protected:
  HRESULT Alloc() override;
  void Free() override;

 private:
  BYTE* m_pBuffer = nullptr;
};

// A new CMemAllocator with one reference.
HRESULT CreateMemoryAllocator(IMemAllocator** allocator);
