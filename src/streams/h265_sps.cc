#include "streams/h265_common_syntax.h"
#include "streams/h265_vui.h"

#include <algorithm>

namespace {

constexpr uint32_t kMaxChromaFormatIdc = 3;
constexpr uint32_t kMaxBitDepthMinus8 = 8;
constexpr uint32_t kMaxLog2MaxPicOrderCntLsbMinus4 = 12;
constexpr uint32_t kMinLog2CtbSize = 4;
constexpr uint32_t kMaxLog2CtbSize = 6;
constexpr uint32_t kMaxLog2TransformSize = 5;
constexpr uint32_t kMaxPcmLog2Size = 5;
constexpr uint32_t kMaxDeltaPocMinus1 = (1u << 15) - 1;
constexpr uint32_t kMaxAbsDeltaRpsMinus1 = (1u << 15) - 1;
// sqrt(8 x MaxLumaPs) of the highest level: no conforming picture is wider
// or taller, and the derived sizes stay far from overflow.
constexpr uint32_t kMaxPictureDimension = 16888;

// The sets before `index` are already parsed; predicted sets refer back to one
// of them. The counts are checked against the DPB size so that the delta
// arrays can never overflow.
HRESULT ReadShortTermRefPicSet(CRbspBitReader& reader, uint32_t index, uint32_t maxDecPicBufferingMinus1,
                               std::vector<H265ShortTermRefPicSet>& sets) {
  H265ShortTermRefPicSet& set = sets[index];
  const bool interRefPicSetPrediction = index != 0 && reader.ReadFlag();
  if (interRefPicSetPrediction) {
    // Inside the SPS the reference is always the set just before this one.
    const H265ShortTermRefPicSet& ref = sets[index - 1];
    const bool deltaRpsSign = reader.ReadFlag();
    uint32_t absDeltaRpsMinus1 = 0;
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxAbsDeltaRpsMinus1, &absDeltaRpsMinus1));
    const int32_t deltaRps = (deltaRpsSign ? -1 : 1) * static_cast<int32_t>(absDeltaRpsMinus1 + 1);

    std::array<bool, kH265MaxDpbSize + 1> usedByCurrPic{};
    std::array<bool, kH265MaxDpbSize + 1> useDelta{};
    const uint32_t refCount = ref.NumDeltaPocs();
    for (uint32_t j = 0; j <= refCount; ++j) {
      usedByCurrPic[j] = reader.ReadFlag();
      useDelta[j] = usedByCurrPic[j] || reader.ReadFlag();
    }

    uint32_t count = 0;
    auto addNegative = [&](int32_t deltaPoc, uint32_t flagIndex) -> bool {
      if (deltaPoc >= 0 || !useDelta[flagIndex]) return true;
      if (count >= kH265MaxDpbSize) return false;
      set.deltaPocS0[count] = deltaPoc;
      set.usedByCurrPicS0[count++] = usedByCurrPic[flagIndex];
      return true;
    };
    for (uint32_t j = ref.numPositivePics; j-- > 0;) {
      if (!addNegative(ref.deltaPocS1[j] + deltaRps, ref.numNegativePics + j)) return kMalformedBitstream;
    }
    if (!addNegative(deltaRps, refCount)) return kMalformedBitstream;
    for (uint32_t j = 0; j < ref.numNegativePics; ++j) {
      if (!addNegative(ref.deltaPocS0[j] + deltaRps, j)) return kMalformedBitstream;
    }
    set.numNegativePics = count;

    count = 0;
    auto addPositive = [&](int32_t deltaPoc, uint32_t flagIndex) -> bool {
      if (deltaPoc <= 0 || !useDelta[flagIndex]) return true;
      if (count >= kH265MaxDpbSize) return false;
      set.deltaPocS1[count] = deltaPoc;
      set.usedByCurrPicS1[count++] = usedByCurrPic[flagIndex];
      return true;
    };
    for (uint32_t j = ref.numNegativePics; j-- > 0;) {
      if (!addPositive(ref.deltaPocS0[j] + deltaRps, j)) return kMalformedBitstream;
    }
    if (!addPositive(deltaRps, refCount)) return kMalformedBitstream;
    for (uint32_t j = 0; j < ref.numPositivePics; ++j) {
      if (!addPositive(ref.deltaPocS1[j] + deltaRps, ref.numNegativePics + j)) return kMalformedBitstream;
    }
    set.numPositivePics = count;
    return set.NumDeltaPocs() <= kH265MaxDpbSize ? S_OK : kMalformedBitstream;
  }

  RETURN_ON_FAILURE(reader.ReadUeMax(maxDecPicBufferingMinus1, &set.numNegativePics));
  RETURN_ON_FAILURE(reader.ReadUeMax(maxDecPicBufferingMinus1 - set.numNegativePics, &set.numPositivePics));
  int32_t poc = 0;
  for (uint32_t i = 0; i < set.numNegativePics; ++i) {
    uint32_t deltaPocMinus1 = 0;
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxDeltaPocMinus1, &deltaPocMinus1));
    poc -= static_cast<int32_t>(deltaPocMinus1 + 1);
    set.deltaPocS0[i] = poc;
    set.usedByCurrPicS0[i] = reader.ReadFlag();
  }
  poc = 0;
  for (uint32_t i = 0; i < set.numPositivePics; ++i) {
    uint32_t deltaPocMinus1 = 0;
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxDeltaPocMinus1, &deltaPocMinus1));
    poc += static_cast<int32_t>(deltaPocMinus1 + 1);
    set.deltaPocS1[i] = poc;
    set.usedByCurrPicS1[i] = reader.ReadFlag();
  }
  return S_OK;
}

HRESULT ReadPictureSize(CRbspBitReader& reader, H265Sps* sps) {
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxPictureDimension, &sps->picWidthInLumaSamples));
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxPictureDimension, &sps->picHeightInLumaSamples));
  if (sps->picWidthInLumaSamples == 0 || sps->picHeightInLumaSamples == 0) return kMalformedBitstream;
  sps->conformanceWindow = reader.ReadFlag();
  if (sps->conformanceWindow) {
    RETURN_ON_FAILURE(reader.ReadUe(&sps->confWinLeftOffset));
    RETURN_ON_FAILURE(reader.ReadUe(&sps->confWinRightOffset));
    RETURN_ON_FAILURE(reader.ReadUe(&sps->confWinTopOffset));
    RETURN_ON_FAILURE(reader.ReadUe(&sps->confWinBottomOffset));
    // The window must leave at least one sample in each direction.
    const uint64_t cropWidth =
        uint64_t{sps->SubWidthC()} * (uint64_t{sps->confWinLeftOffset} + sps->confWinRightOffset);
    const uint64_t cropHeight =
        uint64_t{sps->SubHeightC()} * (uint64_t{sps->confWinTopOffset} + sps->confWinBottomOffset);
    if (cropWidth >= sps->picWidthInLumaSamples || cropHeight >= sps->picHeightInLumaSamples) {
      return kMalformedBitstream;
    }
  }
  return S_OK;
}

HRESULT ReadBlockSizes(CRbspBitReader& reader, H265Sps* sps) {
  uint32_t log2MinCbSizeMinus3 = 0;
  uint32_t log2DiffMaxMinCbSize = 0;
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxLog2CtbSize - 3, &log2MinCbSizeMinus3));
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxLog2CtbSize - 3, &log2DiffMaxMinCbSize));
  sps->log2MinCbSize = log2MinCbSizeMinus3 + 3;
  sps->log2CtbSize = sps->log2MinCbSize + log2DiffMaxMinCbSize;
  if (sps->log2CtbSize < kMinLog2CtbSize || sps->log2CtbSize > kMaxLog2CtbSize) return kMalformedBitstream;
  const uint32_t minCbMask = (1u << sps->log2MinCbSize) - 1;
  if ((sps->picWidthInLumaSamples & minCbMask) != 0 || (sps->picHeightInLumaSamples & minCbMask) != 0) {
    return kMalformedBitstream;
  }

  uint32_t log2MinTbSizeMinus2 = 0;
  uint32_t log2DiffMaxMinTbSize = 0;
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxLog2TransformSize - 2, &log2MinTbSizeMinus2));
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxLog2TransformSize, &log2DiffMaxMinTbSize));
  sps->log2MinTbSize = log2MinTbSizeMinus2 + 2;
  sps->log2MaxTbSize = sps->log2MinTbSize + log2DiffMaxMinTbSize;
  if (sps->log2MinTbSize >= sps->log2MinCbSize ||
      sps->log2MaxTbSize > std::min(sps->log2CtbSize, kMaxLog2TransformSize)) {
    return kMalformedBitstream;
  }
  uint32_t depth = 0;
  const uint32_t maxDepth = sps->log2CtbSize - sps->log2MinTbSize;
  RETURN_ON_FAILURE(reader.ReadUeMax(maxDepth, &depth));  // max_transform_hierarchy_depth_inter
  RETURN_ON_FAILURE(reader.ReadUeMax(maxDepth, &depth));  // max_transform_hierarchy_depth_intra
  return S_OK;
}

HRESULT ReadPcmParameters(CRbspBitReader& reader, const H265Sps& sps) {
  const uint32_t pcmBitDepthLuma = reader.ReadBits(4) + 1;
  const uint32_t pcmBitDepthChroma = reader.ReadBits(4) + 1;
  if (pcmBitDepthLuma > sps.bitDepthLumaMinus8 + 8 || pcmBitDepthChroma > sps.bitDepthChromaMinus8 + 8) {
    return kMalformedBitstream;
  }
  uint32_t log2MinPcmSizeMinus3 = 0;
  uint32_t log2DiffMaxMinPcmSize = 0;
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxPcmLog2Size - 3, &log2MinPcmSizeMinus3));
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxPcmLog2Size - 3, &log2DiffMaxMinPcmSize));
  const uint32_t log2MinPcmSize = log2MinPcmSizeMinus3 + 3;
  const uint32_t largestPcmLog2Size = std::min(sps.log2CtbSize, kMaxPcmLog2Size);
  if (log2MinPcmSize < std::min(sps.log2MinCbSize, kMaxPcmLog2Size) ||
      log2MinPcmSize + log2DiffMaxMinPcmSize > largestPcmLog2Size) {
    return kMalformedBitstream;
  }
  reader.SkipBits(1);  // pcm_loop_filter_disabled_flag
  return S_OK;
}

HRESULT ReadSubLayerOrdering(CRbspBitReader& reader, H265Sps* sps) {
  const bool orderingInfoPresent = reader.ReadFlag();
  const uint32_t first = orderingInfoPresent ? 0 : sps->maxSubLayersMinus1;
  for (uint32_t i = first; i <= sps->maxSubLayersMinus1; ++i) {
    uint32_t latencyIncreasePlus1 = 0;
    RETURN_ON_FAILURE(reader.ReadUeMax(kH265MaxDpbSize - 1, &sps->maxDecPicBufferingMinus1[i]));
    RETURN_ON_FAILURE(reader.ReadUeMax(sps->maxDecPicBufferingMinus1[i], &sps->maxNumReorderPics[i]));
    RETURN_ON_FAILURE(reader.ReadUe(&latencyIncreasePlus1));
  }
  // Without per-layer values, every sub-layer takes the highest one's.
  for (uint32_t i = 0; i < first; ++i) {
    sps->maxDecPicBufferingMinus1[i] = sps->maxDecPicBufferingMinus1[first];
    sps->maxNumReorderPics[i] = sps->maxNumReorderPics[first];
  }
  return S_OK;
}

HRESULT ReadReferencePictureSets(CRbspBitReader& reader, H265Sps* sps) {
  uint32_t count = 0;
  RETURN_ON_FAILURE(reader.ReadUeMax(kH265MaxShortTermRefPicSets, &count));
  sps->shortTermRefPicSets.assign(count, H265ShortTermRefPicSet{});
  const uint32_t maxDecPicBufferingMinus1 = sps->maxDecPicBufferingMinus1[sps->maxSubLayersMinus1];
  for (uint32_t i = 0; i < count; ++i) {
    RETURN_ON_FAILURE(ReadShortTermRefPicSet(reader, i, maxDecPicBufferingMinus1, sps->shortTermRefPicSets));
  }
  sps->longTermRefPicsPresent = reader.ReadFlag();
  if (sps->longTermRefPicsPresent) {
    RETURN_ON_FAILURE(reader.ReadUeMax(kH265MaxLongTermRefPicsSps, &sps->numLongTermRefPicsSps));
    for (uint32_t i = 0; i < sps->numLongTermRefPicsSps; ++i) {
      // lt_ref_pic_poc_lsb_sps, used_by_curr_pic_lt_sps_flag
      reader.SkipBits(sps->log2MaxPicOrderCntLsb + 1);
    }
  }
  return S_OK;
}

}  // namespace

uint32_t H265Sps::SubWidthC() const {
  return (chromaFormatIdc == 1 || chromaFormatIdc == 2) ? 2 : 1;
}

uint32_t H265Sps::SubHeightC() const {
  return (chromaFormatIdc == 1 && !separateColourPlane) ? 2 : 1;
}

HRESULT ParseH265Sps(const BYTE* payload, size_t size, H265Sps* sps) {
  CRbspBitReader reader(payload, size);
  *sps = H265Sps{};
  sps->vpsId = reader.ReadBits(4);
  sps->maxSubLayersMinus1 = reader.ReadBits(3);
  if (sps->maxSubLayersMinus1 >= kH265MaxSubLayers) return kMalformedBitstream;
  sps->temporalIdNesting = reader.ReadFlag();
  RETURN_ON_FAILURE(ReadH265ProfileTierLevel(reader, sps->maxSubLayersMinus1, &sps->profileTierLevel));
  RETURN_ON_FAILURE(reader.ReadUeMax(kH265MaxSpsCount - 1, &sps->id));
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxChromaFormatIdc, &sps->chromaFormatIdc));
  if (sps->chromaFormatIdc == 3) sps->separateColourPlane = reader.ReadFlag();
  RETURN_ON_FAILURE(ReadPictureSize(reader, sps));
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxBitDepthMinus8, &sps->bitDepthLumaMinus8));
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxBitDepthMinus8, &sps->bitDepthChromaMinus8));
  uint32_t log2MaxPicOrderCntLsbMinus4 = 0;
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxLog2MaxPicOrderCntLsbMinus4, &log2MaxPicOrderCntLsbMinus4));
  sps->log2MaxPicOrderCntLsb = log2MaxPicOrderCntLsbMinus4 + 4;
  RETURN_ON_FAILURE(ReadSubLayerOrdering(reader, sps));
  RETURN_ON_FAILURE(ReadBlockSizes(reader, sps));

  sps->scalingListEnabled = reader.ReadFlag();
  if (sps->scalingListEnabled && reader.ReadFlag()) {  // sps_scaling_list_data_present_flag
    RETURN_ON_FAILURE(ReadH265ScalingListData(reader));
  }
  reader.SkipBits(2);  // amp_enabled_flag, sample_adaptive_offset_enabled_flag
  sps->pcmEnabled = reader.ReadFlag();
  if (sps->pcmEnabled) RETURN_ON_FAILURE(ReadPcmParameters(reader, *sps));
  RETURN_ON_FAILURE(ReadReferencePictureSets(reader, sps));
  reader.SkipBits(2);  // sps_temporal_mvp_enabled_flag, strong_intra_smoothing_enabled_flag
  sps->vuiPresent = reader.ReadFlag();
  if (sps->vuiPresent) RETURN_ON_FAILURE(ReadH265Vui(reader, sps->maxSubLayersMinus1, &sps->vui));
  // The extensions that follow carry nothing the stream information needs.
  return S_OK;
}
