// The hvcC decoder configuration record of an H.265 sample entry, to and from
// a start-code stream of its NAL units.
#pragma once

#include "platform/hresult.h"
#include "platform/wintypes.h"

#include <cstddef>
#include <vector>

inline constexpr size_t kHvcCRecordHeadSize = 23;

// How BuildHvcC writes the record: wrapped in an "hvcC" box or bare, and
// whether each array says it holds every unit of its type.
enum HvcCBuildMode : int {
  kHvcCBoxIncomplete = 0,
  kHvcCRecordIncomplete = 1,
  kHvcCBoxComplete = 2,
  kHvcCRecordComplete = 3,
};

// Appends the NAL units of an hvcC record, or of the "hvcC" box found in the
// bytes, to `out`, each behind 00 00 00 01. A box whose size is below 9 or
// runs past the input gives VFW_E_INVALID_MEDIA_TYPE; a record under 23 bytes
// or a unit past its end E_FAIL. `out` is unchanged on failure.
HRESULT ConfigToStartCodes(const BYTE* config, size_t size, std::vector<BYTE>* out);

// Appends an hvcC record built from the parameter sets of a start-code stream
// to `out`: the head from the SPS, then arrays of every VPS, SPS, PPS and
// prefix SEI unit found. E_INVALIDARG when the stream does not hold a VPS, an
// SPS and a PPS that parse, or for an unknown mode.
HRESULT BuildHvcC(const BYTE* data, size_t size, std::vector<BYTE>* out, int mode);
