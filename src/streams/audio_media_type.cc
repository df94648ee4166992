#include "streams/audio_media_type.h"

#include "container/trak_box.h"
#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/audio_sample_entry.h"
#include "streams/audio_specific_config.h"
#include "streams/media_subtypes.h"
#include "streams/mpeg_audio_header.h"
#include "streams/pcm_layout.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr WORD kWaveTagMuLaw = 7;
constexpr WORD kWaveTagALaw = 6;
constexpr WORD kWaveTagRawAac = 0xFF;
constexpr WORD kCompandedBits = 8;
constexpr WORD kWideCompandedBits = 16;
constexpr DWORD kLargestWaveTag = 0xFFFF;
// cbSize is 16 bits; longer extra bytes are cut there so that the block
// and the count agree.
constexpr ULONG kMaxExtraSize = 0xFFFF;
constexpr size_t kAvgBytesPerSecOffset = 8;

// AMR's fixed fields are placeholders; the codec has one rate and channel.
struct AmrConstants {
  DWORD format;
  DWORD rate;
};
constexpr AmrConstants kAmrFormats[] = {
    {FourCC("samr"), 8000},
    {FourCC("sawb"), 16000},
};
constexpr WORD kAmrChannels = 1;
constexpr WORD kAmrBits = 16;

WORD LoadLittleEndian16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD LoadLittleEndian32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

// The format tag is all a stored format needs: a 16-byte WAVEFORMAT (no
// cbSize) is as usable as a whole WAVEFORMATEX once it is padded to one.
constexpr LONG kWaveFormatTagBytes = 2;

bool HasStoredWaveFormat(const AudioSampleEntry& entry) {
  return entry.codecConfig.Length() >= kWaveFormatTagBytes;
}

// The subtype of `choice`; false when it offers nothing for this entry.
bool ResolveSubtype(const AudioSampleEntry& entry, const SubtypeChoice& choice, GUID* subtype) {
  switch (choice.rule) {
    case SubtypeRule::kPrivate:
      *subtype = PrivateSubtype(entry.Format());
      return true;
    case SubtypeRule::kFixed:
      *subtype = *choice.subtype;
      return true;
    case SubtypeRule::kFourCC:
      *subtype = FourCCRuleSubtype(choice.code);
      return true;
    case SubtypeRule::kWaveTag:
      *subtype = WaveFormatTagSubtype(static_cast<WORD>(choice.code));
      return true;
    case SubtypeRule::kWaveTagFromConfig:
      // Without a whole stored WAVEFORMATEX there is no block to hand on.
      if (!HasStoredWaveFormat(entry)) return false;
      *subtype = WaveFormatTagSubtype(LoadLittleEndian16(entry.codecConfig.Data()));
      return true;
    case SubtypeRule::kNone:
    case SubtypeRule::kFormatItself:
    case SubtypeRule::kVc1:
    case SubtypeRule::kRgbByDepth:
      return false;
  }
  return false;
}

// The channel count and rate of AAC and its relatives, where the decoder
// configuration gives them, replace the entry's.
void ApplyAudioSpecificConfig(AudioSampleEntry& entry) {
  AudioSpecificConfigHead head;
  if (entry.codecConfig.Length() == 0 ||
      !ReadAudioSpecificConfigHead(entry.codecConfig.Data(), static_cast<size_t>(entry.codecConfig.Length()),
                                   &head) ||
      !ObjectTypeGivesChannelsAndRate(head.objectType)) {
    return;
  }
  if (head.channelConfiguration > 0) entry.channelCount = ChannelsOfConfiguration(head.channelConfiguration);
  entry.sampleRate = head.samplingRate;
}

void ApplyFormatConstants(AudioSampleEntry& entry, WORD formatTag) {
  if ((formatTag == kWaveTagMuLaw || formatTag == kWaveTagALaw) && entry.sampleSize == kWideCompandedBits) {
    entry.sampleSize = kCompandedBits;
  }
  for (const AmrConstants& amr : kAmrFormats) {
    if (entry.Format() == amr.format) {
      entry.sampleRate = amr.rate;
      entry.channelCount = kAmrChannels;
      entry.sampleSize = kAmrBits;
    }
  }
}

// The stored format as the block, at least a WAVEFORMATEX: what the file
// left out reads as zero (no extra bytes).
HRESULT WriteStoredWaveFormat(const AudioSampleEntry& entry, CMediaType* mediaType) {
  const ULONG stored = static_cast<ULONG>(entry.codecConfig.Length());
  const ULONG length = std::max<ULONG>(stored, sizeof(WAVEFORMATEX));
  BYTE* block = mediaType->AllocFormatBuffer(length);
  if (block == nullptr) return E_OUTOFMEMORY;
  std::memset(block, 0, length);
  std::memcpy(block, entry.codecConfig.Data(), stored);
  mediaType->bFixedSizeSamples = TRUE;
  mediaType->lSampleSize = LoadLittleEndian32(block + kAvgBytesPerSecOffset);
  return S_OK;
}

HRESULT WriteMpegAudioFormat(const AudioSampleEntry& entry, CMediaType* mediaType) {
  if (!entry.track) return E_POINTER;
  BYTE header[kMpegAudioHeaderSize] = {};
  LONGLONG length = sizeof header;
  const HRESULT hr = entry.track->ReadFirstSample(header, &length);
  if (FAILED(hr)) return hr;
  MpegAudioFormat format;
  if (FAILED(ParseMpegAudioHeader(header, static_cast<size_t>(std::max<LONGLONG>(length, 0)), &format))) {
    return E_FAIL;
  }
  const GUID subtype = WaveFormatTagSubtype(format.wfx.wFormatTag);
  mediaType->SetSubtype(&subtype);
  mediaType->SetTemporalCompression(TRUE);
  return mediaType->SetFormat(format.Bytes(), format.size) ? S_OK : E_OUTOFMEMORY;
}

// Uncompressed sound is offered as PCM, or IEEE float, only where its layout
// is one those types describe once the delivery has converted it (see
// pcm_layout.h); the formats that always had the private type keep it
// second. A depth no type describes gets the private type alone.
SubtypeChoice LinearPcmChoice(const AudioSampleEntry& entry, const PcmLayout& layout, int index) {
  constexpr SubtypeChoice kPrivate = {SubtypeRule::kPrivate, 0, nullptr, ExtraSource::kPayload};
  constexpr SubtypeChoice kNothing = {SubtypeRule::kNone, 0, nullptr, ExtraSource::kNone};
  const DWORD format = entry.Format();
  const bool hadPrivate = format != FourCC("twos") && format != FourCC("sowt") && format != FourCC("raw ");
  if (layout.bytesPerChannel == 0) return index == 0 ? kPrivate : kNothing;
  if (index == 0) {
    return {SubtypeRule::kFixed, 0, layout.isFloat ? &MEDIASUBTYPE_IEEE_FLOAT : &MEDIASUBTYPE_PCM, ExtraSource::kNone};
  }
  return index == 1 && hadPrivate ? kPrivate : kNothing;
}

}  // namespace

HRESULT GetAudioMediaType(AudioSampleEntry& entry, int index, CMediaType* mediaType) {
  if (!mediaType) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  const DWORD format = entry.Format();
  const PcmLayout pcm = LinearPcmLayout(entry);
  const SubtypeChoice choice = IsLinearPcmFormat(format)
                                   ? LinearPcmChoice(entry, pcm, index)
                                   : AudioSubtypeChoice(format, entry.objectTypeIndication, index);
  GUID subtype{};
  if (!ResolveSubtype(entry, choice, &subtype)) return VFW_S_NO_MORE_ITEMS;
  StartMediaType(mediaType, MEDIATYPE_Audio, subtype, FORMAT_WaveFormatEx);

  if (choice.rule == SubtypeRule::kWaveTagFromConfig) return WriteStoredWaveFormat(entry, mediaType);
  // Whatever the list index, MPEG audio frames are described by their own
  // header rather than by the entry. A first frame that is no header still
  // leaves the private type, so that the track is not lost.
  if (format == FourCC("mp4a") && IsMpegAudioObjectType(entry.objectTypeIndication)) {
    const HRESULT hr = WriteMpegAudioFormat(entry, mediaType);
    if (hr != E_FAIL || choice.rule != SubtypeRule::kPrivate) return hr;
    StartMediaType(mediaType, MEDIATYPE_Audio, subtype, FORMAT_WaveFormatEx);
  }

  WORD formatTag = 0;
  if (format == FourCC("mp4a")) {
    ApplyAudioSpecificConfig(entry);
    formatTag = kWaveTagRawAac;
  } else if (subtype.Data1 <= kLargestWaveTag) {
    formatTag = static_cast<WORD>(subtype.Data1);
  }
  ApplyFormatConstants(entry, formatTag);

  const CBuffer* extra = nullptr;
  if (choice.extra == ExtraSource::kCodecConfig) extra = &entry.codecConfig;
  if (choice.extra == ExtraSource::kPayload) extra = &entry.payload;
  const ULONG extraSize = extra ? std::min(static_cast<ULONG>(extra->Length()), kMaxExtraSize) : 0;

  WAVEFORMATEX wfx{};
  wfx.wFormatTag = formatTag;
  wfx.nChannels = entry.channelCount;
  wfx.nSamplesPerSec = entry.sampleRate;
  wfx.wBitsPerSample = entry.sampleSize;
  if (formatTag == WAVE_FORMAT_PCM || formatTag == WAVE_FORMAT_IEEE_FLOAT) {
    // The delivered samples: whole bytes, whatever depth the entry states.
    wfx.wBitsPerSample = static_cast<WORD>(pcm.bytesPerChannel * 8);
    wfx.nBlockAlign = static_cast<WORD>(DWORD{pcm.bytesPerChannel} * entry.channelCount);
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * entry.sampleRate;
  } else {
    wfx.nBlockAlign = 1;
    wfx.nAvgBytesPerSec = entry.track ? entry.track->GetBytesPerSecond() : 0;
  }
  wfx.cbSize = static_cast<WORD>(extraSize);

  BYTE* block = mediaType->AllocFormatBuffer(sizeof wfx + extraSize);
  if (!block) return E_OUTOFMEMORY;
  std::memcpy(block, &wfx, sizeof wfx);
  if (extraSize != 0) std::memcpy(block + sizeof wfx, extra->Data(), extraSize);
  mediaType->SetSampleSize(wfx.nAvgBytesPerSec);
  return S_OK;
}
