#include "streams/media_type_match.h"

#include "platform/fourcc.h"
#include "platform/media_guids.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

namespace {

struct VideoFormatLayout {
  const GUID* formatType;
  ULONG minimumSize;
  // Whether the picture aspect ratio is stored (VIDEOINFOHEADER2 family) or
  // taken from the bitmap size.
  bool storesAspect;
};

constexpr ULONG kVideoInfoMinimum = sizeof(VIDEOINFOHEADER);
constexpr ULONG kMpegVideoMinimum = 104;
constexpr ULONG kPrivateVideoInfoMinimum = 144;
constexpr ULONG kVideoInfo2Minimum = sizeof(VIDEOINFOHEADER2);
constexpr ULONG kMpeg2VideoMinimum = sizeof(MPEG2VIDEOINFO);

constexpr VideoFormatLayout kVideoLayouts[] = {
    {&FORMAT_VideoInfo, kVideoInfoMinimum, false},
    {&FORMAT_MPEGVideo, kMpegVideoMinimum, false},
    {&FORMAT_IsoVideoInfoPrivate, kPrivateVideoInfoMinimum, false},
    {&FORMAT_VideoInfo2, kVideoInfo2Minimum, true},
    {&FORMAT_MPEG2Video, kMpeg2VideoMinimum, true},
};

// Raw layouts whose rows may run either way.
constexpr DWORD kFlippableCompressions[] = {
    FourCCAsDword("YUY2"), FourCCAsDword("UYVY"), FourCCAsDword("YV12"), FourCCAsDword("I420"), FourCCAsDword("NV12"),
};

constexpr DWORD kGreyCompression = FourCCAsDword("VGRY");
// biSize through biClrUsed.
constexpr size_t kComparedBitmapBytes = 36;
// The grey format keeps extra fields after the 40-byte header, up to 84.
constexpr DWORD kGreyExtraEnd = 84;
constexpr REFERENCE_TIME kDefaultFrameDuration = 333333;
constexpr ULONGLONG kFrameDurationTolerance = 1;
constexpr size_t kBiCompressionOffset = offsetof(BITMAPINFOHEADER, biCompression);

const VideoFormatLayout* FindLayout(REFGUID formatType) {
  for (const VideoFormatLayout& layout : kVideoLayouts) {
    if (*layout.formatType == formatType) return &layout;
  }
  return nullptr;
}

DWORD AbsoluteHeight(LONG height) {
  return height < 0 ? 0u - static_cast<DWORD>(height) : static_cast<DWORD>(height);
}

bool IsFlippable(DWORD compression) {
  return std::find(std::begin(kFlippableCompressions), std::end(kFlippableCompressions), compression) !=
         std::end(kFlippableCompressions);
}

REFERENCE_TIME EffectiveDuration(REFERENCE_TIME duration) {
  return duration == 0 ? kDefaultFrameDuration : duration;
}

bool DurationsAgree(REFERENCE_TIME a, REFERENCE_TIME b) {
  a = EffectiveDuration(a);
  b = EffectiveDuration(b);
  const ULONGLONG difference = a > b ? static_cast<ULONGLONG>(a) - static_cast<ULONGLONG>(b)
                                     : static_cast<ULONGLONG>(b) - static_cast<ULONGLONG>(a);
  return difference <= kFrameDurationTolerance;
}

bool BitmapsAgree(const VideoFormatView& a, const VideoFormatView& b) {
  if (std::memcmp(&a.bitmap, &b.bitmap, kComparedBitmapBytes) == 0) return true;
  if (a.bitmap.biWidth != b.bitmap.biWidth || AbsoluteHeight(a.bitmap.biHeight) != AbsoluteHeight(b.bitmap.biHeight) ||
      a.bitmap.biBitCount != b.bitmap.biBitCount || a.bitmap.biCompression != b.bitmap.biCompression) {
    return false;
  }
  return a.bitmap.biHeight == b.bitmap.biHeight || IsFlippable(a.bitmap.biCompression);
}

// The grey format's fields after the bitmap header must agree too. They
// lie in the blocks past the header; a block too short to hold them cannot
// be shown to agree.
bool GreyExtrasAgree(const AM_MEDIA_TYPE& a, const VideoFormatView& viewA, const AM_MEDIA_TYPE& b,
                     const VideoFormatView& viewB) {
  if (viewA.bitmap.biCompression != kGreyCompression || viewA.bitmap.biSize <= sizeof(BITMAPINFOHEADER)) return true;
  const size_t end = std::min<DWORD>(viewA.bitmap.biSize, kGreyExtraEnd);
  const size_t count = end - sizeof(BITMAPINFOHEADER);
  const size_t startA = viewA.bitmapOffset + sizeof(BITMAPINFOHEADER);
  const size_t startB = viewB.bitmapOffset + sizeof(BITMAPINFOHEADER);
  if (a.cbFormat < startA + count || b.cbFormat < startB + count) return false;
  return std::memcmp(a.pbFormat + startA, b.pbFormat + startB, count) == 0;
}

}  // namespace

bool IsVideoFormatType(REFGUID formatType) { return FindLayout(formatType) != nullptr; }

bool GetVideoFormatView(const AM_MEDIA_TYPE& mediaType, VideoFormatView* view) {
  const VideoFormatLayout* layout = FindLayout(mediaType.formattype);
  if (!layout || !mediaType.pbFormat || mediaType.cbFormat < layout->minimumSize) return false;
  const BYTE* block = mediaType.pbFormat;
  if (layout->storesAspect) {
    VIDEOINFOHEADER2 header;
    std::memcpy(&header, block, sizeof header);
    *view = {header.rcSource,
             header.rcTarget,
             header.AvgTimePerFrame,
             header.dwBitRate,
             header.dwPictAspectRatioX,
             header.dwPictAspectRatioY,
             header.bmiHeader,
             offsetof(VIDEOINFOHEADER2, bmiHeader)};
  } else {
    VIDEOINFOHEADER header;
    std::memcpy(&header, block, sizeof header);
    *view = {header.rcSource,
             header.rcTarget,
             header.AvgTimePerFrame,
             header.dwBitRate,
             static_cast<DWORD>(header.bmiHeader.biWidth),
             AbsoluteHeight(header.bmiHeader.biHeight),
             header.bmiHeader,
             offsetof(VIDEOINFOHEADER, bmiHeader)};
  }
  return true;
}

bool RectanglesEquivalent(const RECT& a, const RECT& b, const BITMAPINFOHEADER& bitmap) {
  if (std::memcmp(&a, &b, sizeof(RECT)) == 0) return true;
  const auto wholePicture = [&bitmap](const RECT& r) {
    return r.left == 0 && r.top == 0 && (r.right == 0 || r.right == bitmap.biWidth) &&
           (r.bottom == 0 || static_cast<DWORD>(r.bottom) == AbsoluteHeight(bitmap.biHeight));
  };
  return wholePicture(a) && wholePicture(b);
}

bool VideoFormatsEquivalent(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  VideoFormatView viewA;
  VideoFormatView viewB;
  if (!GetVideoFormatView(a, &viewA) || !GetVideoFormatView(b, &viewB)) return false;
  if (ULONGLONG{viewA.aspectX} * viewB.aspectY != ULONGLONG{viewB.aspectX} * viewA.aspectY) return false;
  if (!BitmapsAgree(viewA, viewB)) return false;
  if (!GreyExtrasAgree(a, viewA, b, viewB)) return false;
  if (!DurationsAgree(viewA.frameDuration, viewB.frameDuration)) return false;
  return RectanglesEquivalent(viewA.source, viewB.source, viewA.bitmap) &&
         RectanglesEquivalent(viewA.target, viewB.target, viewA.bitmap);
}

bool MediaTypesMatch(const AM_MEDIA_TYPE& proposed, const AM_MEDIA_TYPE& offered) {
  const AM_MEDIA_TYPE& a = proposed;
  const AM_MEDIA_TYPE& b = offered;
  if (a.majortype != b.majortype || a.subtype != b.subtype) return false;
  if (a.formattype != b.formattype) {
    return IsVideoFormatType(a.formattype) && IsVideoFormatType(b.formattype) && VideoFormatsEquivalent(a, b);
  }
  if (a.cbFormat == b.cbFormat) {
    if (a.cbFormat == 0) return true;
    if (!a.pbFormat || !b.pbFormat) return false;
    if (std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0) return true;
    return VideoFormatsEquivalent(a, b);
  }

  if (a.cbFormat == 0 || b.cbFormat == 0 || !a.pbFormat || !b.pbFormat) return false;
  if (a.majortype != MEDIATYPE_Video) return false;
  ULONG required = 0;
  if (a.formattype == FORMAT_VideoInfo) {
    required = kVideoInfoMinimum;
    // The grey format's header may be longer than the usual 40 bytes; its
    // own size says how much of the block must be there.
    constexpr size_t kCompressionAt = offsetof(VIDEOINFOHEADER, bmiHeader) + kBiCompressionOffset;
    DWORD compression = 0;
    if (a.cbFormat >= kCompressionAt + sizeof compression) {
      std::memcpy(&compression, a.pbFormat + kCompressionAt, sizeof compression);
      if (compression == kGreyCompression) {
        std::memcpy(&required, a.pbFormat + offsetof(VIDEOINFOHEADER, bmiHeader), sizeof required);
      }
    }
  } else if (a.formattype == FORMAT_VideoInfo2) {
    required = kVideoInfo2Minimum;
  } else if (a.formattype == FORMAT_IsoVideoInfoPrivate) {
    required = kPrivateVideoInfoMinimum;
  } else {
    return false;
  }
  if (a.cbFormat < required || b.cbFormat < required) return false;
  if (std::memcmp(a.pbFormat, b.pbFormat, std::min(a.cbFormat, b.cbFormat)) == 0) return true;
  return VideoFormatsEquivalent(a, b);
}
