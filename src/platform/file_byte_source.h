// A plain local file as a synchronous IAsyncReader. Reads are positioned
// (pread), so several threads may read at once without a shared file pointer.
// The asynchronous request methods are not offered (E_NOTIMPL).
#pragma once

#include "platform/async_reader.h"

#include <string>

class CFileByteSource final : public CUnknown, public IAsyncReader {
 public:
  // Opens `path` for reading; on failure *out is null and the result is the
  // Win32-style error (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ...).
  static HRESULT Open(const std::string& path, IAsyncReader** out);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override { return E_NOTIMPL; }
  HRESULT Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return E_NOTIMPL; }
  HRESULT SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;
  HRESULT BeginFlush() override { return S_OK; }
  HRESULT EndFlush() override { return S_OK; }

 private:
  explicit CFileByteSource(int fd);
  ~CFileByteSource() override;

  const int fd_;
};
