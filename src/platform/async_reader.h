// IAsyncReader: the random-access byte stream that parsers read through.
#pragma once

#include "platform/unknown.h"

struct IMemAllocator;
struct IMediaSample;

typedef struct _AllocatorProperties {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
} ALLOCATOR_PROPERTIES;

inline constexpr IID IID_IAsyncReader = {0x56A868AA, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

struct IAsyncReader : public IUnknown {
  virtual HRESULT RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                   IMemAllocator** actual) = 0;
  virtual HRESULT Request(IMediaSample* sample, DWORD_PTR user) = 0;
  virtual HRESULT WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) = 0;
  virtual HRESULT SyncReadAligned(IMediaSample* sample) = 0;
  // S_OK only when all `length` bytes were delivered; S_FALSE for a short
  // read at the end of the stream; a failure otherwise.
  virtual HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) = 0;
  virtual HRESULT Length(LONGLONG* total, LONGLONG* available) = 0;
  virtual HRESULT BeginFlush() = 0;
  virtual HRESULT EndFlush() = 0;

 protected:
  ~IAsyncReader() = default;
};
