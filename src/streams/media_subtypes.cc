#include "streams/media_subtypes.h"

#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"

#include <cstring>
#include <iterator>

namespace {

constexpr char kPrivateTail[] = "ISOMEDIATYPE";
constexpr size_t kPrivateTailSize = 12;
static_assert(sizeof kPrivateTail == kPrivateTailSize + 1);

constexpr DWORD kAnyFormat = 0;

// ES-descriptor object types.
constexpr DWORD kObjectTypeMpeg2VideoMain = 0x61;
constexpr DWORD kObjectTypeMpeg2VideoFirst = 0x60;
constexpr DWORD kObjectTypeMpeg2VideoLast = 0x65;
constexpr DWORD kObjectTypeMpeg1Video = 0x6A;
constexpr DWORD kObjectTypeMpeg2Audio = 0x69;
constexpr DWORD kObjectTypeMpeg1Audio = 0x6B;

constexpr WORD kWaveTagMuLaw = 7;
constexpr WORD kWaveTagALaw = 6;
constexpr WORD kWaveTagRawAac = 0xFF;

constexpr SubtypeChoice kNoType = {SubtypeRule::kNone, 0, nullptr, ExtraSource::kNone};
constexpr SubtypeChoice kPrivateType = {SubtypeRule::kPrivate, 0, nullptr, ExtraSource::kPayload};
constexpr SubtypeChoice kFormatItself = {SubtypeRule::kFormatItself, 0, nullptr, ExtraSource::kCodecConfig};

constexpr SubtypeChoice FourCCType(DWORD code) {
  return {SubtypeRule::kFourCC, code, nullptr, ExtraSource::kCodecConfig};
}
constexpr SubtypeChoice FixedVideoType(const GUID* subtype, DWORD compression) {
  return {SubtypeRule::kFixed, compression, subtype, ExtraSource::kCodecConfig};
}
constexpr SubtypeChoice WaveTagType(WORD tag, ExtraSource extra) {
  return {SubtypeRule::kWaveTag, tag, nullptr, extra};
}

struct VideoRow {
  DWORD format;
  SubtypeChoice first;
  SubtypeChoice second;
};

// MPEG-1/2 video carried in an ES descriptor; chosen by object type, not by
// format, so it has no format of its own.
constexpr VideoRow kMpegVideoRow = {kAnyFormat, FourCCType(FourCC("VMP2")), kNoType};

// The first matching format wins; the last row takes every other format
// ("rpza", "smc ", "rle ", "jpeg", "avc1", "hvc1" ... all get their own
// FourCC at index 1).
constexpr VideoRow kVideoRows[] = {
    {FourCC("vc-1"), {SubtypeRule::kVc1, 0, nullptr, ExtraSource::kCodecConfig}, kNoType},
    {FourCC("2vuy"), FixedVideoType(&MEDIASUBTYPE_UYVY, FourCC("UYVY")), kNoType},
    {FourCC("2vuY"), FixedVideoType(&MEDIASUBTYPE_UYVY, FourCC("UYVY")), kNoType},
    {FourCC("yuv2"), FixedVideoType(&MEDIASUBTYPE_YUY2, FourCC("YUY2")), kNoType},
    {FourCC("yuvs"), FixedVideoType(&MEDIASUBTYPE_YUY2, FourCC("YUY2")), kNoType},
    {FourCC("s263"), kPrivateType, FourCCType(FourCC("h263"))},
    {FourCC("mp4v"), kPrivateType, FourCCType(FourCC("MP4V"))},
    {FourCC("mjpa"), kPrivateType, FourCCType(FourCC("mjpg"))},
    // The sequence-header probe fills the configuration first.
    {FourCC("hdv2"), kPrivateType, FourCCType(FourCC("VMP2"))},
    {FourCC("raw "), kPrivateType, {SubtypeRule::kRgbByDepth, 0, nullptr, ExtraSource::kCodecConfig}},
    {kAnyFormat, kPrivateType, kFormatItself},
};

struct AudioRow {
  DWORD format;
  // Only for the MPEG audio object types (else any object type).
  bool mpegAudioOnly;
  SubtypeChoice choices[3];
};

constexpr AudioRow kAudioRows[] = {
    // Uncompressed PCM is chosen by its layout (audio_media_type.cc).
    {FourCC("ulaw"), false, {WaveTagType(kWaveTagMuLaw, ExtraSource::kCodecConfig), kNoType, kNoType}},
    {FourCC("alaw"), false, {WaveTagType(kWaveTagALaw, ExtraSource::kCodecConfig), kNoType, kNoType}},
    {FourCC("wma "),
     false,
     {{SubtypeRule::kWaveTagFromConfig, 0, nullptr, ExtraSource::kCodecConfig}, kNoType, kNoType}},
    // The MPEG tag is replaced by 0x50 or 0x55 once the frame header is read.
    {FourCC("mp4a"), true, {kPrivateType, WaveTagType(WAVE_FORMAT_MPEG, ExtraSource::kNone), kNoType}},
    {FourCC("mp4a"),
     false,
     {kPrivateType, FourCCType(FourCC("mp4a")), WaveTagType(kWaveTagRawAac, ExtraSource::kCodecConfig)}},
    {kAnyFormat, false, {kPrivateType, kNoType, kNoType}},
};

bool IsMpegVideoObjectType(DWORD format, DWORD objectType) {
  if (objectType == kObjectTypeMpeg2VideoMain) return true;
  // Other MPEG-1/2 video profiles in an "mp4v" entry are the same data; an
  // MPEG-4 Part 2 decoder must not be offered them.
  if (format != FourCC("mp4v")) return false;
  return (objectType >= kObjectTypeMpeg2VideoFirst && objectType <= kObjectTypeMpeg2VideoLast) ||
         objectType == kObjectTypeMpeg1Video;
}

}  // namespace

GUID PrivateSubtype(DWORD fileOrderFormat) {
  GUID subtype = FourCCSubtype(fileOrderFormat);
  BYTE tail[kPrivateTailSize];
  std::memcpy(tail, kPrivateTail, kPrivateTailSize);
  // Data2, Data3 and Data4 hold the text in memory order.
  std::memcpy(&subtype.Data2, tail, sizeof subtype.Data2);
  std::memcpy(&subtype.Data3, tail + 2, sizeof subtype.Data3);
  std::memcpy(subtype.Data4, tail + 4, sizeof subtype.Data4);
  return subtype;
}

bool IsPrivateSubtype(REFGUID subtype) { return subtype == PrivateSubtype(SwapFourCC(subtype.Data1)); }

bool IsMpegAudioObjectType(DWORD objectTypeIndication) {
  return objectTypeIndication == kObjectTypeMpeg1Audio || objectTypeIndication == kObjectTypeMpeg2Audio;
}

const SubtypeChoice& VideoSubtypeChoice(DWORD format, DWORD objectTypeIndication, int index) {
  if (index < 0 || index > 1) return kNoType;
  const VideoRow* row = &kMpegVideoRow;
  if (!IsMpegVideoObjectType(format, objectTypeIndication)) {
    row = std::end(kVideoRows) - 1;
    for (const VideoRow& candidate : kVideoRows) {
      if (candidate.format == format) {
        row = &candidate;
        break;
      }
    }
  }
  return index == 0 ? row->first : row->second;
}

const SubtypeChoice& AudioSubtypeChoice(DWORD format, DWORD objectTypeIndication, int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kAudioRows[0].choices))) return kNoType;
  const bool mpegAudio = IsMpegAudioObjectType(objectTypeIndication);
  for (const AudioRow& row : kAudioRows) {
    if ((row.format == format || row.format == kAnyFormat) && (!row.mpegAudioOnly || mpegAudio)) {
      return row.choices[index];
    }
  }
  return kNoType;
}

void StartMediaType(CMediaType* mediaType, REFGUID majorType, REFGUID subtype, REFGUID formatType) {
  FreeMediaType(*mediaType);
  mediaType->InitMediaType();
  mediaType->SetType(&majorType);
  mediaType->SetSubtype(&subtype);
  mediaType->SetFormatType(&formatType);
}
