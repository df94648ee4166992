// How a sample entry's media types are named: the two subtype GUID rules
// (the platform's FourCC rule and our private "ISOMEDIATYPE" rule) and the
// tables that choose, per format and list index, the subtype, the bitmap
// compression and where the extra bytes come from. The video and audio
// builders resolve a choice against the entry and write the format block.
#pragma once

#include "platform/guid.h"
#include "platform/media_type.h"

// The platform's rule: {code as a little-endian DWORD}-0000-0010-8000-
// 00AA00389B71, for a FourCC given in file order ("avc1" as 0x61766331).
constexpr GUID FourCCRuleSubtype(DWORD fileOrderCode) { return FourCCSubtype(fileOrderCode); }

// A WAVE format tag by the same rule.
constexpr GUID WaveFormatTagSubtype(WORD tag) { return GuidFromDword(tag); }

// The private rule: Data1 as the FourCC rule, then the twelve ASCII bytes
// "ISOMEDIATYPE" as they lie in memory. Such a subtype always carries the
// entry's whole payload (every child box) as its extra bytes.
GUID PrivateSubtype(DWORD fileOrderFormat);
bool IsPrivateSubtype(REFGUID subtype);

// Where the bytes after a format block's fixed structure come from.
enum class ExtraSource : BYTE {
  kNone,
  kCodecConfig,
  kPayload,
};

enum class SubtypeRule : BYTE {
  // No media type at this index.
  kNone,
  kPrivate,
  // The FourCC rule of `code`; `code` is also the bitmap compression.
  kFourCC,
  // The FourCC rule of the entry's own format.
  kFormatItself,
  // The fixed GUID `subtype`, with `code` as the bitmap compression.
  kFixed,
  // The WAVE format tag `code`.
  kWaveTag,
  // The WAVE format tag in the first word of the stored WAVEFORMATEX.
  kWaveTagFromConfig,
  // WVC1 or WMV3, by whether the configuration is an advanced-profile one.
  kVc1,
  // An RGB subtype chosen by the entry's depth.
  kRgbByDepth,
};

struct SubtypeChoice {
  SubtypeRule rule;
  // A file-order FourCC (kFourCC, kFixed) or a format tag (kWaveTag).
  DWORD code;
  const GUID* subtype;
  ExtraSource extra;
};

// The choice for list `index` of a video entry of `format`. Entries whose
// ES descriptor names MPEG-1/2 video share one row whatever their format.
const SubtypeChoice& VideoSubtypeChoice(DWORD format, DWORD objectTypeIndication, int index);

// The same for audio.
const SubtypeChoice& AudioSubtypeChoice(DWORD format, DWORD objectTypeIndication, int index);

// ES-descriptor object types that mean MPEG audio frames rather than AAC:
// MPEG-1 audio (0x6B) and MPEG-2 audio (0x69), which muxers write for MP3 at
// 24 kHz and below.
bool IsMpegAudioObjectType(DWORD objectTypeIndication);

// Empties `mediaType` for reuse (its old format block and pUnk are freed,
// which InitMediaType alone would leak) and sets the three GUIDs.
void StartMediaType(CMediaType* mediaType, REFGUID majorType, REFGUID subtype, REFGUID formatType);
