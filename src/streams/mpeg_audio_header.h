// The format block of MPEG audio (layers I to III) carried in an "mp4a"
// entry, built from the first frame header of the track: MPEG1WAVEFORMAT
// for layers I and II, MPEGLAYER3WAVEFORMAT for layer III.
#pragma once

#include "platform/format_blocks.h"
#include "platform/hresult.h"

#include <cstddef>

inline constexpr size_t kMpegAudioHeaderSize = 4;

struct MpegAudioFormat {
  union {
    WAVEFORMATEX wfx;
    MPEG1WAVEFORMAT mpeg1;
    MPEGLAYER3WAVEFORMAT layer3;
  };
  // The size of the structure in use (40 or 30 bytes).
  ULONG size;

  const BYTE* Bytes() const { return reinterpret_cast<const BYTE*>(&wfx); }
};

// Builds the format block from the first `size` bytes of a frame header
// (bytes past the fourth are ignored, missing ones read as zero bits).
// MPEG-2 and MPEG-2.5 (ID bit 0) use their own bit-rate and sample-rate
// tables and the half-size layer III frame. E_FAIL when fewer than the 12
// sync bits are given, the layer field is 0 or the version is the reserved
// one; `format` is zeroed whatever the result.
HRESULT ParseMpegAudioHeader(const BYTE* data, size_t size, MpegAudioFormat* format);
