// CSyncByteSource: the base of byte sources that answer synchronous reads
// only. It is its own unknown (no outer object), hands out IAsyncReader,
// refuses the queued methods (E_NOTIMPL: a buffered or queued reader above
// does that work) and takes flushes as having nothing to interrupt.
#pragma once

#include "platform/async_reader.h"

class CSyncByteSource : public CUnknown, public IAsyncReader {
 public:
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override { return E_NOTIMPL; }
  HRESULT Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return E_NOTIMPL; }
  HRESULT SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
  HRESULT BeginFlush() override { return S_OK; }
  HRESULT EndFlush() override { return S_OK; }

 protected:
  explicit CSyncByteSource(const char* objectName) : CUnknown(objectName, nullptr) {}
};
