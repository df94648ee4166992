#include "streams/start_codes.h"

namespace {
constexpr size_t kStartCodeLength = 3;
constexpr size_t kLengthPrefixSize = 4;
}  // namespace

const BYTE* FindStartCode(const BYTE* data, size_t size) {
  if (!data || size < kStartCodeLength + 1) return nullptr;
  // The value byte at i + 3 must have one more byte after it.
  for (size_t i = 0; i + kStartCodeLength + 1 < size; ++i) {
    if (data[i + 2] > 1) {
      // Neither of the next two positions can start a code ending before here.
      i += 2;
      continue;
    }
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return data + i + kStartCodeLength;
  }
  return nullptr;
}

size_t LengthPrefixedToStartCodes(BYTE* sample, size_t size) {
  if (!sample) return 0;
  size_t rewritten = 0;
  size_t position = 0;
  while (size - position >= kLengthPrefixSize) {
    const uint64_t unitLength = (uint64_t{sample[position]} << 24) | (uint64_t{sample[position + 1]} << 16) |
                                (uint64_t{sample[position + 2]} << 8) | sample[position + 3];
    sample[position] = 0;
    sample[position + 1] = 0;
    sample[position + 2] = 0;
    sample[position + 3] = 1;
    ++rewritten;
    const uint64_t next = uint64_t{position} + kLengthPrefixSize + unitLength;
    if (next >= size) break;
    position = static_cast<size_t>(next);
  }
  return rewritten;
}
