// A most-significant-bit-first reader over a byte range, for the small
// headers that are parsed bit by bit (the MPEG-4 visual object layer, the
// AAC AudioSpecificConfig, MPEG audio frame headers). Unlike the RBSP reader
// it sees the bytes as they are. A read that asks for more bits than are left
// consumes nothing and fails, so callers can stop at the first shortfall.
// Not thread-safe: one owner.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>

class CBitReader {
 public:
  // The bytes are not copied; they must outlive the reader.
  CBitReader(const BYTE* data, size_t size) : data_(data), bitsTotal_(data ? size * 8 : 0) {}

  // 0 to 32 bits into *value; false (and nothing consumed) when fewer are left.
  bool Read(int count, DWORD* value);
  bool ReadFlag(bool* value);
  // false (and nothing consumed) when fewer than `count` bits are left.
  bool Skip(size_t count);

  size_t BitsLeft() const { return bitsTotal_ - bitPosition_; }

 private:
  const BYTE* data_;
  size_t bitsTotal_;
  size_t bitPosition_ = 0;
};
