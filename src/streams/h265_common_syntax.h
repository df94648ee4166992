// Syntax structures that several H.265 parameter sets share: the profile,
// tier and level, the hypothetical reference decoder parameters and the
// scaling lists. They are read for their position in the bitstream; only the
// profile fields are kept.
#pragma once

#include "streams/h265_parameter_sets.h"
#include "streams/rbsp_bit_reader.h"

HRESULT ReadH265ProfileTierLevel(CRbspBitReader& reader, uint32_t maxSubLayersMinus1,
                                 H265ProfileTierLevel* profileTierLevel);

HRESULT ReadH265HrdParameters(CRbspBitReader& reader, bool commonInfPresent,
                              uint32_t maxSubLayersMinus1);

HRESULT ReadH265ScalingListData(CRbspBitReader& reader);
