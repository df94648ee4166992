#include "streams/sample_converter.h"

#include "container/trak_box.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Y0 Cb Y1 Cr: the chroma bytes of each group are the odd ones.
constexpr LONG kGroupBytes = 4;
constexpr BYTE kChromaBias = 0x80;

}  // namespace

HRESULT CBaseSampleConverter::SetMediaTypes(const CMediaType* input, const CMediaType* output) {
  if (input != nullptr) m_inputType = *input;
  if (output != nullptr) m_outputType = *output;
  return S_OK;
}

HRESULT CBaseSampleConverter::Convert(IAsyncReader*, LONGLONG, BYTE*, LONG) { return E_NOTIMPL; }

HRESULT CYUY2SampleConverter::Convert(IAsyncReader* source, LONGLONG position, BYTE* destination, LONG length) {
  if (source == nullptr || (destination == nullptr && length > 0)) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  const LONG groups = length / kGroupBytes;
  if (!m_staged) {
    const HRESULT hr = source->SyncRead(position, length, destination);
    if (FAILED(hr)) return hr;
    for (LONG g = 0; g < groups; ++g) {
      BYTE* group = destination + g * kGroupBytes;
      group[1] = static_cast<BYTE>(group[1] - kChromaBias);
      group[3] = static_cast<BYTE>(group[3] - kChromaBias);
    }
    return S_OK;
  }
  if (m_staging.Capacity() < length && !m_staging.Reserve(length)) return E_OUTOFMEMORY;
  const BYTE* staged = m_staging.Data();
  const HRESULT hr = source->SyncRead(position, length, m_staging.Data());
  if (FAILED(hr)) return hr;
  for (LONG g = 0; g < groups; ++g) {
    const BYTE* in = staged + g * kGroupBytes;
    BYTE* out = destination + g * kGroupBytes;
    out[0] = in[0];
    out[1] = static_cast<BYTE>(in[1] - kChromaBias);
    out[2] = in[2];
    out[3] = static_cast<BYTE>(in[3] - kChromaBias);
  }
  return S_OK;
}

LONG RgbFrameBytes(LONG width, LONG height, WORD depth) {
  if (width <= 0 || height <= 0 || (depth != 24 && depth != 32)) return 0;
  const LONGLONG stride = (static_cast<LONGLONG>(width) * (depth / 8) + 3) & ~LONGLONG{3};
  const LONGLONG frame = stride * height;
  return frame > std::numeric_limits<LONG>::max() ? 0 : static_cast<LONG>(frame);
}

CRGBSampleConverter::CRGBSampleConverter(LONG width, LONG height, WORD depth)
    : m_width(width), m_height(height), m_depth(depth) {}

HRESULT CRGBSampleConverter::Convert(IAsyncReader* source, LONGLONG position, BYTE* destination, LONG length) {
  if (source == nullptr || destination == nullptr) return E_POINTER;
  const LONG output = OutputLength(length);
  if (length < 0 || output == 0) return E_INVALIDARG;
  const LONG pixelBytes = m_depth / 8;
  const LONG storedStride = m_width * pixelBytes;
  const LONG paddedStride = output / m_height;
  const LONG stored = std::min(length, storedStride * m_height);
  if (m_staging.Capacity() < stored && !m_staging.Reserve(stored)) return E_OUTOFMEMORY;
  const HRESULT hr = source->SyncRead(position, stored, m_staging.Data());
  if (FAILED(hr)) return hr;
  std::memset(destination, 0, static_cast<size_t>(output));
  const BYTE* in = m_staging.Data();
  const LONG rows = stored / storedStride;
  for (LONG row = 0; row < rows; ++row) {
    const BYTE* from = in + static_cast<size_t>(row) * storedStride;
    BYTE* to = destination + static_cast<size_t>(m_height - 1 - row) * paddedStride;
    for (LONG x = 0; x < m_width; ++x, from += pixelBytes, to += pixelBytes) {
      // R,G,B → B,G,R; A,R,G,B → B,G,R,A.
      const BYTE* rgb = pixelBytes == 4 ? from + 1 : from;
      to[0] = rgb[2];
      to[1] = rgb[1];
      to[2] = rgb[0];
      if (pixelBytes == 4) to[3] = from[0];
    }
  }
  return S_OK;
}

HRESULT CPcmSampleConverter::Convert(IAsyncReader* source, LONGLONG position, BYTE* destination, LONG length) {
  if (source == nullptr || (destination == nullptr && length > 0)) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  const HRESULT hr = source->SyncRead(position, length, destination);
  if (FAILED(hr)) return hr;
  ApplyPcmByteOp(m_op, destination, length);
  return hr;
}

std::unique_ptr<CBaseSampleConverter> CreateSampleConverter(trakBox& track, const AM_MEDIA_TYPE& connected,
                                                            bool videoRenderer, HRESULT* result) {
  *result = S_OK;
  CBaseSampleConverter* converter = nullptr;
  const DWORD format = track.FormatFourCC();
  const DWORD kind = track.sampleEntry ? track.sampleEntry->entryKind : kSampleEntryPlain;
  if (track.mediaKind == kMediaKindVideo && format == FourCC("yuv2")) {
    converter = new (std::nothrow) CYUY2SampleConverter(videoRenderer);
  } else if (kind == kSampleEntryVideo && format == FourCC("raw ") &&
             (connected.subtype == MEDIASUBTYPE_RGB24 || connected.subtype == MEDIASUBTYPE_RGB32)) {
    // Connected with the private type the bytes stay as stored.
    const auto& entry = static_cast<const VideoSampleEntry&>(*track.sampleEntry);
    if (RgbFrameBytes(entry.width, entry.height, entry.depth) == 0) return nullptr;
    converter = new (std::nothrow) CRGBSampleConverter(entry.width, entry.height, entry.depth);
  } else if (kind == kSampleEntryAudio && IsLinearPcmFormat(format) &&
             (connected.subtype == MEDIASUBTYPE_PCM || connected.subtype == MEDIASUBTYPE_IEEE_FLOAT)) {
    const PcmByteOp op = LinearPcmLayout(static_cast<const AudioSampleEntry&>(*track.sampleEntry)).delivery;
    if (op == PcmByteOp::kNone) return nullptr;
    converter = new (std::nothrow) CPcmSampleConverter(op);
  } else {
    return nullptr;
  }
  if (converter == nullptr) *result = E_OUTOFMEMORY;
  return std::unique_ptr<CBaseSampleConverter>(converter);
}
