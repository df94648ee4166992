// A bit reader over the payload of one NAL unit. Emulation-prevention bytes
// (0x03 after two zero bytes) are dropped as the bytes are read, so callers see
// the raw byte sequence payload. Past the end it yields zero bits rather than
// failing; RanPastEnd() says whether that happened. Not thread-safe: one owner.
#pragma once

#include "platform/hresult.h"
#include "platform/wintypes.h"

#include <cstddef>

// What a bitstream that breaks its syntax or value ranges gives.
inline constexpr HRESULT kMalformedBitstream = E_FAIL;

// Carries a failed HRESULT up to the caller.
#define RETURN_ON_FAILURE(expr)                 \
  do {                                          \
    const HRESULT returnOnFailureHr_ = (expr);  \
    if (FAILED(returnOnFailureHr_)) return returnOnFailureHr_; \
  } while (0)

class CRbspBitReader {
 public:
  // The bytes are not copied; they must outlive the reader.
  CRbspBitReader(const BYTE* data, size_t size);

  // 0 to 32 bits, most significant first.
  uint32_t ReadBits(int count);
  bool ReadFlag() { return ReadBit() != 0; }
  void SkipBits(uint32_t count);

  // Exp-Golomb codes; more than 31 leading zeros is kMalformedBitstream, so a
  // run of zeros (or the zeros past the end) never loops for long.
  HRESULT ReadUe(uint32_t* value);
  HRESULT ReadSe(int32_t* value);

  // ue(v) / se(v) that must lie in [min, max], else kMalformedBitstream.
  HRESULT ReadUeMax(uint32_t max, uint32_t* value);
  HRESULT ReadSeRange(int32_t min, int32_t max, int32_t* value);

  bool RanPastEnd() const { return ranPastEnd_; }

 private:
  uint32_t ReadBit();
  void LoadNextByte();

  const BYTE* data_;
  size_t size_;
  size_t position_ = 0;     // next byte of data_ to load
  int zeroRun_ = 0;         // zero bytes just loaded, for emulation prevention
  uint32_t current_ = 0;    // the byte being read
  int bitsLeft_ = 0;        // unread bits of current_
  bool ranPastEnd_ = false;
};
