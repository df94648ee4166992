#include "streams/video_sample_entry.h"

#include "platform/fourcc.h"
#include "streams/video_media_type.h"
#include "streams/video_object_layer.h"

namespace {

// Pre-defined and reserved words between the common fields and the width.
constexpr LONGLONG kBytesBeforeWidth = 16;
constexpr LONGLONG kReservedAfterResolution = 4;
constexpr LONGLONG kPreDefinedAfterDepth = 2;
constexpr LONGLONG kPixelAspectPayloadSize = 8;

}  // namespace

VideoSampleEntry::VideoSampleEntry(const Box& entryHeader, trakBox* owner)
    : SampleEntry(entryHeader, owner, kSampleEntryVideo) {}

HRESULT VideoSampleEntry::ReadFixedFields(IAsyncReader* reader, LONGLONG* position, LONGLONG* remaining) {
  RETURN_IF_FAILED(SampleEntry::ReadFixedFields(reader, position, remaining));
  BoxFieldReader fields = Fields(reader, position);
  RETURN_IF_FAILED(fields.Skip(kBytesBeforeWidth));
  RETURN_IF_FAILED(fields.U16(&width));
  RETURN_IF_FAILED(fields.U16(&height));
  RETURN_IF_FAILED(fields.U32(&horizResolution));
  RETURN_IF_FAILED(fields.U32(&vertResolution));
  RETURN_IF_FAILED(fields.Skip(kReservedAfterResolution));
  RETURN_IF_FAILED(fields.U16(&frameCount));
  RETURN_IF_FAILED(fields.Bytes(compressorName, static_cast<LONG>(kCompressorNameSize)));
  RETURN_IF_FAILED(fields.U16(&depth));
  return fields.Skip(kPreDefinedAfterDepth);
}

HRESULT VideoSampleEntry::OnEsds(const Box& child, const BYTE* data, LONGLONG size) {
  const HRESULT hr = SampleEntry::OnEsds(child, data, size);
  if (hr != S_OK || Format() != FourCC("mp4v")) return hr;

  // The entry's own size fields are often placeholders in "mp4v" files; the
  // bitstream header is what a decoder will honour.
  VideoObjectLayerFields vol;
  vol.width = width;
  vol.height = height;
  vol.hasPixelAspect = hasPixelAspect;
  vol.pixelAspectH = pixelAspectH;
  vol.pixelAspectV = pixelAspectV;
  HRESULT volResult = S_OK;
  if (!ParseFirstVideoObjectLayer(codecConfig.Data(), static_cast<size_t>(codecConfig.Length()), &vol, &volResult)) {
    return S_OK;
  }
  width = vol.width;
  height = vol.height;
  hasPixelAspect = vol.hasPixelAspect;
  pixelAspectH = vol.pixelAspectH;
  pixelAspectV = vol.pixelAspectV;
  lastResult = volResult;
  return S_OK;
}

HRESULT VideoSampleEntry::OnPasp(const Box&, const BYTE* data, LONGLONG size) {
  if (size < kPixelAspectPayloadSize) return S_OK;
  pixelAspectH = LoadBigEndian32(data);
  pixelAspectV = LoadBigEndian32(data + 4);
  hasPixelAspect = 1;
  return S_OK;
}

HRESULT VideoSampleEntry::GetMediaType(int index, CMediaType* mediaType, IAsyncReader*) {
  return GetVideoMediaType(*this, index, mediaType);
}
