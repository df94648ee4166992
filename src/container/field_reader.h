// Big-endian field reads through a byte source, bounded by the enclosing box.
//
// Every read takes the caller's two counters: the absolute position of the
// next byte and the bytes that remain in the enclosing box. Before a field is
// read, remaining must hold it (else STG_E_INVALIDHEADER, counters untouched);
// remaining is reduced first, then the bytes are read, and position advances
// only when the source delivered them all (S_OK). Any other result of the
// source, S_FALSE for a short read included, is returned as it stands.
#pragma once

#include "platform/async_reader.h"

// Ends the calling operation with `expr`'s result unless it is S_OK. In the
// container code a source's S_FALSE means the field was not delivered, so it
// ends a parse step just as a failure does.
#define RETURN_IF_FAILED(expr)                   \
  do {                                           \
    const HRESULT returnIfFailed_ = (expr);      \
    if (returnIfFailed_ != S_OK) return returnIfFailed_; \
  } while (0)

// Big-endian values from memory that the caller has already bounds-checked.
inline WORD LoadBigEndian16(const BYTE* p) { return static_cast<WORD>((p[0] << 8) | p[1]); }
inline DWORD LoadBigEndian24(const BYTE* p) {
  return (static_cast<DWORD>(p[0]) << 16) | (static_cast<DWORD>(p[1]) << 8) | p[2];
}
inline DWORD LoadBigEndian32(const BYTE* p) {
  return (static_cast<DWORD>(p[0]) << 24) | (static_cast<DWORD>(p[1]) << 16) | (static_cast<DWORD>(p[2]) << 8) |
         p[3];
}
inline ULONGLONG LoadBigEndian64(const BYTE* p) {
  return (static_cast<ULONGLONG>(LoadBigEndian32(p)) << 32) | LoadBigEndian32(p + 4);
}

// A short-lived view of (source, position, remaining) for one box's fields.
// It owns nothing; the counters stay the caller's. When `lastResult` is given,
// every SyncRead result is also stored there (a box's `lastResult`).
class BoxFieldReader {
 public:
  BoxFieldReader(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining, HRESULT* lastResult = nullptr)
      : source_(source), position_(position), remaining_(remaining), lastResult_(lastResult) {}

  HRESULT U8(BYTE* value);
  HRESULT U16(WORD* value);
  HRESULT U24(DWORD* value);
  HRESULT U32(DWORD* value);
  // The first four bytes are the high word.
  HRESULT U64(ULONGLONG* value);
  // The full boxes whose version 1 widens a field: 64 bits for version 1,
  // else 32.
  HRESULT VersionedU64(BYTE version, ULONGLONG* value);
  HRESULT I32(LONG* value);
  HRESULT I64(LONGLONG* value);
  // `count` raw bytes as they stand in the file.
  HRESULT Bytes(void* out, LONG count);

  // Steps over `count` bytes without reading them, with the same bound.
  HRESULT Skip(LONGLONG count);
  // Steps over whatever remains (nothing when remaining is not above 0).
  void SkipRest();

  // True when `count` more bytes fit in what remains.
  bool Fits(LONGLONG count) const { return *remaining_ >= 0 && *remaining_ >= count; }
  LONGLONG Remaining() const { return *remaining_; }
  LONGLONG Position() const { return *position_; }

 private:
  HRESULT Read(BYTE* out, LONG count);

  IAsyncReader* source_;
  LONGLONG* position_;
  LONGLONG* remaining_;
  HRESULT* lastResult_;
};
