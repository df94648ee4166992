#include "streams/mini_parser_h265.h"

#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/media_type.h"
#include "streams/hvcc_record.h"
#include "streams/rbsp_bit_reader.h"
#include "streams/h265_vui.h"
#include "streams/start_codes.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr size_t kNalHeaderSize = 2;
// A parameter set is looked for only when at least this many bytes remain
// from its start code; fewer cannot hold a useful unit.
constexpr size_t kMinUnitSpan = 9;
constexpr size_t kStartCodeLength = 3;
constexpr double kDefaultFrameRate = 30.0;
// Feed keeps at most this much while it waits for the parameter sets.
constexpr LONG kMaxCollectedBytes = 1 << 20;
// What compressed video types carry as their bit count.
constexpr WORD kCompressedBitCount = 24;

int NalUnitType(const BYTE* header) { return (header[0] >> 1) & 0x3F; }
int NuhLayerId(const BYTE* header) { return ((header[0] & 1) << 5) | (header[1] >> 3); }

bool UsableTiming(const H265Timing& timing) {
  return timing.present && timing.numUnitsInTick != 0 && timing.timeScale != 0;
}

}  // namespace

CMiniParserH265::CMiniParserH265() = default;
CMiniParserH265::~CMiniParserH265() = default;

void CMiniParserH265::ResetTables() {
  for (auto& slot : vps_) slot.reset();
  for (auto& slot : sps_) slot.reset();
  for (auto& slot : pps_) slot.reset();
  lastVps_ = nullptr;
  lastSps_ = nullptr;
  lastPps_ = nullptr;
  activeVps_ = nullptr;
  activeSps_ = nullptr;
  info_ = H265StreamInfo{};
}

HRESULT CMiniParserH265::ParseVps(const BYTE* payload, size_t size) {
  auto vps = std::make_unique<H265Vps>();
  RETURN_ON_FAILURE(ParseH265Vps(payload, size, vps.get()));
  auto& slot = vps_[vps->id];
  slot = std::move(vps);
  lastVps_ = slot.get();
  return S_OK;
}

HRESULT CMiniParserH265::ParseSps(const BYTE* payload, size_t size) {
  auto sps = std::make_unique<H265Sps>();
  RETURN_ON_FAILURE(ParseH265Sps(payload, size, sps.get()));
  auto& slot = sps_[sps->id];
  slot = std::move(sps);
  lastSps_ = slot.get();
  return S_OK;
}

HRESULT CMiniParserH265::ParsePps(const BYTE* payload, size_t size) {
  H265SpsTable spsById{};
  for (size_t i = 0; i < sps_.size(); ++i) spsById[i] = sps_[i].get();
  auto pps = std::make_unique<H265Pps>();
  RETURN_ON_FAILURE(ParseH265Pps(payload, size, spsById, pps.get()));
  auto& slot = pps_[pps->id];
  slot = std::move(pps);
  lastPps_ = slot.get();
  return S_OK;
}

HRESULT CMiniParserH265::ParseUnit(const BYTE* header, const BYTE* unitEnd, bool* parsed) {
  *parsed = false;
  const int type = NalUnitType(header);
  // Units of other layers have a syntax of their own; the base layer's sets
  // describe the picture.
  if (NuhLayerId(header) != 0) return S_OK;
  const BYTE* payload = header + kNalHeaderSize;
  const size_t payloadSize = static_cast<size_t>(unitEnd - payload);
  switch (type) {
    case kH265NalVps:
      RETURN_ON_FAILURE(ParseVps(payload, payloadSize));
      break;
    case kH265NalSps:
      RETURN_ON_FAILURE(ParseSps(payload, payloadSize));
      break;
    case kH265NalPps:
      RETURN_ON_FAILURE(ParsePps(payload, payloadSize));
      break;
    default:
      return S_OK;
  }
  *parsed = true;
  return S_OK;
}

HRESULT CMiniParserH265::ParseParameterSets(const BYTE* data, size_t size, H265StreamInfo* info) {
  ResetFeed();
  try {
    ResetTables();
    if (!data) return kParameterSetsIncomplete;
    const BYTE* const end = data + size;
    const BYTE* scan = data;
    while (true) {
      const BYTE* header = FindStartCode(scan, end - scan);
      if (!header) return kParameterSetsIncomplete;
      if (static_cast<size_t>(end - (header - kStartCodeLength)) < kMinUnitSpan) {
        return kParameterSetsIncomplete;
      }
      const BYTE* next = FindStartCode(header + kNalHeaderSize, end - header - kNalHeaderSize);
      const BYTE* unitEnd = next ? next - kStartCodeLength : end;
      scan = unitEnd;
      // Without a following start code a VPS or SPS may still be cut short.
      const int type = NalUnitType(header);
      if (!next && (type == kH265NalVps || type == kH265NalSps)) return kParameterSetsIncomplete;
      bool parsed = false;
      RETURN_ON_FAILURE(ParseUnit(header, unitEnd, &parsed));
      if (parsed && AllKindsSeen()) {
        DeriveStreamInfo();
        if (info) *info = info_;
        return S_OK;
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void CMiniParserH265::DeriveStreamInfo() {
  // The sets in force are those the latest PPS refers to, where present.
  activeSps_ = sps_[lastPps_->spsId] ? sps_[lastPps_->spsId].get() : lastSps_;
  activeVps_ = vps_[activeSps_->vpsId] ? vps_[activeSps_->vpsId].get() : lastVps_;
  const H265Sps& sps = *activeSps_;

  H265StreamInfo info;
  uint32_t width = sps.picWidthInLumaSamples;
  uint32_t height = sps.picHeightInLumaSamples;
  if (sps.conformanceWindow) {
    // The SPS parse made sure the window leaves at least one sample.
    width -= sps.SubWidthC() * (sps.confWinLeftOffset + sps.confWinRightOffset);
    height -= sps.SubHeightC() * (sps.confWinTopOffset + sps.confWinBottomOffset);
  }
  info.pictureWidth = static_cast<int32_t>(width);
  info.pictureHeight = static_cast<int32_t>(height);

  // A zero tick or time scale would give no rate at all: the next source is
  // asked instead.
  const H265Timing& vpsTiming = activeVps_->timing;
  const H265Timing& vuiTiming = sps.vui.timing;
  if (UsableTiming(vpsTiming)) {
    info.frameRate = static_cast<double>(vpsTiming.timeScale) / vpsTiming.numUnitsInTick;
  } else if (sps.vuiPresent && UsableTiming(vuiTiming)) {
    info.frameRate = static_cast<double>(vuiTiming.timeScale) / vuiTiming.numUnitsInTick;
  } else {
    info.frameRate = kDefaultFrameRate;
  }

  info.bitDepthLuma = sps.bitDepthLumaMinus8 + 8;
  info.bitDepthChroma = sps.bitDepthChromaMinus8 + 8;

  if (sps.vuiPresent) {
    const H265Vui& vui = sps.vui;
    // 1:1 is no aspect ratio to report; an extended ratio with a zero term
    // is "unspecified".
    if (vui.aspectRatioIdc == kH265AspectRatioExtendedSar) {
      if (vui.sarWidth != 0 && vui.sarHeight != 0) {
        info.hasSampleAspect = 1;
        info.sampleAspectW = vui.sarWidth;
        info.sampleAspectH = vui.sarHeight;
      }
    } else if (vui.aspectRatioIdc >= 2 &&
               H265TableSampleAspect(vui.aspectRatioIdc, &info.sampleAspectW, &info.sampleAspectH)) {
      info.hasSampleAspect = 1;
    }
  }

  info.progressive = sps.profileTierLevel.ProgressiveSource() ? 1 : 0;
  info.profileIdc = sps.profileTierLevel.profileIdc;
  info.levelIdc = sps.profileTierLevel.levelIdc;
  info_ = info;
}

void CMiniParserH265::ResetFeed() {
  Empty();
  state_ = State::kCollecting;
  failure_ = S_OK;
  scannedUpTo_ = 0;
  openUnitHeader_ = kNoUnit;
  parameterSetsStart_ = 0;
  parameterSetsLength_ = 0;
}

HRESULT CMiniParserH265::GrowForFeed(LONG size) {
  if (Capacity() - Length() >= size) return S_OK;
  // CBuffer grows to exactly what is asked; doubling keeps many small feeds
  // from copying the collected bytes over and over.
  const LONG doubled = Capacity() < kMaxCollectedBytes / 2 ? 2 * Capacity() : kMaxCollectedBytes;
  const LONG needed = Length() + size;
  return Reserve(needed > doubled ? needed : doubled) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMiniParserH265::CloseFedUnit(size_t headerOffset, size_t endOffset) {
  bool parsed = false;
  try {
    RETURN_ON_FAILURE(ParseUnit(Data() + headerOffset, Data() + endOffset, &parsed));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!parsed) return S_FALSE;
  if (parameterSetsLength_ == 0) parameterSetsStart_ = headerOffset - kStartCodeLength;
  parameterSetsLength_ = endOffset - parameterSetsStart_;
  if (!AllKindsSeen()) return S_FALSE;
  DeriveStreamInfo();
  return S_OK;
}

HRESULT CMiniParserH265::Feed(const BYTE* data, LONG size) {
  if (state_ == State::kComplete) return S_OK;
  if (state_ == State::kFailed) return failure_;
  if (size < 0 || (size > 0 && !data)) return E_INVALIDARG;
  if (size > kMaxCollectedBytes - Length()) return VFW_E_BUFFER_OVERFLOW;
  // The first bytes start from empty tables, whatever a ParseParameterSets
  // call left in them.
  if (Length() == 0) ResetTables();
  RETURN_ON_FAILURE(GrowForFeed(size));
  RETURN_ON_FAILURE(Append(data, size));

  // A start code may straddle the old end, so look a few bytes back; the
  // next unit's start code lies at least a NAL header past the open one's.
  const size_t length = static_cast<size_t>(Length());
  const size_t lookBack = kStartCodeLength + 1;
  size_t from = scannedUpTo_ > lookBack ? scannedUpTo_ - lookBack : 0;
  if (openUnitHeader_ != kNoUnit && from < openUnitHeader_ + kNalHeaderSize) {
    from = openUnitHeader_ + kNalHeaderSize;
  }
  scannedUpTo_ = length;
  while (const BYTE* header = FindStartCode(Data() + from, length - from)) {
    const size_t headerOffset = static_cast<size_t>(header - Data());
    if (openUnitHeader_ != kNoUnit) {
      const HRESULT hr = CloseFedUnit(openUnitHeader_, headerOffset - kStartCodeLength);
      if (FAILED(hr)) {
        state_ = State::kFailed;
        failure_ = hr;
        return hr;
      }
      if (hr == S_OK) {
        state_ = State::kComplete;
        return S_OK;
      }
    }
    openUnitHeader_ = headerOffset;
    from = headerOffset + kNalHeaderSize;
  }
  return S_FALSE;
}

HRESULT CMiniParserH265::GetMediaType(CMediaType* mediaType) {
  if (!mediaType) return E_POINTER;
  if (state_ != State::kComplete) return VFW_E_NOT_FOUND;
  const ULONG extraSize = static_cast<ULONG>(parameterSetsLength_);
  const ULONG formatSize = sizeof(VIDEOINFOHEADER) + extraSize;

  FreeMediaType(*mediaType);
  mediaType->InitMediaType();
  mediaType->SetType(&MEDIATYPE_Video);
  const GUID subtype = FourCCSubtype(FourCC("H265"));
  mediaType->SetSubtype(&subtype);
  mediaType->SetFormatType(&FORMAT_VideoInfo);
  mediaType->SetTemporalCompression(TRUE);
  mediaType->SetVariableSize();
  BYTE* format = mediaType->AllocFormatBuffer(formatSize);
  if (!format) return E_OUTOFMEMORY;
  std::memset(format, 0, formatSize);

  VIDEOINFOHEADER header{};
  header.AvgTimePerFrame = static_cast<REFERENCE_TIME>(std::llround(UNITS / info_.frameRate));
  header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER) + extraSize;
  header.bmiHeader.biWidth = info_.pictureWidth;
  header.bmiHeader.biHeight = info_.pictureHeight;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = kCompressedBitCount;
  header.bmiHeader.biCompression = FourCCAsDword("H265");
  std::memcpy(format, &header, sizeof header);
  std::memcpy(format + sizeof header, Data() + parameterSetsStart_, extraSize);
  return S_OK;
}

HRESULT ParseH265StartCodes(const BYTE* data, size_t size, H265StreamInfo* info) {
  CMiniParserH265 parser;
  return parser.ParseParameterSets(data, size, info);
}

HRESULT ParseH265Config(const BYTE* config, size_t size, std::vector<BYTE>* startCodes,
                        H265StreamInfo* info) {
  startCodes->clear();
  RETURN_ON_FAILURE(ConfigToStartCodes(config, size, startCodes));
  return ParseH265StartCodes(startCodes->data(), startCodes->size(), info);
}
