#include "platform/file_byte_source.h"

#include "platform/win32_error.h"

#include <cerrno>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

HRESULT CFileByteSource::Open(const std::string& path, IAsyncReader** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return HResultFromErrno(errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    return HResultFromErrno(error);
  }
  auto* source = new (std::nothrow) CFileByteSource(fd);
  if (source == nullptr) {
    ::close(fd);
    return E_OUTOFMEMORY;
  }
  source->NonDelegatingAddRef();
  *out = source;
  return S_OK;
}

CFileByteSource::CFileByteSource(int fd) : CSyncByteSource("CFileByteSource"), fd_(fd) {}

CFileByteSource::~CFileByteSource() { ::close(fd_); }

HRESULT CFileByteSource::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (buffer == nullptr && length > 0) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  LONG done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, buffer + done, static_cast<size_t>(length - done), position + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return HResultFromErrno(errno);
    }
    if (n == 0) break;
    done += static_cast<LONG>(n);
  }
  return done == length ? S_OK : S_FALSE;
}

HRESULT CFileByteSource::Length(LONGLONG* total, LONGLONG* available) {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return HResultFromErrno(errno);
  if (total != nullptr) *total = info.st_size;
  if (available != nullptr) *available = info.st_size;
  return S_OK;
}
