#include "streams/mpeg_audio_header.h"

#include "streams/bit_reader.h"

#include <algorithm>
#include <cstring>

namespace {

// Eleven sync bits, then the bit that tells MPEG-2.5 (0) from the others.
constexpr int kSyncBits = 11;
constexpr size_t kMinHeaderBytes = 2;

// The layer field codes layer I as 3 down to layer III as 1.
constexpr DWORD kLayerFieldOne = 3;
constexpr DWORD kLayerFieldTwo = 2;
constexpr DWORD kLayerFieldThree = 1;

// Bit rates in kbit/s by bitrate index 1 to 14 (0 is free format; 15 is
// forbidden and also given 0).
constexpr DWORD kLayerOneRates[16] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0};
constexpr DWORD kLayerTwoRates[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
constexpr DWORD kLayerThreeRates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
// MPEG-2 and 2.5 (ID 0) have their own, lower tables; layers II and III
// share one.
constexpr DWORD kLowRateLayerOneRates[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0};
constexpr DWORD kLowRateLayerTwoThreeRates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr DWORD kBitsPerKilobit = 1000;

// By the 2-bit sampling frequency code; code 3 is reserved and gives 0.
constexpr DWORD kMpeg1Rates[4] = {44100, 48000, 32000, 0};
constexpr DWORD kMpeg2Rates[4] = {22050, 24000, 16000, 0};
constexpr DWORD kMpeg25Rates[4] = {11025, 12000, 8000, 0};

constexpr DWORD kSingleChannelMode = 3;

constexpr WORD kMpeg1ExtraSize = sizeof(MPEG1WAVEFORMAT) - sizeof(WAVEFORMATEX);
constexpr WORD kLayer3ExtraSize = sizeof(MPEGLAYER3WAVEFORMAT) - sizeof(WAVEFORMATEX);
constexpr WORD kHeadLayerOne = 1;
constexpr WORD kHeadLayerTwo = 2;
constexpr WORD kHeadFlagPrivate = 0x01;
constexpr WORD kHeadFlagCopyright = 0x02;
constexpr WORD kHeadFlagOriginal = 0x04;
constexpr WORD kHeadFlagProtection = 0x08;
constexpr WORD kHeadFlagMpeg1 = 0x10;
constexpr WORD kLayer3IdMpeg = 1;
constexpr DWORD kLayer3PaddingOff = 2;
constexpr WORD kLayer3BlockSize = 1152;
constexpr WORD kLayer3FramesPerBlock = 1;
constexpr WORD kLayer3CodecDelay = 1393;
// Bytes per frame: bitrate × 144 / rate for layers II and III, and
// (bitrate × 12 / rate) slots of 4 bytes for layer I. A low-rate layer III
// frame holds 576 samples, half of MPEG-1's: its factor is 72.
constexpr DWORD kFrameBytesFactor = 144;
constexpr DWORD kLowRateLayerThreeFactor = 72;
constexpr DWORD kLayerOneSlotsFactor = 12;
constexpr DWORD kLayerOneSlotBytes = 4;

struct FrameHeader {
  // 0 for MPEG-2.5, else 1.
  DWORD notMpeg25 = 0;
  DWORD id = 0;
  DWORD layer = 0;
  DWORD protection = 0;
  DWORD bitrateIndex = 0;
  DWORD frequency = 0;
  DWORD padding = 0;
  DWORD privateBit = 0;
  DWORD mode = 0;
  DWORD modeExtension = 0;
  DWORD copyright = 0;
  DWORD original = 0;
  DWORD emphasis = 0;
};

void ReadFields(const BYTE (&bytes)[kMpegAudioHeaderSize], FrameHeader* header) {
  CBitReader bits(bytes, sizeof bytes);
  bits.Skip(kSyncBits);
  // The four bytes are always there; the reads cannot fall short.
  bits.Read(1, &header->notMpeg25);
  bits.Read(1, &header->id);
  bits.Read(2, &header->layer);
  bits.Read(1, &header->protection);
  bits.Read(4, &header->bitrateIndex);
  bits.Read(2, &header->frequency);
  bits.Read(1, &header->padding);
  bits.Read(1, &header->privateBit);
  bits.Read(2, &header->mode);
  bits.Read(2, &header->modeExtension);
  bits.Read(1, &header->copyright);
  bits.Read(1, &header->original);
  bits.Read(2, &header->emphasis);
}

DWORD FrameBytes(DWORD bitRate, DWORD rate, const FrameHeader& header) {
  if (bitRate == 0 || rate == 0) return 1;
  if (header.layer == kLayerFieldOne) return (bitRate * kLayerOneSlotsFactor / rate) * kLayerOneSlotBytes;
  if (header.layer == kLayerFieldThree && header.id == 0) return bitRate * kLowRateLayerThreeFactor / rate;
  return bitRate * kFrameBytesFactor / rate;
}

const DWORD* BitRateTable(const FrameHeader& header) {
  if (header.id == 0) return header.layer == kLayerFieldOne ? kLowRateLayerOneRates : kLowRateLayerTwoThreeRates;
  return header.layer == kLayerFieldOne   ? kLayerOneRates
         : header.layer == kLayerFieldTwo ? kLayerTwoRates
                                          : kLayerThreeRates;
}

const DWORD* SampleRateTable(const FrameHeader& header) {
  if (header.id) return kMpeg1Rates;
  return header.notMpeg25 ? kMpeg2Rates : kMpeg25Rates;
}

}  // namespace

HRESULT ParseMpegAudioHeader(const BYTE* data, size_t size, MpegAudioFormat* format) {
  if (!format) return E_POINTER;
  // The union's larger members must start zeroed too.
  std::memset(format, 0, sizeof *format);
  if (!data || size < kMinHeaderBytes) return E_FAIL;
  BYTE bytes[kMpegAudioHeaderSize] = {};
  std::memcpy(bytes, data, std::min(size, kMpegAudioHeaderSize));
  FrameHeader header;
  ReadFields(bytes, &header);

  // Layer 0 is reserved, and so is ID 1 under the MPEG-2.5 marker.
  if (header.layer == 0 || (header.id && !header.notMpeg25)) return E_FAIL;
  const DWORD bitRate = BitRateTable(header)[header.bitrateIndex] * kBitsPerKilobit;
  const DWORD rate = SampleRateTable(header)[header.frequency];

  WAVEFORMATEX& wfx = format->wfx;
  wfx.nChannels = header.mode == kSingleChannelMode ? 1 : 2;
  wfx.nSamplesPerSec = rate;
  wfx.nAvgBytesPerSec = bitRate / 8;
  wfx.wBitsPerSample = 0;
  wfx.nBlockAlign = static_cast<WORD>(FrameBytes(bitRate, rate, header));

  if (header.layer == kLayerFieldThree) {
    wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    wfx.cbSize = kLayer3ExtraSize;
    MPEGLAYER3WAVEFORMAT& layer3 = format->layer3;
    layer3.wID = kLayer3IdMpeg;
    layer3.fdwFlags = kLayer3PaddingOff;
    layer3.nBlockSize = kLayer3BlockSize;
    layer3.nFramesPerBlock = kLayer3FramesPerBlock;
    layer3.nCodecDelay = kLayer3CodecDelay;
    format->size = sizeof(MPEGLAYER3WAVEFORMAT);
    return S_OK;
  }

  wfx.wFormatTag = WAVE_FORMAT_MPEG;
  wfx.cbSize = kMpeg1ExtraSize;
  MPEG1WAVEFORMAT& mpeg1 = format->mpeg1;
  mpeg1.fwHeadLayer = header.layer == kLayerFieldOne ? kHeadLayerOne : kHeadLayerTwo;
  mpeg1.dwHeadBitrate = bitRate;
  mpeg1.fwHeadMode = static_cast<WORD>(1u << header.mode);
  mpeg1.fwHeadModeExt = static_cast<WORD>(1u << header.modeExtension);
  mpeg1.wHeadEmphasis = static_cast<WORD>(header.emphasis);
  WORD flags = kHeadFlagMpeg1;
  if (header.privateBit) flags |= kHeadFlagPrivate;
  if (header.copyright) flags |= kHeadFlagCopyright;
  if (header.original) flags |= kHeadFlagOriginal;
  if (header.protection) flags |= kHeadFlagProtection;
  mpeg1.fwHeadFlags = flags;
  mpeg1.dwPTSLow = 0;
  mpeg1.dwPTSHigh = 0;
  format->size = sizeof(MPEG1WAVEFORMAT);
  return S_OK;
}
