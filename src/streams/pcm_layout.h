// How a sound entry stores uncompressed samples, and what must happen to
// them so that they mean what the PCM and IEEE float media types say:
// little-endian, and 8-bit samples unsigned.
//
// QuickTime names several layouts with one format ("twos" is 8-bit signed,
// 16- or 24-bit big-endian; "raw " 8-bit unsigned or 16-bit big-endian;
// "lpcm" says everything in its version 2 flags), so the layout is worked
// out from the format, the depth and those flags together.
#pragma once

#include "platform/wintypes.h"

class AudioSampleEntry;

// What the delivery does to each stored sample. The reversals are named
// by the sample width they reverse.
enum class PcmByteOp : BYTE {
  kNone = 0,
  // 8-bit signed to unsigned: add 0x80.
  kBiasSigned8 = 1,
  // Big-endian samples of 2, 3, 4 or 8 bytes, reversed in place.
  kReverse2 = 2,
  kReverse3 = 3,
  kReverse4 = 4,
  kReverse8 = 8,
};

struct PcmLayout {
  // Bytes of one channel's sample; 0 when the format is no linear PCM or
  // its depth is one no PCM type describes.
  WORD bytesPerChannel = 0;
  bool isFloat = false;
  PcmByteOp delivery = PcmByteOp::kNone;
};

// The linear PCM formats of the sound table: "twos", "sowt", "raw ",
// "lpcm", "in24", "in32", "fl32", "fl64".
bool IsLinearPcmFormat(DWORD format);

// The layout of `entry`; bytesPerChannel 0 for every other format.
PcmLayout LinearPcmLayout(const AudioSampleEntry& entry);

// Bytes of one frame (all channels) of the PCM-like formats whose samples
// are grouped per chunk: the linear formats and µ-law/A-law (1 byte per
// channel whatever depth the entry declares); "lpcm" its bytes per packet.
// 0 for other formats.
DWORD GroupedPcmFrameBytes(const AudioSampleEntry& entry);

// Applies `op` to the `length` bytes at `data`; a tail shorter than one
// sample is left as it is.
void ApplyPcmByteOp(PcmByteOp op, BYTE* data, LONG length);
