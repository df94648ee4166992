#include "streams/hevc_dimension_probe.h"

#include "container/trak_box.h"
#include "streams/hvcc_record.h"
#include "streams/mini_parser_h265.h"
#include "streams/start_codes.h"
#include "streams/video_sample_entry.h"

#include <new>
#include <vector>

namespace {

constexpr LONGLONG kProbedSamples = 4;
// A sample larger than this is not gathered: real parameter-set carrying
// samples are far smaller, and the size comes from the file.
constexpr LONGLONG kMaxProbedSampleSize = 16 << 20;
constexpr int32_t kMaxEntryDimension = 0xFFFF;

// Rewrites the entry from parameter sets that parsed.
HRESULT AdoptParameterSets(VideoSampleEntry& entry, const std::vector<BYTE>& startCodes,
                           const H265StreamInfo& info) {
  if (info.pictureWidth <= 0 || info.pictureHeight <= 0 || info.pictureWidth > kMaxEntryDimension ||
      info.pictureHeight > kMaxEntryDimension) {
    return E_FAIL;
  }
  std::vector<BYTE> box;
  const HRESULT hr = BuildHvcC(startCodes.data(), startCodes.size(), &box, kHvcCBoxIncomplete);
  if (FAILED(hr)) return hr;
  if (box.size() > INT32_MAX) return E_OUTOFMEMORY;
  if (FAILED(entry.payload.Assign(box.data(), static_cast<LONG>(box.size())))) return E_OUTOFMEMORY;
  entry.width = static_cast<WORD>(info.pictureWidth);
  entry.height = static_cast<WORD>(info.pictureHeight);
  return S_OK;
}

// Appends sample `sample` of the track to `gathered`, as a start-code stream.
HRESULT GatherSample(trakBox& track, IAsyncReader& reader, LONGLONG sample, std::vector<BYTE>* gathered) {
  LONGLONG start = 0, end = 0, offset = 0, size = 0;
  LONG units = 0;
  HRESULT hr = track.GetSampleInfo(sample, &start, &end, &offset, &size, &units);
  if (hr != S_OK) return FAILED(hr) ? hr : S_FALSE;
  if (size < 0 || size > kMaxProbedSampleSize) return E_OUTOFMEMORY;
  LONGLONG total = 0;
  LONGLONG available = 0;
  // A sample past the end of the source cannot be read whole.
  if (SUCCEEDED(reader.Length(&total, &available)) && (offset < 0 || offset > total - size)) return S_FALSE;

  const size_t old = gathered->size();
  gathered->resize(old + static_cast<size_t>(size));
  hr = reader.SyncRead(offset, static_cast<LONG>(size), gathered->data() + old);
  if (hr != S_OK) return hr;
  LengthPrefixedToStartCodes(gathered->data() + old, static_cast<size_t>(size));
  return S_OK;
}

}  // namespace

HRESULT ProbeDimensionsFromConfig(VideoSampleEntry& entry) {
  try {
    std::vector<BYTE> startCodes;
    H265StreamInfo info;
    const HRESULT hr = ParseH265Config(entry.codecConfig.Data(), static_cast<size_t>(entry.codecConfig.Length()),
                                       &startCodes, &info);
    if (hr != S_OK) return hr;
    return AdoptParameterSets(entry, startCodes, info);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ProbeDimensionsFromSamples(VideoSampleEntry& entry) {
  trakBox* track = entry.track;
  if (!track || !track->Reader()) return E_POINTER;
  try {
    std::vector<BYTE> gathered;
    HRESULT parsed = kParameterSetsIncomplete;
    for (LONGLONG sample = 0; sample < kProbedSamples; ++sample) {
      const HRESULT hr = GatherSample(*track, *track->Reader(), sample, &gathered);
      if (hr != S_OK) return hr;
      H265StreamInfo info;
      parsed = ParseH265StartCodes(gathered.data(), gathered.size(), &info);
      if (parsed == S_OK) return AdoptParameterSets(entry, gathered, info);
    }
    return parsed;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
