// cmovBox: a compressed movie header. "dcom" names the compressor and
// "cmvd" holds the compressed movie box; the expanded bytes are kept in a
// memory byte source so that the very same parser reads them.
#pragma once

#include "container/box.h"
#include "container/read_from_buffer.h"
#include "platform/fourcc.h"

inline constexpr DWORD kZlibCompressor = FourCC("zlib");

class cmovBox : public Box {
 public:
  explicit cmovBox(Box& header);
  ~cmovBox() override;

  // Inflates a zlib-wrapped stream into exactly `expandedSize` bytes of the
  // expanded buffer. Succeeds when the stream ends or the output is full;
  // a stream that is corrupt or runs out first is E_INVALIDARG, as is an
  // expanded size that the compressed bytes could never produce.
  HRESULT Expand(const BYTE* compressed, LONG compressedSize, DWORD expandedSize);

  // The expanded bytes as a byte source (no reference added; valid while
  // this box lives, and longer for whoever AddRefs it).
  IAsyncReader* ExpandedReader() const { return expanded_; }

  // From "dcom"; 0 until one is read.
  DWORD compressor = 0;

 private:
  // Reference counted on its own: tracks parsed from it may hold it.
  CReadFromBuffer* expanded_;
};
