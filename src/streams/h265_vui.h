// The video usability information of an H.265 sequence parameter set.
#pragma once

#include "streams/h265_parameter_sets.h"
#include "streams/rbsp_bit_reader.h"

inline constexpr uint32_t kH265AspectRatioExtendedSar = 255;

HRESULT ReadH265Vui(CRbspBitReader& reader, uint32_t maxSubLayersMinus1, H265Vui* vui);

// The sample aspect ratio of `aspect_ratio_idc` 1 to 16 (the fixed table);
// false for any other value.
bool H265TableSampleAspect(uint32_t aspectRatioIdc, uint32_t* width, uint32_t* height);
