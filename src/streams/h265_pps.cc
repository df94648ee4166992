#include "streams/h265_common_syntax.h"

#include <algorithm>

namespace {

constexpr uint32_t kMaxNumRefIdxDefaultActiveMinus1 = 14;
constexpr int32_t kMaxChromaQpOffset = 12;
constexpr int32_t kMaxDeblockingOffsetDiv2 = 6;
constexpr uint32_t kMaxChromaQpOffsetListLenMinus1 = 5;
// The most tile columns and rows any level allows.
constexpr uint32_t kMaxTileColumns = 20;
constexpr uint32_t kMaxTileRows = 22;
// Bounds used when the PPS's own SPS has not been seen: the largest CTB, bit
// depth and transform, the deepest coding tree, and the most CTBs across the
// largest picture (16888 samples in 16-sample CTBs).
constexpr uint32_t kLoosestLog2CtbSize = 6;
constexpr uint32_t kLoosestLog2DiffMaxMinCbSize = 3;
constexpr uint32_t kLoosestBitDepth = 16;
constexpr uint32_t kLoosestLog2MaxTbSize = 5;
constexpr uint32_t kLoosestPictureSizeInCtbs = 1056;

// What the PPS ranges depend on, from its SPS or the loosest values.
struct PpsBounds {
  uint32_t log2CtbSize = kLoosestLog2CtbSize;
  uint32_t log2DiffMaxMinCbSize = kLoosestLog2DiffMaxMinCbSize;
  uint32_t bitDepthLuma = kLoosestBitDepth;
  uint32_t bitDepthChroma = kLoosestBitDepth;
  uint32_t log2MaxTbSize = kLoosestLog2MaxTbSize;
  uint32_t widthInCtbs = kLoosestPictureSizeInCtbs;
  uint32_t heightInCtbs = kLoosestPictureSizeInCtbs;

  static PpsBounds From(const H265Sps* sps) {
    PpsBounds bounds;
    if (!sps) return bounds;
    bounds.log2CtbSize = sps->log2CtbSize;
    bounds.log2DiffMaxMinCbSize = sps->log2CtbSize - sps->log2MinCbSize;
    bounds.bitDepthLuma = sps->bitDepthLumaMinus8 + 8;
    bounds.bitDepthChroma = sps->bitDepthChromaMinus8 + 8;
    bounds.log2MaxTbSize = sps->log2MaxTbSize;
    const uint32_t ctbSize = 1u << sps->log2CtbSize;
    bounds.widthInCtbs = (sps->picWidthInLumaSamples + ctbSize - 1) / ctbSize;
    bounds.heightInCtbs = (sps->picHeightInLumaSamples + ctbSize - 1) / ctbSize;
    return bounds;
  }
};

HRESULT ReadTiles(CRbspBitReader& reader, const PpsBounds& bounds, H265Pps* pps) {
  const uint32_t maxColumns = std::min(bounds.widthInCtbs, kMaxTileColumns);
  const uint32_t maxRows = std::min(bounds.heightInCtbs, kMaxTileRows);
  RETURN_ON_FAILURE(reader.ReadUeMax(maxColumns - 1, &pps->numTileColumnsMinus1));
  RETURN_ON_FAILURE(reader.ReadUeMax(maxRows - 1, &pps->numTileRowsMinus1));
  pps->uniformSpacing = reader.ReadFlag();
  if (!pps->uniformSpacing) {
    pps->columnWidthMinus1.resize(pps->numTileColumnsMinus1);
    pps->rowHeightMinus1.resize(pps->numTileRowsMinus1);
    // The explicit sizes leave the last column and row at least one CTB.
    uint64_t usedColumns = 0;
    for (uint32_t& width : pps->columnWidthMinus1) {
      RETURN_ON_FAILURE(reader.ReadUeMax(bounds.widthInCtbs - 1, &width));
      usedColumns += width + 1;
    }
    uint64_t usedRows = 0;
    for (uint32_t& height : pps->rowHeightMinus1) {
      RETURN_ON_FAILURE(reader.ReadUeMax(bounds.heightInCtbs - 1, &height));
      usedRows += height + 1;
    }
    if (usedColumns >= bounds.widthInCtbs || usedRows >= bounds.heightInCtbs) return kMalformedBitstream;
  }
  reader.SkipBits(1);  // loop_filter_across_tiles_enabled_flag
  return S_OK;
}

HRESULT ReadDeblockingControl(CRbspBitReader& reader) {
  reader.SkipBits(1);  // deblocking_filter_override_enabled_flag
  if (!reader.ReadFlag()) {  // pps_deblocking_filter_disabled_flag
    int32_t offset = 0;
    RETURN_ON_FAILURE(reader.ReadSeRange(-kMaxDeblockingOffsetDiv2, kMaxDeblockingOffsetDiv2, &offset));
    RETURN_ON_FAILURE(reader.ReadSeRange(-kMaxDeblockingOffsetDiv2, kMaxDeblockingOffsetDiv2, &offset));
  }
  return S_OK;
}

HRESULT ReadRangeExtension(CRbspBitReader& reader, const PpsBounds& bounds, const H265Pps& pps) {
  uint32_t value = 0;
  if (pps.transformSkipEnabled) {
    // log2_max_transform_skip_block_size_minus2
    RETURN_ON_FAILURE(reader.ReadUeMax(bounds.log2MaxTbSize - 2, &value));
  }
  reader.SkipBits(1);  // cross_component_prediction_enabled_flag
  if (reader.ReadFlag()) {  // chroma_qp_offset_list_enabled_flag
    RETURN_ON_FAILURE(reader.ReadUeMax(bounds.log2DiffMaxMinCbSize, &value));
    uint32_t listLenMinus1 = 0;
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxChromaQpOffsetListLenMinus1, &listLenMinus1));
    for (uint32_t i = 0; i <= listLenMinus1; ++i) {
      int32_t offset = 0;
      RETURN_ON_FAILURE(reader.ReadSeRange(-kMaxChromaQpOffset, kMaxChromaQpOffset, &offset));
      RETURN_ON_FAILURE(reader.ReadSeRange(-kMaxChromaQpOffset, kMaxChromaQpOffset, &offset));
    }
  }
  const auto saoOffsetScaleLimit = [](uint32_t bitDepth) { return bitDepth > 10 ? bitDepth - 10 : 0; };
  RETURN_ON_FAILURE(reader.ReadUeMax(saoOffsetScaleLimit(bounds.bitDepthLuma), &value));
  RETURN_ON_FAILURE(reader.ReadUeMax(saoOffsetScaleLimit(bounds.bitDepthChroma), &value));
  return S_OK;
}

}  // namespace

HRESULT ParseH265Pps(const BYTE* payload, size_t size, const H265SpsTable& spsById, H265Pps* pps) {
  CRbspBitReader reader(payload, size);
  *pps = H265Pps{};
  RETURN_ON_FAILURE(reader.ReadUeMax(kH265MaxPpsCount - 1, &pps->id));
  RETURN_ON_FAILURE(reader.ReadUeMax(kH265MaxSpsCount - 1, &pps->spsId));
  const PpsBounds bounds = PpsBounds::From(spsById[pps->spsId]);

  // dependent_slice_segments_enabled_flag, output_flag_present_flag,
  // num_extra_slice_header_bits, sign_data_hiding_enabled_flag, cabac_init_present_flag
  reader.SkipBits(1 + 1 + 3 + 1 + 1);
  uint32_t value = 0;
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxNumRefIdxDefaultActiveMinus1, &value));
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxNumRefIdxDefaultActiveMinus1, &value));
  int32_t signedValue = 0;
  const int32_t qpBdOffsetY = 6 * static_cast<int32_t>(bounds.bitDepthLuma - 8);
  RETURN_ON_FAILURE(reader.ReadSeRange(-(26 + qpBdOffsetY), 25, &signedValue));  // init_qp_minus26
  reader.SkipBits(1);  // constrained_intra_pred_flag
  pps->transformSkipEnabled = reader.ReadFlag();
  if (reader.ReadFlag()) {  // cu_qp_delta_enabled_flag
    RETURN_ON_FAILURE(reader.ReadUeMax(bounds.log2DiffMaxMinCbSize, &value));  // diff_cu_qp_delta_depth
  }
  RETURN_ON_FAILURE(reader.ReadSeRange(-kMaxChromaQpOffset, kMaxChromaQpOffset, &signedValue));
  RETURN_ON_FAILURE(reader.ReadSeRange(-kMaxChromaQpOffset, kMaxChromaQpOffset, &signedValue));
  // pps_slice_chroma_qp_offsets_present_flag, weighted_pred_flag,
  // weighted_bipred_flag, transquant_bypass_enabled_flag
  reader.SkipBits(4);
  pps->tilesEnabled = reader.ReadFlag();
  reader.SkipBits(1);  // entropy_coding_sync_enabled_flag
  if (pps->tilesEnabled) RETURN_ON_FAILURE(ReadTiles(reader, bounds, pps));
  reader.SkipBits(1);  // pps_loop_filter_across_slices_enabled_flag
  if (reader.ReadFlag()) RETURN_ON_FAILURE(ReadDeblockingControl(reader));
  if (reader.ReadFlag()) RETURN_ON_FAILURE(ReadH265ScalingListData(reader));
  reader.SkipBits(1);  // lists_modification_present_flag
  RETURN_ON_FAILURE(reader.ReadUeMax(bounds.log2CtbSize - 2, &value));  // log2_parallel_merge_level_minus2
  reader.SkipBits(1);  // slice_segment_header_extension_present_flag
  if (reader.ReadFlag()) {  // pps_extension_present_flag
    pps->rangeExtension = reader.ReadFlag();
    // pps_multilayer_extension_flag, pps_3d_extension_flag,
    // pps_scc_extension_flag, pps_extension_4bits: nothing here needs them.
    reader.SkipBits(1 + 1 + 1 + 4);
    if (pps->rangeExtension) RETURN_ON_FAILURE(ReadRangeExtension(reader, bounds, *pps));
  }
  return S_OK;
}
