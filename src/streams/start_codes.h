// Start-code scanning and the conversion of length-prefixed NAL units (as an
// MP4 sample stores them) into a start-code stream. Shared by the H.265 mini
// parser and the MPEG start-code scans.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>

// The first 00 00 01 whose value byte lies inside [data, data + size) and is
// followed by at least one more byte; returns the address of the value byte
// (the NAL unit header), or null. Sizes below 4 find nothing.
const BYTE* FindStartCode(const BYTE* data, size_t size);
inline BYTE* FindStartCode(BYTE* data, size_t size) {
  return const_cast<BYTE*>(FindStartCode(static_cast<const BYTE*>(data), size));
}

// Rewrites, in place, each 4-byte big-endian length prefix of a sample as
// 00 00 00 01, jumping over the unit it announces. The walk ends at the first
// length field that does not lie wholly inside the sample; nothing outside
// [sample, sample + size) is touched. Returns the number of prefixes rewritten.
size_t LengthPrefixedToStartCodes(BYTE* sample, size_t size);
