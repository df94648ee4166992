// The MPEG-4 visual video object layer (VOL) header inside an "mp4v" entry's
// decoder configuration: the source of the picture size and the pixel aspect
// ratio when the sample entry's own fields are not to be trusted.
#pragma once

#include "platform/hresult.h"
#include "platform/wintypes.h"

#include <cstddef>

// The header ended before its last field: what was read before stays set.
inline constexpr HRESULT kVideoObjectLayerIncomplete = 3;

// The entry fields the header may change. The parse updates them in place
// as it goes, so an early stop leaves the earlier ones changed.
struct VideoObjectLayerFields {
  WORD width = 0;
  WORD height = 0;
  BYTE hasPixelAspect = 0;
  DWORD pixelAspectH = 1;
  DWORD pixelAspectV = 1;
};

// Parses the header that follows the VOL start code's value byte.
// S_OK when width and height were read; kVideoObjectLayerIncomplete when the
// bits ran out; E_FAIL for a non-rectangular shape, a zero
// vop_time_increment_resolution or a zero fixed increment.
HRESULT ParseVideoObjectLayerHeader(const BYTE* data, size_t size, VideoObjectLayerFields* fields);

// Finds the first start code 00 00 01 xx with xx in 0x20 ... 0x2F and parses
// the header after it over the rest of `data`. False when there is none (the
// scan also gives up at a start code with fewer than 5 bytes after its
// 00 00 01); otherwise true with the parse result in *result.
bool ParseFirstVideoObjectLayer(const BYTE* data, size_t size, VideoObjectLayerFields* fields, HRESULT* result);
