#include "container/cmov_box.h"

#include <zlib.h>

#include <cstring>
#include <new>

namespace {

// Deflate cannot do better than about 1032:1, so a declared expanded size
// beyond that (plus room for a tiny stream) is a lie that must not size an
// allocation.
constexpr ULONGLONG kMaxDeflateRatio = 1032;
constexpr ULONGLONG kExpansionSlack = 1024;

}  // namespace

cmovBox::cmovBox(Box& header) : Box(header), expanded_(new CReadFromBuffer) {}

cmovBox::~cmovBox() { expanded_->Release(); }

HRESULT cmovBox::Expand(const BYTE* compressed, LONG compressedSize, DWORD expandedSize) {
  if (compressedSize < 0) return E_INVALIDARG;
  if (expandedSize > static_cast<ULONGLONG>(compressedSize) * kMaxDeflateRatio + kExpansionSlack) {
    return E_INVALIDARG;
  }
  if (expandedSize > static_cast<DWORD>(INT32_MAX)) return E_OUTOFMEMORY;
  const LONG outputSize = static_cast<LONG>(expandedSize);
  expanded_->Empty();
  // Zeros stand behind a stream that ends before the declared size.
  if (expanded_->Assign(nullptr, outputSize) != S_OK) return E_OUTOFMEMORY;

  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  if (inflateInit(&stream) != Z_OK) return E_OUTOFMEMORY;
  stream.next_in = const_cast<Bytef*>(compressed);
  stream.avail_in = static_cast<uInt>(compressedSize);
  stream.next_out = expanded_->Data();
  stream.avail_out = static_cast<uInt>(outputSize);
  const int status = inflate(&stream, Z_FINISH);
  const bool filled = stream.avail_out == 0;
  inflateEnd(&stream);
  if (status == Z_STREAM_END || (filled && status != Z_DATA_ERROR && status != Z_MEM_ERROR && status != Z_NEED_DICT &&
                                 status != Z_STREAM_ERROR)) {
    return S_OK;
  }
  expanded_->Empty();
  return E_INVALIDARG;
}
