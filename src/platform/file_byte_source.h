// A plain local file as a synchronous IAsyncReader. Reads are positioned
// (pread), so several threads may read at once without a shared file pointer.
// The asynchronous request methods are not offered (E_NOTIMPL).
#pragma once

#include "platform/sync_byte_source.h"

#include <string>

class CFileByteSource final : public CSyncByteSource {
 public:
  // Opens `path` for reading; on failure *out is null and the result is the
  // Win32-style error (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ...).
  static HRESULT Open(const std::string& path, IAsyncReader** out);

  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;

 private:
  explicit CFileByteSource(int fd);
  ~CFileByteSource() override;

  const int fd_;
};
