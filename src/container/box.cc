#include "container/box.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr LONGLONG kLargeSizeBytes = 8;
constexpr LONGLONG kUserTypeBytes = 16;
constexpr LONGLONG kVersionAndFlagsBytes = 4;
// Payload buffers are addressed with SyncRead's signed 32-bit length.
constexpr LONGLONG kMaxPayloadBytes = INT32_MAX;
constexpr LONG kChunkReadSize = 2048;
constexpr LONGLONG kChunkGrowth = 16384;

}  // namespace

Box::Box(Box& header)
    : size(header.size),
      data(header.data),
      dataSize(0),
      type(header.type),
      extendsToEnd(header.extendsToEnd) {
  std::memcpy(userType, header.userType, sizeof userType);
  header.data = nullptr;
  header.dataSize = 0;
}

Box::~Box() { FreeData(); }

void Box::FreeData() {
  std::free(data);
  data = nullptr;
  dataSize = 0;
}

HRESULT Box::ReadHeader(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining) {
  extendsToEnd = FALSE;
  BoxFieldReader fields(source, position, remaining, &lastResult);
  DWORD declared = 0;
  RETURN_IF_FAILED(fields.U32(&declared));
  RETURN_IF_FAILED(fields.U32(&type));
  ULONGLONG boxSize = declared;
  LONGLONG headerBytes = kBoxHeaderSize;
  if (declared == 1) {
    RETURN_IF_FAILED(fields.U64(&boxSize));
    headerBytes += kLargeSizeBytes;
  }
  if (type == kUuidBoxType) {
    RETURN_IF_FAILED(fields.Bytes(userType, sizeof userType));
    headerBytes += kUserTypeBytes;
  }
  // The extended type is read before a size of 0 uses up remaining, so that a
  // "uuid" box running to the end of the file still has a whole header.
  if (declared == 0) {
    extendsToEnd = TRUE;
    *remaining = 0;
    size = -headerBytes;
    return S_OK;
  }
  // A size that does not even cover its own header would make the payload
  // negative and a Skip step backwards: the walk could never end.
  if (boxSize < static_cast<ULONGLONG>(headerBytes) || boxSize > static_cast<ULONGLONG>(INT64_MAX)) {
    size = 0;
    return STG_E_INVALIDHEADER;
  }
  size = static_cast<LONGLONG>(boxSize) - headerBytes;
  return S_OK;
}

HRESULT Box::ReadHeaderFromMemory(const BYTE** cursor, LONGLONG* remaining) {
  extendsToEnd = FALSE;
  const BYTE* at = *cursor;
  LONGLONG left = *remaining;
  auto take = [&](LONGLONG count) -> const BYTE* {
    if (left < 0 || left < count) return nullptr;
    const BYTE* field = at;
    at += count;
    left -= count;
    return field;
  };
  const BYTE* field = take(kBoxHeaderSize);
  if (field == nullptr) return STG_E_INVALIDHEADER;
  ULONGLONG boxSize = LoadBigEndian32(field);
  type = LoadBigEndian32(field + 4);
  LONGLONG headerBytes = kBoxHeaderSize;
  if (boxSize == 0) {
    extendsToEnd = TRUE;
    return STG_E_INVALIDHEADER;
  }
  if (boxSize == 1) {
    field = take(kLargeSizeBytes);
    if (field == nullptr) return STG_E_INVALIDHEADER;
    boxSize = LoadBigEndian64(field);
    headerBytes += kLargeSizeBytes;
  }
  if (type == kUuidBoxType) {
    field = take(kUserTypeBytes);
    if (field == nullptr) return STG_E_INVALIDHEADER;
    std::memcpy(userType, field, sizeof userType);
    headerBytes += kUserTypeBytes;
  }
  if (boxSize < static_cast<ULONGLONG>(headerBytes) ||
      boxSize - static_cast<ULONGLONG>(headerBytes) > static_cast<ULONGLONG>(left)) {
    return STG_E_INVALIDHEADER;
  }
  size = static_cast<LONGLONG>(boxSize) - headerBytes;
  *cursor = at;
  *remaining = left;
  return S_OK;
}

HRESULT Box::ParseFromMemory(const BYTE** cursor, LONGLONG* remaining) {
  // "Size 0" is the declared size: such a box owns the rest. An empty payload
  // (declared size equal to the header) is stepped over like any other, so
  // that an empty child does not end its parent's walk.
  if (extendsToEnd) {
    *remaining = 0;
    return S_OK;
  }
  if (size < 0 || size > *remaining) return STG_E_INVALIDHEADER;
  *cursor += size;
  *remaining -= size;
  return S_OK;
}

HRESULT Box::Skip(IAsyncReader*, LONGLONG* position, LONGLONG* remaining) {
  if (extendsToEnd) {
    *remaining = 0;
    return S_OK;
  }
  // A box that overruns its container is cut at the container's end: the
  // caller's walk ends there instead of resuming at an offset past it, and
  // position + remaining (the container's end) never overflows.
  const LONGLONG step = std::clamp<LONGLONG>(size, 0, std::max<LONGLONG>(*remaining, 0));
  *position += step;
  *remaining -= step;
  return S_OK;
}

HRESULT Box::ReadBody(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining) {
  FreeData();
  LONGLONG total = 0;
  LONGLONG available = 0;
  const bool lengthKnown = SUCCEEDED(source->Length(&total, &available)) && total >= 0;
  // "Size 0" here means a declared size of 0 (the payload size after the
  // header is then negative); a box with an empty payload reads nothing.
  if (extendsToEnd) {
    if (remaining != nullptr) *remaining = 0;
    if (lengthKnown && *position <= total) return ReadKnownPayload(source, position, total - *position);
    return ReadPayloadInChunks(source, position);
  }
  if (size < 0) return STG_E_INVALIDHEADER;
  if (remaining != nullptr) {
    if (size > *remaining) return VFW_E_INVALID_FILE_FORMAT;
    *remaining -= size;
  }
  // A payload that runs past the end of the source cannot be read whole; it
  // is refused before a buffer is sized by an untrusted count, with the
  // result a short read gives.
  if (lengthKnown && size > total - std::min(*position, total)) {
    lastResult = S_FALSE;
    return S_FALSE;
  }
  return ReadKnownPayload(source, position, size);
}

HRESULT Box::ReadKnownPayload(IAsyncReader* source, LONGLONG* position, LONGLONG payload) {
  if (payload > kMaxPayloadBytes) return E_OUTOFMEMORY;
  if (payload == 0) return S_OK;
  data = static_cast<BYTE*>(std::malloc(static_cast<size_t>(payload)));
  if (data == nullptr) return E_OUTOFMEMORY;
  dataSize = payload;
  lastResult = source->SyncRead(*position, static_cast<LONG>(payload), data);
  if (lastResult != S_OK) return lastResult;
  *position += payload;
  return S_OK;
}

// Without a length, the end of the data is found by reading: a short read
// (S_FALSE, or the end-of-file error of a memory source) says the end lies
// inside the chunk, so the chunk is halved and tried again until a one-byte
// read comes back short. Only bytes of complete reads count, so `dataSize` is
// exactly what the source delivered; any other failure is returned.
HRESULT Box::ReadPayloadInChunks(IAsyncReader* source, LONGLONG* position) {
  LONGLONG got = 0;
  LONGLONG capacity = 0;
  LONG chunk = kChunkReadSize;
  for (;;) {
    if (got + chunk > INT64_MAX - *position) break;
    if (got + chunk > capacity) {
      const LONGLONG grown = got + kChunkGrowth;
      if (grown > kMaxPayloadBytes) {
        dataSize = got;
        return E_OUTOFMEMORY;
      }
      auto* larger = static_cast<BYTE*>(std::realloc(data, static_cast<size_t>(grown)));
      if (larger == nullptr) {
        dataSize = got;
        return E_OUTOFMEMORY;
      }
      data = larger;
      capacity = grown;
    }
    lastResult = source->SyncRead(*position + got, chunk, data + got);
    if (lastResult == S_OK) {
      got += chunk;
      continue;
    }
    if (FAILED(lastResult) && lastResult != HRESULT_HANDLE_EOF) {
      dataSize = got;
      return lastResult;
    }
    if (chunk == 1) break;
    chunk /= 2;
  }
  dataSize = got;
  *position += got;
  return S_OK;
}

HRESULT FullBox::ReadHeader(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining) {
  RETURN_IF_FAILED(Box::ReadHeader(source, position, remaining));
  return ReadVersionAndFlags(source, position, remaining);
}

HRESULT FullBox::ReadHeaderFromMemory(const BYTE** cursor, LONGLONG* remaining) {
  const BYTE* at = *cursor;
  LONGLONG left = *remaining;
  RETURN_IF_FAILED(Box::ReadHeaderFromMemory(&at, &left));
  RETURN_IF_FAILED(ReadVersionAndFlagsFromMemory(&at, &left));
  *cursor = at;
  *remaining = left;
  return S_OK;
}

HRESULT FullBox::ReadVersionAndFlags(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining) {
  if (size < kVersionAndFlagsBytes) return VFW_E_INVALID_FILE_FORMAT;
  size -= kVersionAndFlagsBytes;
  BYTE bytes[kVersionAndFlagsBytes];
  RETURN_IF_FAILED(BoxFieldReader(source, position, remaining, &lastResult).Bytes(bytes, sizeof bytes));
  version = bytes[0];
  flags = LoadBigEndian24(bytes + 1);
  return S_OK;
}

HRESULT FullBox::ReadVersionAndFlagsFromMemory(const BYTE** cursor, LONGLONG* remaining) {
  if (*remaining < kVersionAndFlagsBytes) return STG_E_INVALIDHEADER;
  version = (*cursor)[0];
  flags = LoadBigEndian24(*cursor + 1);
  *cursor += kVersionAndFlagsBytes;
  *remaining -= kVersionAndFlagsBytes;
  return S_OK;
}

HRESULT ClaimChild(LONGLONG* containerRemaining, const Box& child) {
  if (child.extendsToEnd) {
    *containerRemaining = 0;
    return S_OK;
  }
  if (child.size < 0) return STG_E_INVALIDHEADER;
  if (child.size > *containerRemaining) return VFW_E_INVALID_FILE_FORMAT;
  *containerRemaining -= child.size;
  return S_OK;
}
