#include "streams/audio_sample_entry.h"

#include "platform/fourcc.h"
#include "streams/audio_media_type.h"
#include "streams/pcm_layout.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// Revision level and vendor after the version.
constexpr LONGLONG kRevisionAndVendorBytes = 6;
// Compression ID and packet size (version 0 and 1).
constexpr LONGLONG kCompressionAndPacketBytes = 4;
// Samples per packet, bytes per packet, bytes per frame, bytes per sample.
constexpr LONGLONG kVersion1ExtraBytes = 16;
// Version 2: the word before the always-16 sample size field.
constexpr LONGLONG kVersion2BytesBeforeSampleSize = 2;
// Version 2: the words between the sample size and the 64-bit rate.
constexpr LONGLONG kVersion2BytesBeforeRate = 12;
// Version 2: the always-0x7F000000 word after the channel count.
constexpr LONGLONG kVersion2BytesBeforeBits = 4;
constexpr double kRateLimit = 4294967296.0;

// The integer part of a version 2 rate. A rate that is not a number or does
// not fit 32 bits unsigned has no meaningful integer part; it is kept as 0.
DWORD IntegerRate(double rate) {
  if (!std::isfinite(rate) || rate < 0.0 || rate >= kRateLimit) return 0;
  return static_cast<DWORD>(rate);
}

}  // namespace

AudioSampleEntry::AudioSampleEntry(const Box& entryHeader, trakBox* owner)
    : SampleEntry(entryHeader, owner, kSampleEntryAudio) {}

HRESULT AudioSampleEntry::ReadFixedFields(IAsyncReader* reader, LONGLONG* position, LONGLONG* remaining) {
  RETURN_IF_FAILED(SampleEntry::ReadFixedFields(reader, position, remaining));
  BoxFieldReader fields = Fields(reader, position);
  RETURN_IF_FAILED(fields.U16(&soundVersion));
  RETURN_IF_FAILED(fields.Skip(kRevisionAndVendorBytes));
  switch (soundVersion) {
    case 0:
    case 1:
      return ReadSoundDescriptionV0V1(fields);
    case 2:
      return ReadSoundDescriptionV2(fields);
    default:
      // An unknown layout: what follows is left to the child walk, which
      // finds no boxes in it unless the writer put them there.
      return S_OK;
  }
}

HRESULT AudioSampleEntry::ReadSoundDescriptionV0V1(BoxFieldReader& fields) {
  RETURN_IF_FAILED(fields.U16(&channelCount));
  RETURN_IF_FAILED(fields.U16(&sampleSize));
  RETURN_IF_FAILED(fields.Skip(kCompressionAndPacketBytes));
  DWORD fixedRate = 0;
  RETURN_IF_FAILED(fields.U32(&fixedRate));
  sampleRate = fixedRate >> 16;
  if (soundVersion == 1) return fields.Skip(kVersion1ExtraBytes);
  return S_OK;
}

HRESULT AudioSampleEntry::ReadSoundDescriptionV2(BoxFieldReader& fields) {
  RETURN_IF_FAILED(fields.Skip(kVersion2BytesBeforeSampleSize));
  RETURN_IF_FAILED(fields.U16(&sampleSize));
  RETURN_IF_FAILED(fields.Skip(kVersion2BytesBeforeRate));
  ULONGLONG rateBits = 0;
  RETURN_IF_FAILED(fields.U64(&rateBits));
  sampleRate = IntegerRate(std::bit_cast<double>(rateBits));
  DWORD channels = 0;
  RETURN_IF_FAILED(fields.U32(&channels));
  channelCount = static_cast<WORD>(channels & 0xFFFF);
  RETURN_IF_FAILED(fields.Skip(kVersion2BytesBeforeBits));
  // The field read above always says 16; the real depth and the sample
  // kind follow here, and without them "lpcm" plays as noise.
  DWORD bitsPerChannel = 0;
  RETURN_IF_FAILED(fields.U32(&bitsPerChannel));
  sampleSize = static_cast<WORD>(std::min<DWORD>(bitsPerChannel, 0xFFFF));
  RETURN_IF_FAILED(fields.U32(&lpcmFlags));
  RETURN_IF_FAILED(fields.U32(&bytesPerPacket));
  DWORD framesPerPacket = 0;
  return fields.U32(&framesPerPacket);
}

HRESULT AudioSampleEntry::ParseChildren(const BYTE* data, LONGLONG size) {
  return WalkChildBoxes(data, size, [this](const Box& child, const BYTE* childData, LONGLONG childSize) {
    if (child.type != FourCC("wave")) return DispatchChild(child, childData, childSize);
    const HRESULT hr =
        WalkChildBoxes(childData, childSize, [this](const Box& inner, const BYTE* innerData, LONGLONG innerSize) {
          // "enda" 1 turns the big-endian-by-name formats ("in24" ...)
          // little-endian.
          if (inner.type == FourCC("enda") && innerSize >= 2) littleEndian = (innerData[1] & 1) != 0;
          return DispatchChild(inner, innerData, innerSize);
        });
    // The codec configuration of a QuickTime entry lives in "wave"; what
    // follows it is not looked at.
    return hr == S_OK ? S_FALSE : hr;
  });
}

DWORD AudioSampleEntry::PcmFrameBytes() const { return GroupedPcmFrameBytes(*this); }

HRESULT AudioSampleEntry::GetMediaType(int index, CMediaType* mediaType, IAsyncReader*) {
  return GetAudioMediaType(*this, index, mediaType);
}
