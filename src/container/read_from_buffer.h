// CReadFromBuffer: a CBuffer whose bytes are served as a byte source, so that
// a box tree held in memory is parsed by the same code as a file.
//
// Reference counted on its own (not aggregatable): the count starts at 1,
// held by whoever created it, and the last Release deletes a heap object. An
// owner that embeds one as a member keeps that first reference and never
// releases it; it must outlive every reference it handed out.
#pragma once

#include "container/byte_buffer.h"
#include "platform/async_reader.h"

#include <atomic>

class CReadFromBuffer : public CBuffer, public IAsyncReader {
 public:
  CReadFromBuffer() = default;
  ~CReadFromBuffer() override = default;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override { return E_NOTIMPL; }
  HRESULT Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return E_NOTIMPL; }
  HRESULT SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
  // Copies from `position` up to at most the used length and returns S_OK,
  // also when fewer than `length` bytes were left (none at the used length).
  // E_UNEXPECTED without storage; HRESULT_HANDLE_EOF before the start or past
  // the used length.
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  // Total and available are both the used length; either may be null.
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;
  // The buffer's used length stays reachable beside the source's Length.
  using CBuffer::Length;
  HRESULT BeginFlush() override { return S_OK; }
  HRESULT EndFlush() override { return S_OK; }

 private:
  std::atomic<LONG> refCount_{1};
};
