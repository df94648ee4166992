// Writes small H.265 parameter sets bit by bit for tests, so that each case
// states the syntax values it is about instead of patching bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace h265_test {

using Bytes = std::vector<uint8_t>;

class BitWriter {
 public:
  BitWriter& Bits(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    return *this;
  }
  BitWriter& Flag(bool value) { return Bits(value ? 1 : 0, 1); }
  BitWriter& Ue(uint64_t value) {
    int length = 0;
    while (((value + 1) >> length) > 1) ++length;
    Bits(0, length);
    return Bits(value + 1, length + 1);
  }
  BitWriter& Se(int64_t value) { return Ue(value > 0 ? 2 * value - 1 : -2 * value); }

  // The raw byte sequence payload: the bits, a stop bit and alignment zeros.
  Bytes Rbsp() const {
    std::vector<bool> bits = bits_;
    bits.push_back(true);
    while (bits.size() % 8 != 0) bits.push_back(false);
    Bytes bytes(bits.size() / 8);
    for (size_t i = 0; i < bits.size(); ++i) bytes[i / 8] |= bits[i] << (7 - i % 8);
    return bytes;
  }

 private:
  std::vector<bool> bits_;
};

// The unit's two-byte header (layer 0, temporal id 0) and the payload with
// emulation prevention inserted.
inline Bytes NalUnit(int type, const Bytes& rbsp) {
  Bytes unit = {static_cast<uint8_t>(type << 1), 1};
  int zeros = 0;
  for (uint8_t byte : rbsp) {
    if (zeros >= 2 && byte <= 3) {
      unit.push_back(3);
      zeros = 0;
    }
    unit.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return unit;
}

// Each unit behind a four-byte start code.
inline Bytes AnnexB(std::initializer_list<Bytes> units) {
  Bytes stream;
  for (const Bytes& unit : units) {
    stream.insert(stream.end(), {0, 0, 0, 1});
    stream.insert(stream.end(), unit.begin(), unit.end());
  }
  return stream;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Timing {
  uint32_t numUnitsInTick = 0;
  uint32_t timeScale = 0;
};

// Main profile, level 3.1. With more sub-layers, the first one carries its
// own profile and every one its own level.
inline void WriteProfileTierLevel(BitWriter& w, uint32_t maxSubLayersMinus1 = 0) {
  w.Bits(0, 2).Bits(0, 1).Bits(1, 5);
  w.Bits(0x60000000, 32);        // compatible with Main and Main 10
  w.Bits(0x900000000000ull, 48);  // progressive, frame only
  w.Bits(93, 8);
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) w.Flag(i == 0).Flag(true);
  if (maxSubLayersMinus1 > 0) w.Bits(0, 2 * (8 - maxSubLayersMinus1));
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    if (i == 0) w.Bits(1, 8).Bits(0x60000000, 32).Bits(0x900000000000ull, 48);
    w.Bits(90, 8);
  }
}

struct VpsSpec {
  uint32_t id = 0;
  bool timing = false;
  Timing tick;
  // One hrd_parameters() with NAL HRD and two sub-layer CPBs.
  bool hrd = false;
};

inline Bytes MakeVps(const VpsSpec& spec = {}) {
  BitWriter w;
  w.Bits(spec.id, 4).Flag(true).Flag(true).Bits(0, 6);  // one layer
  w.Bits(0, 3).Flag(true).Bits(0xFFFF, 16);              // one sub-layer, nested
  WriteProfileTierLevel(w);
  w.Flag(true).Ue(4).Ue(2).Ue(0);  // sub-layer ordering
  w.Bits(0, 6).Ue(0);              // vps_max_layer_id, vps_num_layer_sets_minus1
  w.Flag(spec.timing);
  if (spec.timing) {
    w.Bits(spec.tick.numUnitsInTick, 32).Bits(spec.tick.timeScale, 32).Flag(false);
    w.Ue(spec.hrd ? 1 : 0);
    if (spec.hrd) {
      w.Ue(0);                                  // hrd_layer_set_idx
      w.Flag(true).Flag(false).Flag(false);     // NAL HRD only, no sub-picture parameters
      w.Bits(0, 4).Bits(0, 4).Bits(23, 5).Bits(23, 5).Bits(23, 5);
      w.Flag(true).Ue(0);                       // fixed rate, elemental duration
      w.Ue(1);                                  // cpb_cnt_minus1: two CPBs
      for (int i = 0; i < 2; ++i) w.Ue(1000).Ue(2000).Flag(false);
    }
  }
  w.Flag(false);  // vps_extension_flag
  return NalUnit(32, w.Rbsp());
}

struct SpsSpec {
  uint32_t id = 0;
  uint32_t vpsId = 0;
  uint32_t maxSubLayersMinus1 = 0;
  bool temporalIdNesting = true;
  uint32_t chromaFormatIdc = 1;
  bool separateColourPlane = false;
  uint32_t width = 176;
  uint32_t height = 104;
  uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  uint32_t bitDepthLumaMinus8 = 0;
  uint32_t bitDepthChromaMinus8 = 0;
  uint32_t numShortTermRefPicSets = 0;  // when not written explicitly below
  bool predictedRefPicSets = false;     // three sets, the later two predicted
  bool scalingList = false;
  bool pcm = false;
  uint32_t numLongTermRefPics = 0;
  bool vui = false;
  int aspectRatioIdc = -1;  // -1: no aspect ratio information
  uint32_t sarWidth = 0, sarHeight = 0;
  bool vuiTiming = false;
  Timing tick;
  bool vuiHrd = false;
  int minSpatialSegmentationIdc = -1;  // -1: no bitstream restriction
};

inline Bytes MakeSps(const SpsSpec& spec = {}) {
  BitWriter w;
  w.Bits(spec.vpsId, 4).Bits(spec.maxSubLayersMinus1, 3).Flag(spec.temporalIdNesting);
  WriteProfileTierLevel(w, spec.maxSubLayersMinus1);
  w.Ue(spec.id).Ue(spec.chromaFormatIdc);
  if (spec.chromaFormatIdc == 3) w.Flag(spec.separateColourPlane);
  w.Ue(spec.width).Ue(spec.height);
  const bool crop = spec.cropLeft || spec.cropRight || spec.cropTop || spec.cropBottom;
  w.Flag(crop);
  if (crop) w.Ue(spec.cropLeft).Ue(spec.cropRight).Ue(spec.cropTop).Ue(spec.cropBottom);
  w.Ue(spec.bitDepthLumaMinus8).Ue(spec.bitDepthChromaMinus8).Ue(4);  // POC lsb: 8 bits
  w.Flag(true);  // sub-layer ordering for each sub-layer
  for (uint32_t i = 0; i <= spec.maxSubLayersMinus1; ++i) w.Ue(4).Ue(2).Ue(0);
  w.Ue(0).Ue(3).Ue(0).Ue(3).Ue(1).Ue(1);  // CB 8..64, TB 4..32, hierarchy depths
  w.Flag(spec.scalingList);
  if (spec.scalingList) {
    w.Flag(true);  // sps_scaling_list_data_present_flag
    for (int sizeId = 0; sizeId < 4; ++sizeId) {
      for (int matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
        // Explicit coefficients for the first matrix of each size, copies after.
        if (matrixId == 0) {
          w.Flag(true);
          if (sizeId > 1) w.Se(8);
          for (int i = 0; i < (sizeId == 0 ? 16 : 64); ++i) w.Se(i % 2 ? 1 : -1);
        } else {
          w.Flag(false).Ue(1);
        }
      }
    }
  }
  w.Flag(false).Flag(true);  // amp, sample adaptive offset
  w.Flag(spec.pcm);
  if (spec.pcm) w.Bits(7, 4).Bits(7, 4).Ue(0).Ue(1).Flag(false);
  if (spec.predictedRefPicSets) {
    w.Ue(3);
    w.Ue(2).Ue(0).Ue(0).Flag(true).Ue(1).Flag(true);  // set 0: -1, -3
    w.Flag(true).Flag(true).Ue(0);                    // set 1 from set 0, deltaRps -1
    w.Flag(true).Flag(false).Flag(true).Flag(true);   //   used, unused but kept, used
    w.Flag(true).Flag(false).Ue(1);                   // set 2 from set 1, deltaRps +2
    for (int j = 0; j < 4; ++j) w.Flag(true);
  } else {
    w.Ue(spec.numShortTermRefPicSets);
    for (uint32_t i = 0; i < spec.numShortTermRefPicSets; ++i) {
      if (i > 0) w.Flag(false);  // not predicted
      w.Ue(1).Ue(0).Ue(0).Flag(true);
    }
  }
  w.Flag(spec.numLongTermRefPics > 0);
  if (spec.numLongTermRefPics > 0) {
    w.Ue(spec.numLongTermRefPics);
    for (uint32_t i = 0; i < spec.numLongTermRefPics; ++i) w.Bits(i, 8).Flag(true);
  }
  w.Flag(true).Flag(true);  // temporal MVP, strong intra smoothing
  w.Flag(spec.vui);
  if (spec.vui) {
    w.Flag(spec.aspectRatioIdc >= 0);
    if (spec.aspectRatioIdc >= 0) {
      w.Bits(spec.aspectRatioIdc, 8);
      if (spec.aspectRatioIdc == 255) w.Bits(spec.sarWidth, 16).Bits(spec.sarHeight, 16);
    }
    w.Flag(false);                                  // overscan
    w.Flag(true).Bits(5, 3).Flag(false).Flag(true).Bits(1, 8).Bits(1, 8).Bits(1, 8);
    w.Flag(true).Ue(0).Ue(0);                       // chroma location
    w.Flag(false).Flag(false).Flag(false);
    w.Flag(true).Ue(0).Ue(0).Ue(0).Ue(0);           // default display window
    w.Flag(spec.vuiTiming);
    if (spec.vuiTiming) {
      w.Bits(spec.tick.numUnitsInTick, 32).Bits(spec.tick.timeScale, 32).Flag(true).Ue(0);
      w.Flag(spec.vuiHrd);
      if (spec.vuiHrd) {
        w.Flag(true).Flag(true).Flag(true);         // NAL and VCL HRD, sub-picture parameters
        w.Bits(0, 8).Bits(0, 5).Flag(false).Bits(0, 5);
        w.Bits(0, 4).Bits(0, 4).Bits(0, 4).Bits(23, 5).Bits(23, 5).Bits(23, 5);
        for (uint32_t layer = 0; layer <= spec.maxSubLayersMinus1; ++layer) {
          w.Flag(false).Flag(false).Flag(false).Ue(0);  // not fixed rate, not low delay, one CPB
          for (int i = 0; i < 2; ++i) w.Ue(10).Ue(20).Ue(30).Ue(40).Flag(true);
        }
      }
    }
    w.Flag(spec.minSpatialSegmentationIdc >= 0);
    if (spec.minSpatialSegmentationIdc >= 0) {
      w.Flag(false).Flag(true).Flag(false).Ue(spec.minSpatialSegmentationIdc).Ue(2).Ue(1).Ue(15).Ue(15);
    }
  }
  w.Flag(false);  // sps_extension_present_flag
  return NalUnit(33, w.Rbsp());
}

struct PpsSpec {
  uint32_t id = 0;
  uint32_t spsId = 0;
  bool tiles = false;  // 2 x 2 tiles with explicit sizes
  bool rangeExtension = false;
  int initQpMinus26 = 0;
};

inline Bytes MakePps(const PpsSpec& spec = {}) {
  BitWriter w;
  w.Ue(spec.id).Ue(spec.spsId);
  w.Flag(false).Flag(false).Bits(0, 3).Flag(true).Flag(false);
  w.Ue(0).Ue(0).Se(spec.initQpMinus26);
  w.Flag(false).Flag(spec.rangeExtension).Flag(true).Ue(1);  // transform skip, cu_qp_delta
  w.Se(0).Se(0).Flag(false).Flag(false).Flag(false).Flag(false);
  w.Flag(spec.tiles).Flag(false);
  if (spec.tiles) w.Ue(1).Ue(1).Flag(false).Ue(0).Ue(0).Flag(true);
  w.Flag(true);                                    // loop filter across slices
  w.Flag(true).Flag(false).Flag(false).Se(2).Se(-2);  // deblocking control
  w.Flag(false).Flag(false).Ue(0).Flag(false);
  w.Flag(spec.rangeExtension);
  if (spec.rangeExtension) {
    w.Flag(true).Bits(0, 7);
    w.Ue(1).Flag(false).Flag(true).Ue(1).Ue(1).Se(3).Se(-3).Se(12).Se(-12).Ue(0).Ue(0);
  }
  return NalUnit(34, w.Rbsp());
}

}  // namespace h265_test
