#include "streams/h265_common_syntax.h"

namespace {

constexpr uint32_t kMaxCpbCountMinus1 = 31;
constexpr uint32_t kMaxElementalDurationInTcMinus1 = 2047;
constexpr int kScalingListSizeCount = 4;
constexpr uint32_t kScalingListMatrixCount = 6;

// sub_layer_hrd_parameters: one entry per coded picture buffer.
HRESULT ReadSubLayerHrdParameters(CRbspBitReader& reader, uint32_t cpbCountMinus1,
                                  bool subPicHrdParamsPresent) {
  for (uint32_t i = 0; i <= cpbCountMinus1; ++i) {
    uint32_t value = 0;
    RETURN_ON_FAILURE(reader.ReadUe(&value));  // bit_rate_value_minus1
    RETURN_ON_FAILURE(reader.ReadUe(&value));  // cpb_size_value_minus1
    if (subPicHrdParamsPresent) {
      RETURN_ON_FAILURE(reader.ReadUe(&value));  // cpb_size_du_value_minus1
      RETURN_ON_FAILURE(reader.ReadUe(&value));  // bit_rate_du_value_minus1
    }
    reader.SkipBits(1);  // cbr_flag
  }
  return S_OK;
}

}  // namespace

HRESULT ReadH265ProfileTierLevel(CRbspBitReader& reader, uint32_t maxSubLayersMinus1,
                                 H265ProfileTierLevel* profileTierLevel) {
  profileTierLevel->profileSpace = reader.ReadBits(2);
  profileTierLevel->tierFlag = reader.ReadBits(1);
  profileTierLevel->profileIdc = reader.ReadBits(5);
  profileTierLevel->compatibilityFlags = reader.ReadBits(32);
  const uint64_t constraintHigh = reader.ReadBits(16);
  profileTierLevel->constraintFlags = (constraintHigh << 32) | reader.ReadBits(32);
  profileTierLevel->levelIdc = reader.ReadBits(8);

  std::array<bool, kH265MaxSubLayers> profilePresent{};
  std::array<bool, kH265MaxSubLayers> levelPresent{};
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    profilePresent[i] = reader.ReadFlag();
    levelPresent[i] = reader.ReadFlag();
  }
  if (maxSubLayersMinus1 > 0) {
    reader.SkipBits(2 * (8 - maxSubLayersMinus1));  // reserved_zero_2bits
  }
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    // Profile space to inbld flag: 2 + 1 + 5 + 32 + 48 bits.
    if (profilePresent[i]) reader.SkipBits(88);
    if (levelPresent[i]) reader.SkipBits(8);
  }
  return S_OK;
}

HRESULT ReadH265HrdParameters(CRbspBitReader& reader, bool commonInfPresent,
                              uint32_t maxSubLayersMinus1) {
  bool nalHrdPresent = false;
  bool vclHrdPresent = false;
  bool subPicHrdParamsPresent = false;
  if (commonInfPresent) {
    nalHrdPresent = reader.ReadFlag();
    vclHrdPresent = reader.ReadFlag();
    if (nalHrdPresent || vclHrdPresent) {
      subPicHrdParamsPresent = reader.ReadFlag();
      if (subPicHrdParamsPresent) {
        // tick_divisor_minus2, du_cpb_removal_delay_increment_length_minus1,
        // sub_pic_cpb_params_in_pic_timing_sei_flag, dpb_output_delay_du_length_minus1
        reader.SkipBits(8 + 5 + 1 + 5);
      }
      reader.SkipBits(4 + 4);  // bit_rate_scale, cpb_size_scale
      if (subPicHrdParamsPresent) reader.SkipBits(4);  // cpb_size_du_scale
      // initial_cpb_removal_delay_length_minus1, au_cpb_removal_delay_length_minus1,
      // dpb_output_delay_length_minus1
      reader.SkipBits(5 + 5 + 5);
    }
  }
  for (uint32_t i = 0; i <= maxSubLayersMinus1; ++i) {
    const bool fixedPicRateGeneral = reader.ReadFlag();
    // Inferred to be 1 when the general flag is set.
    const bool fixedPicRateWithinCvs = fixedPicRateGeneral || reader.ReadFlag();
    bool lowDelayHrd = false;
    uint32_t value = 0;
    if (fixedPicRateWithinCvs) {
      RETURN_ON_FAILURE(reader.ReadUeMax(kMaxElementalDurationInTcMinus1, &value));
    } else {
      lowDelayHrd = reader.ReadFlag();
    }
    uint32_t cpbCountMinus1 = 0;
    if (!lowDelayHrd) RETURN_ON_FAILURE(reader.ReadUeMax(kMaxCpbCountMinus1, &cpbCountMinus1));
    if (nalHrdPresent) {
      RETURN_ON_FAILURE(ReadSubLayerHrdParameters(reader, cpbCountMinus1, subPicHrdParamsPresent));
    }
    if (vclHrdPresent) {
      RETURN_ON_FAILURE(ReadSubLayerHrdParameters(reader, cpbCountMinus1, subPicHrdParamsPresent));
    }
  }
  return S_OK;
}

HRESULT ReadH265ScalingListData(CRbspBitReader& reader) {
  for (int sizeId = 0; sizeId < kScalingListSizeCount; ++sizeId) {
    // The 32x32 lists exist for luma and chroma only: every third matrix.
    const uint32_t matrixStep = sizeId == 3 ? 3 : 1;
    for (uint32_t matrixId = 0; matrixId < kScalingListMatrixCount; matrixId += matrixStep) {
      if (!reader.ReadFlag()) {  // scaling_list_pred_mode_flag
        uint32_t predMatrixIdDelta = 0;
        RETURN_ON_FAILURE(reader.ReadUeMax(matrixId / matrixStep, &predMatrixIdDelta));
        continue;
      }
      const int coefficientCount = sizeId == 0 ? 16 : 64;
      int32_t value = 0;
      if (sizeId > 1) {
        RETURN_ON_FAILURE(reader.ReadSeRange(-7, 247, &value));  // scaling_list_dc_coef_minus8
      }
      for (int i = 0; i < coefficientCount; ++i) {
        RETURN_ON_FAILURE(reader.ReadSeRange(-128, 127, &value));  // scaling_list_delta_coef
      }
    }
  }
  return S_OK;
}
