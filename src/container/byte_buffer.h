// Growable byte buffers: CBaseBuffer with its storage functions chosen by the
// derived class, CBuffer (C runtime heap, with an optional side buffer) and
// CHeapBuffer (process heap). Capacities and lengths are signed 32-bit; a
// size past that range is refused before anything is reserved. Not
// thread-safe: a buffer belongs to one owner at a time.
#pragma once

#include "platform/hresult.h"

#include <cstdarg>
#include <memory>
#include <new>

class CBaseBuffer {
 public:
  using ReleaseFunction = void (*)(void* block);
  using ReallocateFunction = void* (*)(void* block, size_t bytes);

  CBaseBuffer(const CBaseBuffer&) = delete;
  CBaseBuffer& operator=(const CBaseBuffer&) = delete;
  virtual ~CBaseBuffer();

  // Releases the storage; length and capacity become 0.
  virtual void Free();
  // Ensures a capacity of `bytes`, reallocating to exactly that. On failure
  // the old storage is kept and false returned.
  virtual bool Reserve(LONG bytes);

  // All return S_OK, or E_OUTOFMEMORY when the storage cannot grow.
  HRESULT Append(const void* bytes, LONG count);
  HRESULT AppendByte(BYTE value);
  // Copies `count` bytes, or writes `count` zeros when `bytes` is null.
  HRESULT Assign(const void* bytes, LONG count);
  // Room for `count` more bytes; *out is the address just past the used ones.
  HRESULT GetWritePointer(BYTE** out, LONG count);
  HRESULT ReserveMore(LONG count);
  // Exchanges storage, length and capacity (E_POINTER for null). Both
  // buffers must use the same storage functions.
  HRESULT Swap(CBaseBuffer* other);
  // Length 0, storage kept.
  void Empty() { length_ = 0; }
  // Sets the used length within the capacity (E_INVALIDARG outside it), for
  // callers that wrote through Data().
  HRESULT SetLength(LONG length);

  // The contents as NUL-terminated text: one trailing NUL is dropped, the
  // text appended, and exactly one NUL ends the result again.
  HRESULT AppendText(char value);
  HRESULT AppendText(const CBaseBuffer& other);
  // `length` wide characters, or up to and including the NUL when negative,
  // converted to `codePage`. A length with bit 30 set is E_INVALIDARG.
  HRESULT AppendText(const WCHAR* text, LONG length, UINT codePage);

  // printf-style; the NUL is part of the length. Format replaces the
  // contents; AppendFormat drops a trailing NUL first. A format that cannot
  // be counted is E_INVALIDARG.
  HRESULT Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  HRESULT FormatV(const char* format, va_list arguments);
  HRESULT AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  HRESULT AppendFormatV(const char* format, va_list arguments);

  // The text (NUL-terminated first) as wide characters into `out`, which
  // holds `capacity` characters with the NUL;
  // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when it does not fit.
  HRESULT ToWide(WCHAR* out, LONG capacity, UINT codePage);
  // The same into a new BSTR that the caller frees.
  HRESULT ToBstr(BSTR* out, UINT codePage);
  // Strips trailing NUL bytes.
  void TrimTrailingNuls();

  BYTE* Data() const { return data_; }
  LONG Length() const { return length_; }
  LONG Capacity() const { return capacity_; }

 protected:
  CBaseBuffer(ReleaseFunction release, ReallocateFunction reallocate)
      : release_(release), reallocate_(reallocate) {}
  void ReleaseStorage();

 private:
  // Reserve for a total that may not fit 32 bits.
  HRESULT ReserveTotal(LONGLONG bytes);
  HRESULT AppendConvertedText(const char* text, size_t length);
  void DropTrailingNul();
  HRESULT TerminateText();
  HRESULT AppendFormatted(const char* format, va_list arguments);

  BYTE* data_ = nullptr;
  LONG length_ = 0;
  LONG capacity_ = 0;
  ReleaseFunction release_;
  ReallocateFunction reallocate_;
};

class CBuffer : public CBaseBuffer {
 public:
  CBuffer();
  ~CBuffer() override;

  // Also deletes the side buffer.
  void Free() override;

  // With bytes and a count, keeps a copy in the side buffer (created when
  // missing); otherwise deletes the side buffer.
  HRESULT SetSideData(const void* bytes, LONG count);
  // The side buffer's bytes, or null and 0.
  void GetSideData(const BYTE** out, LONG* length) const;

  // A value the owner may keep with the bytes; 0 at construction.
  DWORD value = 0;

 private:
  std::unique_ptr<CBuffer> side_;
};

class CHeapBuffer : public CBaseBuffer {
 public:
  CHeapBuffer();
  ~CHeapBuffer() override;

  // The object itself lives on the process heap too.
  static void* operator new(size_t bytes);
  static void* operator new(size_t bytes, const std::nothrow_t&) noexcept;
  static void operator delete(void* block);
};
