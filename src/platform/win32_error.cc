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

struct Win32ErrorWords {
  DWORD error;
  const char* name;
  const char* text;
};

#define WIN32_ERROR(code, text) {code, #code, text}
constexpr Win32ErrorWords kErrorWords[] = {
    WIN32_ERROR(ERROR_INVALID_FUNCTION, "operation not supported here"),
    WIN32_ERROR(ERROR_FILE_NOT_FOUND, "no such file"),
    WIN32_ERROR(ERROR_PATH_NOT_FOUND, "no such folder on the path"),
    WIN32_ERROR(ERROR_TOO_MANY_OPEN_FILES, "too many open files"),
    WIN32_ERROR(ERROR_ACCESS_DENIED, "access denied"),
    WIN32_ERROR(ERROR_INVALID_HANDLE, "invalid handle"),
    WIN32_ERROR(ERROR_NOT_ENOUGH_MEMORY, "not enough memory"),
    WIN32_ERROR(ERROR_OUTOFMEMORY, "out of memory"),
    WIN32_ERROR(ERROR_WRITE_PROTECT, "the medium is write-protected"),
    WIN32_ERROR(ERROR_NOT_READY, "the device is not ready"),
    WIN32_ERROR(ERROR_SEEK, "cannot seek in this input"),
    WIN32_ERROR(ERROR_WRITE_FAULT, "write fault"),
    WIN32_ERROR(ERROR_READ_FAULT, "read fault"),
    WIN32_ERROR(ERROR_SHARING_VIOLATION, "in use by another process"),
    WIN32_ERROR(ERROR_LOCK_VIOLATION, "locked by another process"),
    WIN32_ERROR(ERROR_HANDLE_EOF, "reached the end of the file"),
    WIN32_ERROR(ERROR_NOT_SUPPORTED, "not supported"),
    WIN32_ERROR(ERROR_FILE_EXISTS, "the file exists"),
    WIN32_ERROR(ERROR_INVALID_PARAMETER, "invalid parameter"),
    WIN32_ERROR(ERROR_BROKEN_PIPE, "broken pipe"),
    WIN32_ERROR(ERROR_DISK_FULL, "disk full"),
    WIN32_ERROR(ERROR_INVALID_NAME, "invalid name"),
    WIN32_ERROR(ERROR_FILENAME_EXCED_RANGE, "name too long"),
    WIN32_ERROR(ERROR_DIR_NOT_EMPTY, "folder not empty"),
    WIN32_ERROR(ERROR_ALREADY_EXISTS, "already exists"),
    WIN32_ERROR(ERROR_DIRECTORY, "is a directory"),
    WIN32_ERROR(ERROR_DIRECTORY_NOT_SUPPORTED, "is a directory"),
    WIN32_ERROR(ERROR_OPERATION_ABORTED, "operation aborted"),
    WIN32_ERROR(ERROR_TIMEOUT, "timed out"),
};
#undef WIN32_ERROR

const Win32ErrorWords* WordsFor(DWORD error) {
  for (const Win32ErrorWords& words : kErrorWords) {
    if (words.error == error) return &words;
  }
  return nullptr;
}

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

const char* Win32ErrorName(DWORD error) {
  const Win32ErrorWords* words = WordsFor(error);
  return words != nullptr ? words->name : nullptr;
}

const char* Win32ErrorText(DWORD error) {
  const Win32ErrorWords* words = WordsFor(error);
  return words != nullptr ? words->text : nullptr;
}
