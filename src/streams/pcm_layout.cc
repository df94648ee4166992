#include "streams/pcm_layout.h"

#include "platform/fourcc.h"
#include "streams/audio_sample_entry.h"

#include <algorithm>

namespace {

// Version 2 format-specific flags.
constexpr DWORD kLpcmIsFloat = 0x1;
constexpr DWORD kLpcmIsBigEndian = 0x2;
constexpr DWORD kLpcmIsSigned = 0x4;

constexpr WORD kBitsPerByte = 8;

PcmByteOp ReverseOp(WORD bytes) {
  return bytes == 2 || bytes == 3 || bytes == 4 || bytes == 8 ? static_cast<PcmByteOp>(bytes) : PcmByteOp::kNone;
}

// A whole number of bytes that a PCM or float type can describe.
PcmLayout Layout(WORD bits, bool isFloat, bool bigEndian, bool signed8) {
  PcmLayout layout;
  if (bits == 0 || bits % kBitsPerByte != 0) return layout;
  const WORD bytes = bits / kBitsPerByte;
  if (isFloat ? (bytes != 4 && bytes != 8) : bytes > 4) return layout;
  layout.bytesPerChannel = bytes;
  layout.isFloat = isFloat;
  if (bytes == 1) {
    layout.delivery = signed8 ? PcmByteOp::kBiasSigned8 : PcmByteOp::kNone;
  } else if (bigEndian) {
    layout.delivery = ReverseOp(bytes);
  }
  return layout;
}

// "lpcm" keeps its depth in constBitsPerChannel (`sampleSize`) and its
// kind in the flags; the bytes per packet must hold exactly the packed
// samples of every channel.
PcmLayout LpcmLayout(const AudioSampleEntry& entry) {
  const DWORD flags = entry.lpcmFlags;
  if (entry.channelCount == 0 || entry.bytesPerPacket != DWORD{entry.sampleSize} / kBitsPerByte * entry.channelCount) {
    return {};
  }
  return Layout(entry.sampleSize, (flags & kLpcmIsFloat) != 0, (flags & kLpcmIsBigEndian) != 0,
                (flags & kLpcmIsSigned) != 0);
}

}  // namespace

bool IsLinearPcmFormat(DWORD format) {
  static constexpr DWORD kFormats[] = {FourCC("twos"), FourCC("sowt"), FourCC("raw "), FourCC("lpcm"),
                                       FourCC("in24"), FourCC("in32"), FourCC("fl32"), FourCC("fl64")};
  return std::find(std::begin(kFormats), std::end(kFormats), format) != std::end(kFormats);
}

PcmLayout LinearPcmLayout(const AudioSampleEntry& entry) {
  const DWORD format = entry.Format();
  const WORD bits = entry.sampleSize;
  // "twos" and "sowt" are signed at every depth, so their 8-bit samples
  // need the bias that twos' 16-bit ones never did.
  if (format == FourCC("twos")) return Layout(bits, false, true, true);
  if (format == FourCC("sowt")) return Layout(bits, false, false, true);
  // "raw " is unsigned at 8 bits and big-endian at 16, as old QuickTime
  // wrote it; no other depth of it is known.
  if (format == FourCC("raw ")) return bits == 8 || bits == 16 ? Layout(bits, false, true, false) : PcmLayout{};
  if (format == FourCC("lpcm")) return LpcmLayout(entry);
  // The fixed-depth formats have their depth whatever the entry declares,
  // and are big-endian unless "enda" says otherwise.
  const bool bigEndian = !entry.littleEndian;
  if (format == FourCC("in24")) return Layout(24, false, bigEndian, true);
  if (format == FourCC("in32")) return Layout(32, false, bigEndian, true);
  if (format == FourCC("fl32")) return Layout(32, true, bigEndian, false);
  if (format == FourCC("fl64")) return Layout(64, true, bigEndian, false);
  return {};
}

DWORD GroupedPcmFrameBytes(const AudioSampleEntry& entry) {
  const DWORD format = entry.Format();
  if (format == FourCC("ulaw") || format == FourCC("alaw")) return entry.channelCount;
  if (format == FourCC("lpcm")) return entry.bytesPerPacket;
  // The classic formats keep the frame their depth gives, as they always
  // did, even where no PCM type describes it.
  if (format == FourCC("twos") || format == FourCC("sowt") || format == FourCC("raw ")) {
    return DWORD{static_cast<WORD>(entry.sampleSize / kBitsPerByte)} * entry.channelCount;
  }
  return DWORD{LinearPcmLayout(entry).bytesPerChannel} * entry.channelCount;
}

void ApplyPcmByteOp(PcmByteOp op, BYTE* data, LONG length) {
  if (data == nullptr || length <= 0 || op == PcmByteOp::kNone) return;
  if (op == PcmByteOp::kBiasSigned8) {
    for (LONG i = 0; i < length; ++i) data[i] = static_cast<BYTE>(data[i] + 0x80);
    return;
  }
  const LONG width = static_cast<LONG>(op);
  for (LONG i = 0; i + width <= length; i += width) std::reverse(data + i, data + i + width);
}
