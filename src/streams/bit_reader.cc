#include "streams/bit_reader.h"

namespace {
constexpr int kMaxBitsPerRead = 32;
}  // namespace

bool CBitReader::Read(int count, DWORD* value) {
  if (count < 0 || count > kMaxBitsPerRead || static_cast<size_t>(count) > BitsLeft()) return false;
  DWORD result = 0;
  for (int i = 0; i < count; ++i) {
    const BYTE byte = data_[bitPosition_ >> 3];
    const int shift = 7 - static_cast<int>(bitPosition_ & 7);
    result = (result << 1) | ((byte >> shift) & 1u);
    ++bitPosition_;
  }
  *value = result;
  return true;
}

bool CBitReader::ReadFlag(bool* value) {
  DWORD bit = 0;
  if (!Read(1, &bit)) return false;
  *value = bit != 0;
  return true;
}

bool CBitReader::Skip(size_t count) {
  if (count > BitsLeft()) return false;
  bitPosition_ += count;
  return true;
}
