#include "streams/h265_common_syntax.h"

namespace {

constexpr uint32_t kMaxLayerSetsMinus1 = 1023;

HRESULT ReadVpsSubLayerOrdering(CRbspBitReader& reader, uint32_t maxSubLayersMinus1) {
  const bool orderingInfoPresent = reader.ReadFlag();
  for (uint32_t i = orderingInfoPresent ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
    uint32_t maxDecPicBufferingMinus1 = 0;
    uint32_t value = 0;
    RETURN_ON_FAILURE(reader.ReadUeMax(kH265MaxDpbSize - 1, &maxDecPicBufferingMinus1));
    RETURN_ON_FAILURE(reader.ReadUeMax(maxDecPicBufferingMinus1, &value));  // vps_max_num_reorder_pics
    RETURN_ON_FAILURE(reader.ReadUe(&value));  // vps_max_latency_increase_plus1
  }
  return S_OK;
}

HRESULT ReadVpsTiming(CRbspBitReader& reader, H265Vps* vps) {
  vps->timing.present = true;
  vps->timing.numUnitsInTick = reader.ReadBits(32);
  vps->timing.timeScale = reader.ReadBits(32);
  uint32_t value = 0;
  if (reader.ReadFlag()) {  // vps_poc_proportional_to_timing_flag
    RETURN_ON_FAILURE(reader.ReadUe(&value));  // vps_num_ticks_poc_diff_one_minus1
  }
  RETURN_ON_FAILURE(reader.ReadUeMax(vps->numLayerSetsMinus1 + 1, &vps->numHrdParameters));
  for (uint32_t i = 0; i < vps->numHrdParameters; ++i) {
    RETURN_ON_FAILURE(reader.ReadUeMax(vps->numLayerSetsMinus1, &value));  // hrd_layer_set_idx
    // The first set always carries the common information.
    const bool commonInfPresent = i == 0 || reader.ReadFlag();
    RETURN_ON_FAILURE(ReadH265HrdParameters(reader, commonInfPresent, vps->maxSubLayersMinus1));
  }
  return S_OK;
}

}  // namespace

HRESULT ParseH265Vps(const BYTE* payload, size_t size, H265Vps* vps) {
  CRbspBitReader reader(payload, size);
  *vps = H265Vps{};
  vps->id = reader.ReadBits(4);
  // vps_base_layer_internal_flag, vps_base_layer_available_flag, vps_max_layers_minus1
  reader.SkipBits(1 + 1 + 6);
  vps->maxSubLayersMinus1 = reader.ReadBits(3);
  if (vps->maxSubLayersMinus1 >= kH265MaxSubLayers) return kMalformedBitstream;
  vps->temporalIdNesting = reader.ReadFlag();
  reader.SkipBits(16);  // vps_reserved_0xffff_16bits
  RETURN_ON_FAILURE(ReadH265ProfileTierLevel(reader, vps->maxSubLayersMinus1, &vps->profileTierLevel));
  RETURN_ON_FAILURE(ReadVpsSubLayerOrdering(reader, vps->maxSubLayersMinus1));

  const uint32_t maxLayerId = reader.ReadBits(6);
  RETURN_ON_FAILURE(reader.ReadUeMax(kMaxLayerSetsMinus1, &vps->numLayerSetsMinus1));
  // layer_id_included_flag[i][j]: at most 1023 x 64 bits.
  reader.SkipBits(vps->numLayerSetsMinus1 * (maxLayerId + 1));
  if (reader.ReadFlag()) RETURN_ON_FAILURE(ReadVpsTiming(reader, vps));
  // The extension that follows carries nothing the stream information needs.
  return S_OK;
}
