// Byte strings for tests: the committed files under tests/data, joined
// strings, and headers written bit field by bit field (most significant
// first), so that a case states the syntax values it is about instead of
// patching bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<uint8_t> LoadTestFile(const std::string& name) {
  std::ifstream file(std::string(ISODMX_TEST_DATA) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class BitWriter {
 public:
  BitWriter& Bits(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    return *this;
  }
  BitWriter& Flag(bool value) { return Bits(value ? 1 : 0, 1); }
  // Exp-Golomb codes.
  BitWriter& Ue(uint64_t value) {
    int length = 0;
    while (((value + 1) >> length) > 1) ++length;
    return Bits(0, length).Bits(value + 1, length + 1);
  }
  BitWriter& Se(int64_t value) { return Ue(value > 0 ? 2 * value - 1 : -2 * value); }

  // The bits, zero-padded to a whole byte.
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> bytes((bits_.size() + 7) / 8);
    for (size_t i = 0; i < bits_.size(); ++i) bytes[i / 8] |= static_cast<uint8_t>(bits_[i] << (7 - i % 8));
    return bytes;
  }
  // A raw byte sequence payload: the bits, a stop bit and alignment zeros.
  std::vector<uint8_t> Rbsp() const { return BitWriter(*this).Flag(true).Bytes(); }

 private:
  std::vector<bool> bits_;
};
