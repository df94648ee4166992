#include "streams/h265_vui.h"

#include "streams/h265_common_syntax.h"

namespace {

constexpr uint32_t kMaxChromaSampleLocType = 5;
constexpr uint32_t kMaxMinSpatialSegmentationIdc = 4095;
constexpr uint32_t kMaxBytesOrBitsDenom = 16;
// 15 in the first edition; later editions allow 16, so 16 is not refused.
constexpr uint32_t kMaxLog2MvLength = 16;

struct SampleAspect {
  uint32_t width;
  uint32_t height;
};

// Indexed by aspect_ratio_idc; 0 is "unspecified".
constexpr SampleAspect kTableSampleAspects[] = {
    {0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},  {3, 2},   {2, 1},
};

}  // namespace

bool H265TableSampleAspect(uint32_t aspectRatioIdc, uint32_t* width, uint32_t* height) {
  if (aspectRatioIdc == 0 || aspectRatioIdc >= std::size(kTableSampleAspects)) return false;
  *width = kTableSampleAspects[aspectRatioIdc].width;
  *height = kTableSampleAspects[aspectRatioIdc].height;
  return true;
}

HRESULT ReadH265Vui(CRbspBitReader& reader, uint32_t maxSubLayersMinus1, H265Vui* vui) {
  uint32_t value = 0;
  if (reader.ReadFlag()) {  // aspect_ratio_info_present_flag
    vui->aspectRatioIdc = reader.ReadBits(8);
    if (vui->aspectRatioIdc == kH265AspectRatioExtendedSar) {
      vui->sarWidth = reader.ReadBits(16);
      vui->sarHeight = reader.ReadBits(16);
    }
  }
  if (reader.ReadFlag()) reader.SkipBits(1);  // overscan_info_present, overscan_appropriate
  if (reader.ReadFlag()) {                    // video_signal_type_present_flag
    reader.SkipBits(3 + 1);                   // video_format, video_full_range_flag
    if (reader.ReadFlag()) reader.SkipBits(3 * 8);  // colour description
  }
  if (reader.ReadFlag()) {  // chroma_loc_info_present_flag
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxChromaSampleLocType, &value));
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxChromaSampleLocType, &value));
  }
  // neutral_chroma_indication_flag, field_seq_flag, frame_field_info_present_flag
  reader.SkipBits(3);
  if (reader.ReadFlag()) {  // default_display_window_flag
    for (int i = 0; i < 4; ++i) RETURN_ON_FAILURE(reader.ReadUe(&value));
  }
  if (reader.ReadFlag()) {  // vui_timing_info_present_flag
    vui->timing.present = true;
    vui->timing.numUnitsInTick = reader.ReadBits(32);
    vui->timing.timeScale = reader.ReadBits(32);
    if (reader.ReadFlag()) {  // vui_poc_proportional_to_timing_flag
      RETURN_ON_FAILURE(reader.ReadUe(&value));  // vui_num_ticks_poc_diff_one_minus1
    }
    if (reader.ReadFlag()) {  // vui_hrd_parameters_present_flag
      RETURN_ON_FAILURE(ReadH265HrdParameters(reader, true, maxSubLayersMinus1));
    }
  }
  if (reader.ReadFlag()) {  // bitstream_restriction_flag
    vui->bitstreamRestriction = true;
    // tiles_fixed_structure, motion_vectors_over_pic_boundaries,
    // restricted_ref_pic_lists
    reader.SkipBits(3);
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxMinSpatialSegmentationIdc,
                                       &vui->minSpatialSegmentationIdc));
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxBytesOrBitsDenom, &value));  // max_bytes_per_pic_denom
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxBytesOrBitsDenom, &value));  // max_bits_per_min_cu_denom
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxLog2MvLength, &value));  // horizontal
    RETURN_ON_FAILURE(reader.ReadUeMax(kMaxLog2MvLength, &value));  // vertical
  }
  return S_OK;
}
