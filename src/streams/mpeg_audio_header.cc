#include "streams/mpeg_audio_header.h"

#include "streams/bit_reader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kSyncBits = 12;
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
constexpr DWORD kBitsPerKilobit = 1000;

// By the 2-bit sampling frequency code; code 3 is reserved and gives 0.
constexpr DWORD kMpeg1Rates[4] = {44100, 48000, 32000, 0};
constexpr DWORD kMpeg2Rates[4] = {22050, 24000, 16000, 0};

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
// (bitrate × 12 / rate) slots of 4 bytes for layer I.
constexpr DWORD kFrameBytesFactor = 144;
constexpr DWORD kLayerOneSlotsFactor = 12;
constexpr DWORD kLayerOneSlotBytes = 4;

struct FrameHeader {
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

DWORD FrameBytes(DWORD bitRate, DWORD rate, DWORD layerField) {
  if (bitRate == 0 || rate == 0) return 1;
  if (layerField == kLayerFieldOne) return (bitRate * kLayerOneSlotsFactor / rate) * kLayerOneSlotBytes;
  return bitRate * kFrameBytesFactor / rate;
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
  if (header.layer == 0) return E_FAIL;

  const DWORD* rates = header.layer == kLayerFieldOne   ? kLayerOneRates
                       : header.layer == kLayerFieldTwo ? kLayerTwoRates
                                                        : kLayerThreeRates;
  const DWORD bitRate = rates[header.bitrateIndex] * kBitsPerKilobit;
  const DWORD rate = header.id ? kMpeg1Rates[header.frequency] : kMpeg2Rates[header.frequency];

  WAVEFORMATEX& wfx = format->wfx;
  wfx.nChannels = header.mode == kSingleChannelMode ? 1 : 2;
  wfx.nSamplesPerSec = rate;
  wfx.nAvgBytesPerSec = bitRate / 8;
  wfx.wBitsPerSample = 0;
  wfx.nBlockAlign = static_cast<WORD>(FrameBytes(bitRate, rate, header.layer));

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
