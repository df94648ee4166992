#include "streams/video_media_type.h"

#include "container/trak_box.h"
#include "platform/arithmetic.h"
#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/hevc_dimension_probe.h"
#include "streams/media_subtypes.h"
#include "streams/mpeg2_sequence_probe.h"
#include "streams/sample_converter.h"
#include "streams/video_sample_entry.h"

#include <cstring>

namespace {

// Uncompressed 4:2:2 has two bytes per pixel whatever the entry's depth says.
constexpr WORD kPackedYuvBitCount = 16;
// Dots per inch to dots per metre: × 10000 / 254, rounded to nearest.
constexpr DWORD kTenthsOfMmPerInch = 254;
constexpr DWORD kPerMetreScale = 10000;
constexpr BYTE kVc1SequenceStartCode[] = {0x00, 0x00, 0x01, 0x0F};
// An advanced-profile configuration is a marker byte, then the sequence
// header's start code.
constexpr LONG kVc1StartCodeOffset = 1;

struct RgbSubtypeForDepth {
  WORD depth;
  const GUID* subtype;
};

// Only the depths the RGB converter delivers as the type means them. A
// QuickTime raw picture at 8 bits needs its palette and one at 16 bits is
// 5-5-5 big-endian; neither is what RGB8 or RGB565 say, so they get only
// the private type.
constexpr RgbSubtypeForDepth kRgbSubtypes[] = {
    {24, &MEDIASUBTYPE_RGB24},
    {32, &MEDIASUBTYPE_RGB32},
};

LONG PelsPerMetre(DWORD fixedDotsPerInch) {
  const DWORD dotsPerInch = fixedDotsPerInch >> 16;
  return static_cast<LONG>((dotsPerInch * kPerMetreScale + kTenthsOfMmPerInch / 2) / kTenthsOfMmPerInch);
}

bool IsAdvancedVc1Config(const CBuffer& config) {
  return config.Length() > static_cast<LONG>(sizeof kVc1SequenceStartCode) &&
         std::memcmp(config.Data() + kVc1StartCodeOffset, kVc1SequenceStartCode, sizeof kVc1SequenceStartCode) == 0;
}

bool IsHevcFormat(DWORD format) { return format == FourCC("hvc1") || format == FourCC("hev1"); }

// An H.265 entry written without its picture size gets it from the
// parameter sets, once: first those of the configuration, then those in the
// first samples. "hev1" gets the same probe: its parameter sets may sit in
// the samples, but a missing size is as missing there.
void ProbeMissingHevcDimensions(VideoSampleEntry& entry) {
  if (!IsHevcFormat(entry.Format()) || (entry.width != 0 && entry.height != 0) || entry.dimensionsProbed) return;
  entry.dimensionsProbed = 1;
  ProbeDimensionsFromConfig(entry);
  if (entry.width == 0 || entry.height == 0) ProbeDimensionsFromSamples(entry);
}

// The subtype and compression of `choice` for this entry; false when the
// choice offers nothing for it.
bool ResolveChoice(const VideoSampleEntry& entry, const SubtypeChoice& choice, VideoFormatFields* fields) {
  const DWORD format = entry.Format();
  switch (choice.rule) {
    case SubtypeRule::kPrivate:
      fields->subtype = PrivateSubtype(format);
      fields->compression = SwapFourCC(format);
      return true;
    case SubtypeRule::kFourCC:
      fields->subtype = FourCCRuleSubtype(choice.code);
      fields->compression = SwapFourCC(choice.code);
      return true;
    case SubtypeRule::kFormatItself:
      fields->subtype = FourCCRuleSubtype(format);
      fields->compression = SwapFourCC(format);
      return true;
    case SubtypeRule::kFixed:
      fields->subtype = *choice.subtype;
      fields->compression = SwapFourCC(choice.code);
      return true;
    case SubtypeRule::kVc1: {
      const DWORD code = IsAdvancedVc1Config(entry.codecConfig) ? FourCC("WVC1") : FourCC("WMV3");
      fields->subtype = FourCCRuleSubtype(code);
      fields->compression = SwapFourCC(code);
      return true;
    }
    case SubtypeRule::kRgbByDepth:
      for (const RgbSubtypeForDepth& row : kRgbSubtypes) {
        if (row.depth == entry.depth) {
          fields->subtype = *row.subtype;
          fields->compression = BI_RGB;
          return true;
        }
      }
      return false;
    case SubtypeRule::kNone:
    case SubtypeRule::kWaveTag:
    case SubtypeRule::kWaveTagFromConfig:
      return false;
  }
  return false;
}

void SelectExtra(const VideoSampleEntry& entry, ExtraSource source, VideoFormatFields* fields) {
  const CBuffer* buffer = nullptr;
  if (source == ExtraSource::kCodecConfig) buffer = &entry.codecConfig;
  if (source == ExtraSource::kPayload) buffer = &entry.payload;
  fields->extra = buffer ? buffer->Data() : nullptr;
  fields->extraSize = buffer ? static_cast<ULONG>(buffer->Length()) : 0;
}

// The picture aspect ratio of a picture of width × height whose pixels are
// h : v, not reduced.
void PictureAspect(const VideoSampleEntry& entry, DWORD* x, DWORD* y) {
  const LONG h = static_cast<LONG>(entry.pixelAspectH);
  const LONG v = static_cast<LONG>(entry.pixelAspectV);
  *x = entry.width;
  *y = entry.height;
  if (h > v) *x = static_cast<DWORD>(MulDiv(entry.width, h, v));
  if (h < v) *y = static_cast<DWORD>(MulDiv(entry.height, v, h));
}

}  // namespace

HRESULT WriteVideoFormat(const VideoSampleEntry& entry, const VideoFormatFields& fields, CMediaType* mediaType) {
  const bool withAspect = entry.hasPixelAspect != 0;
  StartMediaType(mediaType, MEDIATYPE_Video, fields.subtype, withAspect ? FORMAT_VideoInfo2 : FORMAT_VideoInfo);

  DWORD bitRate = 0;
  REFERENCE_TIME frameDuration = 0;
  DWORD imageSize = 0;
  if (entry.track) {
    bitRate = entry.track->GetBytesPerSecond() * 8;
    frameDuration = entry.track->GetDefaultSampleDuration();
    imageSize = entry.track->GetAverageSampleSize();
  }

  BITMAPINFOHEADER bitmap{};
  bitmap.biSize = sizeof(BITMAPINFOHEADER) + fields.extraSize;
  bitmap.biWidth = entry.width;
  bitmap.biHeight = entry.height;
  bitmap.biPlanes = 1;
  const bool packedYuv = fields.compression == FourCCAsDword("YUY2") || fields.compression == FourCCAsDword("UYVY");
  bitmap.biBitCount = packedYuv ? kPackedYuvBitCount : entry.depth;
  bitmap.biCompression = fields.compression;
  // The RGB types are delivered converted, in padded rows.
  bitmap.biSizeImage = fields.compression == BI_RGB ? RgbFrameBytes(entry.width, entry.height, entry.depth) : imageSize;
  if (fields.compression == BI_RGB) mediaType->SetSampleSize(bitmap.biSizeImage);
  bitmap.biXPelsPerMeter = PelsPerMetre(entry.horizResolution);
  bitmap.biYPelsPerMeter = PelsPerMetre(entry.vertResolution);

  const ULONG headerSize = withAspect ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER);
  if (fields.extraSize > UINT32_MAX - headerSize) return E_OUTOFMEMORY;
  BYTE* block = mediaType->AllocFormatBuffer(headerSize + fields.extraSize);
  if (!block) return E_OUTOFMEMORY;
  std::memset(block, 0, headerSize + fields.extraSize);

  if (withAspect) {
    VIDEOINFOHEADER2 header{};
    header.dwBitRate = bitRate;
    header.AvgTimePerFrame = frameDuration;
    PictureAspect(entry, &header.dwPictAspectRatioX, &header.dwPictAspectRatioY);
    header.bmiHeader = bitmap;
    std::memcpy(block, &header, sizeof header);
  } else {
    VIDEOINFOHEADER header{};
    header.dwBitRate = bitRate;
    header.AvgTimePerFrame = frameDuration;
    header.bmiHeader = bitmap;
    std::memcpy(block, &header, sizeof header);
  }
  if (fields.extraSize != 0) std::memcpy(block + headerSize, fields.extra, fields.extraSize);
  return S_OK;
}

HRESULT GetVideoMediaType(VideoSampleEntry& entry, int index, CMediaType* mediaType) {
  if (!mediaType) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  ProbeMissingHevcDimensions(entry);

  const SubtypeChoice& choice = VideoSubtypeChoice(entry.Format(), entry.objectTypeIndication, index);
  VideoFormatFields fields{};
  if (!ResolveChoice(entry, choice, &fields)) return VFW_S_NO_MORE_ITEMS;
  if (entry.Format() == FourCC("hdv2") && choice.rule == SubtypeRule::kFourCC) {
    const HRESULT hr = ProbeMpeg2SequenceHeader(entry);
    if (FAILED(hr)) return hr;
  }
  SelectExtra(entry, choice.extra, &fields);
  return WriteVideoFormat(entry, fields, mediaType);
}
