// Box and FullBox: the header and payload readers every box class derives
// from. A box is read with the caller's (position, remaining) counters as
// described in container/field_reader.h; after the header, `size` is the
// payload still to be consumed, and readers of payload fields reduce it.
#pragma once

#include "container/field_reader.h"
#include "platform/async_reader.h"
#include "platform/fourcc.h"

inline constexpr DWORD kUuidBoxType = FourCC("uuid");
// The narrowest a box header can be: 32-bit size and type.
inline constexpr LONGLONG kBoxHeaderSize = 8;

class Box {
 public:
  Box() = default;
  // Makes a specific box from a header read into a plain one: the header
  // fields are copied, `header`'s payload buffer is taken over (its pointer
  // becomes null) and the copy's `dataSize` is 0.
  explicit Box(Box& header);
  Box(const Box&) = delete;
  Box& operator=(const Box&) = delete;
  virtual ~Box();

  // The header at *position: 32-bit size and type, the 64-bit size when the
  // size is 1, the extended type of a "uuid" box. A declared size of 0 sets
  // `extendsToEnd` and the caller's remaining to 0. A declared size smaller
  // than the header it sits in is STG_E_INVALIDHEADER.
  virtual HRESULT ReadHeader(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining);
  // The same header from memory. On success the cursor is past the header and
  // remaining reduced by it; the payload must fit in what remains. On failure
  // neither counter moves. A size-0 box is refused: memory has no known end.
  virtual HRESULT ReadHeaderFromMemory(const BYTE** cursor, LONGLONG* remaining);
  // Steps the cursor over the payload of a header read from memory.
  virtual HRESULT ParseFromMemory(const BYTE** cursor, LONGLONG* remaining);
  // Reads the payload into `data`. `remaining` may be null. A box that
  // extends to the end reads up to the source's Length, or, when the source
  // has no usable Length, in chunks until the source runs dry.
  virtual HRESULT ReadBody(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining);

  // Steps over the payload without reading it. A box that extends to the end
  // leaves position alone and uses up remaining.
  HRESULT Skip(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining);

  // Reads this box's payload fields: bounded by `size`, which each field
  // reduces, with every SyncRead result kept in `lastResult`.
  BoxFieldReader Fields(IAsyncReader* source, LONGLONG* position) {
    return BoxFieldReader(source, position, &size, &lastResult);
  }

  void FreeData();

  // After ReadHeader: the payload size still to be consumed.
  LONGLONG size = 0;
  // Payload read by ReadBody, owned (malloc'd).
  BYTE* data = nullptr;
  LONGLONG dataSize = 0;
  // File-order four-character code.
  DWORD type = 0;
  BYTE userType[16] = {};
  BOOL extendsToEnd = FALSE;
  // The last SyncRead result of a header or field read of this box.
  HRESULT lastResult = S_OK;

 private:
  HRESULT ReadKnownPayload(IAsyncReader* source, LONGLONG* position, LONGLONG payload);
  HRESULT ReadPayloadInChunks(IAsyncReader* source, LONGLONG* position);
};

class FullBox : public Box {
 public:
  FullBox() = default;
  explicit FullBox(Box& header) : Box(header) {}

  // Header, then version and flags.
  HRESULT ReadHeader(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining) override;
  HRESULT ReadHeaderFromMemory(const BYTE** cursor, LONGLONG* remaining) override;

  // The 4 bytes after a header: VFW_E_INVALID_FILE_FORMAT when the payload is
  // shorter than 4 bytes, else `size` loses 4 and the bytes are read against
  // remaining.
  HRESULT ReadVersionAndFlags(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining);
  // The same from memory; `size` is left as it is.
  HRESULT ReadVersionAndFlagsFromMemory(const BYTE** cursor, LONGLONG* remaining);

  // The 8-bit version.
  DWORD version = 0;
  // The 24-bit flags; the top byte is 0.
  DWORD flags = 0;
};

// The first step of every child handler: the child must fit in what its
// container has left (VFW_E_INVALID_FILE_FORMAT otherwise) and is then taken
// out of it. A child that extends to the end takes everything.
HRESULT ClaimChild(LONGLONG* containerRemaining, const Box& child);
