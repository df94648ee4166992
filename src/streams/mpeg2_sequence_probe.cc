#include "streams/mpeg2_sequence_probe.h"

#include "container/trak_box.h"
#include "streams/start_codes.h"
#include "streams/video_sample_entry.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

constexpr BYTE kSequenceHeaderCode = 0xB3;
constexpr BYTE kExtensionCode = 0xB5;
constexpr size_t kStartCodePrefixSize = 3;
// The stored length is 16 bits; a longer "header" is not one a decoder
// could use.
constexpr size_t kMaxSequenceHeaderSize = 0xFFFF;
// The sequence header opens the sample, so a huge sample is only read this
// far: the file's size field cannot make the probe allocate without bound.
constexpr LONGLONG kMaxProbedBytes = 16 << 20;

}  // namespace

bool FindMpeg2SequenceHeader(const BYTE* data, size_t size, size_t* start, size_t* length) {
  bool seen = false;
  size_t headerStart = 0;
  size_t end = size;
  size_t from = 0;
  while (from < size) {
    const BYTE* value = FindStartCode(data + from, size - from);
    if (!value) break;
    const size_t codeStart = static_cast<size_t>(value - data) - kStartCodePrefixSize;
    if (*value == kSequenceHeaderCode) {
      if (!seen) headerStart = codeStart;
      seen = true;
    } else if (*value != kExtensionCode) {
      end = codeStart;
      break;
    }
    from = static_cast<size_t>(value - data) + 1;
  }
  if (!seen) return false;
  *start = headerStart;
  *length = end - headerStart;
  return true;
}

HRESULT ProbeMpeg2SequenceHeader(VideoSampleEntry& entry) {
  if (entry.dimensionsProbed || entry.codecConfig.Length() != 0) return S_OK;
  entry.dimensionsProbed = 1;
  trakBox* track = entry.track;
  if (!track) return E_POINTER;

  LONGLONG start = 0, end = 0, offset = 0, size = 0;
  LONG units = 0;
  HRESULT hr = track->GetSampleInfo(0, &start, &end, &offset, &size, &units);
  if (FAILED(hr)) return hr;
  LONGLONG length = hr == S_OK ? std::clamp<LONGLONG>(size, 0, kMaxProbedBytes) : 0;
  // Bytes a short read leaves unfilled stay zero, which cannot form a
  // start code.
  std::unique_ptr<BYTE[]> sample(new (std::nothrow) BYTE[static_cast<size_t>(length) + 1]());
  if (!sample) return E_OUTOFMEMORY;
  if (length > 0) {
    hr = track->ReadFirstSample(sample.get(), &length);
    if (FAILED(hr)) return hr;
  }

  size_t headerStart = 0;
  size_t headerLength = 0;
  if (!FindMpeg2SequenceHeader(sample.get(), static_cast<size_t>(length), &headerStart, &headerLength) ||
      headerLength > kMaxSequenceHeaderSize) {
    entry.lastResult = VFW_S_NO_MORE_ITEMS;
    return S_OK;
  }
  const BYTE lengthBytes[2] = {static_cast<BYTE>(headerLength & 0xFF), static_cast<BYTE>(headerLength >> 8)};
  if (FAILED(entry.codecConfig.Assign(lengthBytes, sizeof lengthBytes)) ||
      FAILED(entry.codecConfig.Append(sample.get() + headerStart, static_cast<LONG>(headerLength)))) {
    entry.codecConfig.Empty();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
