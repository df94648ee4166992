#include "streams/rbsp_bit_reader.h"

namespace {
constexpr int kMaxExpGolombLeadingZeros = 31;
}  // namespace

CRbspBitReader::CRbspBitReader(const BYTE* data, size_t size)
    : data_(data), size_(data ? size : 0) {}

void CRbspBitReader::LoadNextByte() {
  bitsLeft_ = 8;
  while (position_ < size_) {
    const BYTE byte = data_[position_++];
    if (zeroRun_ >= 2 && byte == 0x03) {
      zeroRun_ = 0;
      continue;
    }
    zeroRun_ = byte == 0 ? zeroRun_ + 1 : 0;
    current_ = byte;
    return;
  }
  ranPastEnd_ = true;
  current_ = 0;
}

uint32_t CRbspBitReader::ReadBit() {
  if (bitsLeft_ == 0) LoadNextByte();
  --bitsLeft_;
  return (current_ >> bitsLeft_) & 1;
}

uint32_t CRbspBitReader::ReadBits(int count) {
  uint32_t value = 0;
  for (int i = 0; i < count && i < 32; ++i) value = (value << 1) | ReadBit();
  return value;
}

void CRbspBitReader::SkipBits(uint32_t count) {
  while (count > 0) {
    if (bitsLeft_ == 0) {
      // Whole bytes past the end need not be walked one by one.
      if (position_ >= size_ && count >= 8) {
        ranPastEnd_ = true;
        return;
      }
      LoadNextByte();
    }
    const uint32_t step = count < static_cast<uint32_t>(bitsLeft_) ? count : bitsLeft_;
    bitsLeft_ -= static_cast<int>(step);
    count -= step;
  }
}

HRESULT CRbspBitReader::ReadUe(uint32_t* value) {
  int leadingZeros = 0;
  while (ReadBit() == 0) {
    if (++leadingZeros > kMaxExpGolombLeadingZeros) return kMalformedBitstream;
  }
  const uint64_t prefix = (uint64_t{1} << leadingZeros) - 1;
  *value = static_cast<uint32_t>(prefix + ReadBits(leadingZeros));
  return S_OK;
}

HRESULT CRbspBitReader::ReadSe(int32_t* value) {
  uint32_t code = 0;
  RETURN_ON_FAILURE(ReadUe(&code));
  // code is at most 2^32 - 2, so both halves fit a signed 32-bit value.
  *value = (code & 1) ? static_cast<int32_t>((uint64_t{code} + 1) / 2)
                      : -static_cast<int32_t>(code / 2);
  return S_OK;
}

HRESULT CRbspBitReader::ReadUeMax(uint32_t max, uint32_t* value) {
  RETURN_ON_FAILURE(ReadUe(value));
  return *value <= max ? S_OK : kMalformedBitstream;
}

HRESULT CRbspBitReader::ReadSeRange(int32_t min, int32_t max, int32_t* value) {
  RETURN_ON_FAILURE(ReadSe(value));
  return (*value >= min && *value <= max) ? S_OK : kMalformedBitstream;
}
