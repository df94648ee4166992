#include "platform/win32_error.h"

#include <cerrno>
#include <iterator>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

struct ErrnoMapping {
  int errnoValue;
  DWORD win32Error;
};

constexpr ErrnoMapping kErrnoTable[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {ELOOP, ERROR_PATH_NOT_FOUND},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EROFS, ERROR_WRITE_PROTECT},
    {ESPIPE, ERROR_SEEK},
    {EIO, ERROR_READ_FAULT},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EOVERFLOW, ERROR_HANDLE_EOF},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    {EEXIST, ERROR_FILE_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ENOSPC, ERROR_DISK_FULL},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EBUSY, ERROR_BUSY},
    {EINTR, ERROR_OPERATION_ABORTED},
    {ECANCELED, ERROR_OPERATION_ABORTED},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {ENXIO, ERROR_NOT_READY},
    {ENODEV, ERROR_NOT_READY},
};

}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

DWORD Win32ErrorFromErrno(int errnoValue) {
  for (const ErrnoMapping& mapping : kErrnoTable) {
    if (mapping.errnoValue == errnoValue) return mapping.win32Error;
  }
  return ERROR_INVALID_FUNCTION;
}

HRESULT HResultFromErrno(int errnoValue) {
  const DWORD error = Win32ErrorFromErrno(errnoValue);
  SetLastError(error);
  return HRESULT_FROM_WIN32(error);
}
