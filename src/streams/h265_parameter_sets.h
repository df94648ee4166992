// Parsed H.265 video, sequence and picture parameter sets: the fields that the
// mini parser derives stream information from, plus what later syntax of the
// same unit depends on. Each Parse function reads one unit's payload (the
// bytes after the two-byte NAL unit header, emulation prevention still in)
// and checks every value range it reads; a violation is kMalformedBitstream.
#pragma once

#include "platform/hresult.h"
#include "platform/wintypes.h"

#include <array>
#include <cstddef>
#include <vector>

inline constexpr uint32_t kH265MaxVpsCount = 16;
inline constexpr uint32_t kH265MaxSpsCount = 16;
inline constexpr uint32_t kH265MaxPpsCount = 64;
inline constexpr uint32_t kH265MaxSubLayers = 7;
inline constexpr uint32_t kH265MaxShortTermRefPicSets = 64;
inline constexpr uint32_t kH265MaxLongTermRefPicsSps = 32;
// The largest decoded picture buffer, and so the most reference pictures.
inline constexpr uint32_t kH265MaxDpbSize = 16;

// NAL unit types the mini parser and the hvcC record care about.
inline constexpr int kH265NalVps = 32;
inline constexpr int kH265NalSps = 33;
inline constexpr int kH265NalPps = 34;
inline constexpr int kH265NalPrefixSei = 39;

struct H265ProfileTierLevel {
  uint32_t profileSpace = 0;
  uint32_t tierFlag = 0;
  uint32_t profileIdc = 0;
  uint32_t compatibilityFlags = 0;  // flag 0 in the most significant bit
  uint64_t constraintFlags = 0;     // the 48 bits from progressive_source_flag on
  uint32_t levelIdc = 0;

  bool ProgressiveSource() const { return (constraintFlags >> 47) & 1; }
};

struct H265Timing {
  bool present = false;
  uint32_t numUnitsInTick = 0;
  uint32_t timeScale = 0;
};

struct H265Vps {
  uint32_t id = 0;
  uint32_t maxSubLayersMinus1 = 0;
  bool temporalIdNesting = false;
  H265ProfileTierLevel profileTierLevel;
  uint32_t numLayerSetsMinus1 = 0;
  H265Timing timing;
  uint32_t numHrdParameters = 0;
};

struct H265ShortTermRefPicSet {
  uint32_t numNegativePics = 0;
  uint32_t numPositivePics = 0;
  std::array<int32_t, kH265MaxDpbSize> deltaPocS0{};
  std::array<int32_t, kH265MaxDpbSize> deltaPocS1{};
  std::array<bool, kH265MaxDpbSize> usedByCurrPicS0{};
  std::array<bool, kH265MaxDpbSize> usedByCurrPicS1{};

  uint32_t NumDeltaPocs() const { return numNegativePics + numPositivePics; }
};

struct H265Vui {
  uint32_t aspectRatioIdc = 0;  // 0 when no aspect ratio is given
  uint32_t sarWidth = 0;
  uint32_t sarHeight = 0;
  H265Timing timing;
  bool bitstreamRestriction = false;
  uint32_t minSpatialSegmentationIdc = 0;
};

struct H265Sps {
  uint32_t vpsId = 0;
  uint32_t maxSubLayersMinus1 = 0;
  bool temporalIdNesting = false;
  H265ProfileTierLevel profileTierLevel;
  uint32_t id = 0;
  uint32_t chromaFormatIdc = 0;
  bool separateColourPlane = false;
  uint32_t picWidthInLumaSamples = 0;
  uint32_t picHeightInLumaSamples = 0;
  bool conformanceWindow = false;
  uint32_t confWinLeftOffset = 0;
  uint32_t confWinRightOffset = 0;
  uint32_t confWinTopOffset = 0;
  uint32_t confWinBottomOffset = 0;
  uint32_t bitDepthLumaMinus8 = 0;
  uint32_t bitDepthChromaMinus8 = 0;
  uint32_t log2MaxPicOrderCntLsb = 0;
  std::array<uint32_t, kH265MaxSubLayers> maxDecPicBufferingMinus1{};
  std::array<uint32_t, kH265MaxSubLayers> maxNumReorderPics{};
  uint32_t log2MinCbSize = 0;
  uint32_t log2CtbSize = 0;
  uint32_t log2MinTbSize = 0;
  uint32_t log2MaxTbSize = 0;
  bool scalingListEnabled = false;
  bool pcmEnabled = false;
  // Owned on the heap: up to 64 sets of 16 entries each.
  std::vector<H265ShortTermRefPicSet> shortTermRefPicSets;
  bool longTermRefPicsPresent = false;
  uint32_t numLongTermRefPicsSps = 0;
  bool vuiPresent = false;
  H265Vui vui;

  // The chroma subsampling factors that scale the conformance window.
  uint32_t SubWidthC() const;
  uint32_t SubHeightC() const;
};

struct H265Pps {
  uint32_t id = 0;
  uint32_t spsId = 0;
  bool transformSkipEnabled = false;
  bool tilesEnabled = false;
  uint32_t numTileColumnsMinus1 = 0;
  uint32_t numTileRowsMinus1 = 0;
  bool uniformSpacing = true;
  // Owned on the heap; only filled without uniform spacing.
  std::vector<uint32_t> columnWidthMinus1;
  std::vector<uint32_t> rowHeightMinus1;
  bool rangeExtension = false;
};

HRESULT ParseH265Vps(const BYTE* payload, size_t size, H265Vps* vps);
HRESULT ParseH265Sps(const BYTE* payload, size_t size, H265Sps* sps);
// The sequence parameter sets seen so far, by id (null where none was).
using H265SpsTable = std::array<const H265Sps*, kH265MaxSpsCount>;

// When the PPS's own SPS has been seen, its sizes bound the PPS fields that
// depend on it; otherwise the loosest bounds H.265 allows apply.
HRESULT ParseH265Pps(const BYTE* payload, size_t size, const H265SpsTable& spsById,
                     H265Pps* pps);
