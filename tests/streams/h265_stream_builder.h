// Writes small H.265 parameter sets bit by bit for tests, so that each case
// states the syntax values it is about instead of patching bytes.
#pragma once

#include "sample_entry_fixtures.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace h265_test {

using Bytes = std::vector<uint8_t>;

// The unit's two-byte header (layer 0, temporal id 0) and the payload with
// emulation prevention inserted.
inline Bytes NalUnit(int type, const Bytes& rbsp) {
  Bytes unit = {static_cast<uint8_t>(type << 1), 1};
  for (uint8_t byte : rbsp) {
    if (unit.size() >= 4 && unit[unit.size() - 1] == 0 && unit[unit.size() - 2] == 0 && byte <= 3) unit.push_back(3);
    unit.push_back(byte);
  }
  return unit;
}

// Each unit behind a four-byte start code, or (`lengths`) a four-byte
// big-endian length as an MP4 sample holds it.
inline Bytes AnnexB(std::initializer_list<Bytes> units, bool lengths = false) {
  Bytes stream;
  for (const Bytes& unit : units) {
    const size_t n = lengths ? unit.size() : 1;
    stream.insert(stream.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    stream.insert(stream.end(), unit.begin(), unit.end());
  }
  return stream;
}

// The start of a slice: a unit that follows the parameter sets in real streams.
inline const Bytes kSlice = {0x26, 0x01, 0xAF, 0x10};

struct Timing {
  uint32_t numUnitsInTick, timeScale;
};

// Main profile, level 3.1, compatible with Main and Main 10, progressive and
// frame only. With more sub-layers, the first one carries its own profile
// and every one its own level.
inline void WriteProfileTierLevel(BitWriter& w, uint32_t maxSubLayersMinus1) {
  w.Bits(1, 8).Bits(0x60000000, 32).Bits(0x900000000000ull, 48).Bits(93, 8);
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) w.Flag(i == 0).Flag(true);
  if (maxSubLayersMinus1 > 0) w.Bits(0, 2 * (8 - maxSubLayersMinus1));
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    if (i == 0) w.Bits(1, 8).Bits(0x60000000, 32).Bits(0x900000000000ull, 48);
    w.Bits(90, 8);
  }
}

// One layer and one sub-layer, with VPS timing when given.
inline Bytes MakeVps(std::optional<Timing> timing = {}) {
  BitWriter w;
  w.Bits(0, 4).Flag(true).Flag(true).Bits(0, 6).Bits(0, 3).Flag(true).Bits(0xFFFF, 16);
  WriteProfileTierLevel(w, 0);
  w.Flag(true).Ue(4).Ue(2).Ue(0).Bits(0, 6).Ue(0).Flag(timing.has_value());
  if (timing) w.Bits(timing->numUnitsInTick, 32).Bits(timing->timeScale, 32).Flag(false).Ue(0);
  return NalUnit(32, w.Flag(false).Rbsp());
}

// A 176x104 4:2:0 8-bit picture. Predicted reference picture sets are three,
// the later two predicted, instead of `numShortTermRefPicSets` plain ones;
// the VUI HRD has NAL and VCL parameters with sub-picture ones; -1 leaves
// out the aspect ratio and the bitstream restriction.
struct SpsSpec {
  uint32_t id = 0, maxSubLayersMinus1 = 0;
  bool temporalIdNesting = true;
  uint32_t chromaFormatIdc = 1;
  bool separateColourPlane = false;
  uint32_t width = 176, height = 104, cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  uint32_t bitDepthLumaMinus8 = 0, bitDepthChromaMinus8 = 0, numShortTermRefPicSets = 0;
  bool predictedRefPicSets = false, scalingList = false, pcm = false;
  uint32_t numLongTermRefPics = 0;
  bool vui = false;
  int aspectRatioIdc = -1;
  uint32_t sarWidth = 0, sarHeight = 0;
  std::optional<Timing> vuiTiming = {};
  bool vuiHrd = false;
  int minSpatialSegmentationIdc = -1;
};

inline Bytes MakeSps(const SpsSpec& s = {}) {
  BitWriter w;
  w.Bits(0, 4).Bits(s.maxSubLayersMinus1, 3).Flag(s.temporalIdNesting);
  WriteProfileTierLevel(w, s.maxSubLayersMinus1);
  w.Ue(s.id).Ue(s.chromaFormatIdc);
  if (s.chromaFormatIdc == 3) w.Flag(s.separateColourPlane);
  const bool crop = s.cropLeft || s.cropRight || s.cropTop || s.cropBottom;
  w.Ue(s.width).Ue(s.height).Flag(crop);
  if (crop) w.Ue(s.cropLeft).Ue(s.cropRight).Ue(s.cropTop).Ue(s.cropBottom);
  w.Ue(s.bitDepthLumaMinus8).Ue(s.bitDepthChromaMinus8).Ue(4).Flag(true);  // POC lsb: 8 bits
  for (uint32_t i = 0; i <= s.maxSubLayersMinus1; ++i) w.Ue(4).Ue(2).Ue(0);
  w.Ue(0).Ue(3).Ue(0).Ue(3).Ue(1).Ue(1).Flag(s.scalingList);  // CB 8..64, TB 4..32
  if (s.scalingList) w.Flag(true);                             // with data
  // Explicit coefficients for the first matrix of each size, copies after.
  for (int sizeId = 0; s.scalingList && sizeId < 4; ++sizeId) {
    w.Flag(true);
    if (sizeId > 1) w.Se(8);
    for (int i = 0; i < (sizeId == 0 ? 16 : 64); ++i) w.Se(i % 2 ? 1 : -1);
    for (int matrixId = sizeId == 3 ? 3 : 1; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) w.Flag(false).Ue(1);
  }
  w.Flag(false).Flag(true).Flag(s.pcm);  // amp, sample adaptive offset
  if (s.pcm) w.Bits(7, 4).Bits(7, 4).Ue(0).Ue(1).Flag(false);
  if (s.predictedRefPicSets) {
    w.Ue(3).Ue(2).Ue(0).Ue(0).Flag(true).Ue(1).Flag(true);                      // set 0: -1, -3
    w.Flag(true).Flag(true).Ue(0).Flag(true).Flag(false).Flag(true).Flag(true);  // set 1 from set 0, -1
    w.Flag(true).Flag(false).Ue(1).Flag(true).Flag(true).Flag(true).Flag(true);  // set 2 from set 1, +2
  } else {
    w.Ue(s.numShortTermRefPicSets);
    for (uint32_t i = 0; i < s.numShortTermRefPicSets; ++i) {
      if (i > 0) w.Flag(false);  // not predicted
      w.Ue(1).Ue(0).Ue(0).Flag(true);
    }
  }
  w.Flag(s.numLongTermRefPics > 0);
  if (s.numLongTermRefPics > 0) w.Ue(s.numLongTermRefPics);
  for (uint32_t i = 0; i < s.numLongTermRefPics; ++i) w.Bits(i, 8).Flag(true);
  w.Flag(true).Flag(true).Flag(s.vui);  // temporal MVP, strong intra smoothing
  if (s.vui) {
    w.Flag(s.aspectRatioIdc >= 0);
    if (s.aspectRatioIdc >= 0) w.Bits(s.aspectRatioIdc, 8);
    if (s.aspectRatioIdc == 255) w.Bits(s.sarWidth, 16).Bits(s.sarHeight, 16);
    // Video signal type with colour description, chroma location, default display window.
    w.Flag(false).Flag(true).Bits(5, 3).Flag(false).Flag(true).Bits(0x010101, 24);
    w.Flag(true).Ue(0).Ue(0).Flag(false).Flag(false).Flag(false).Flag(true).Ue(0).Ue(0).Ue(0).Ue(0);
    w.Flag(s.vuiTiming.has_value());
    if (s.vuiTiming) w.Bits(s.vuiTiming->numUnitsInTick, 32).Bits(s.vuiTiming->timeScale, 32).Flag(true).Ue(0);
    if (s.vuiTiming) w.Flag(s.vuiHrd);
    if (s.vuiTiming && s.vuiHrd) {
      w.Flag(true).Flag(true).Flag(true).Bits(0, 19).Bits(0, 12).Bits(23, 5).Bits(23, 5).Bits(23, 5);
      for (uint32_t layer = 0; layer <= s.maxSubLayersMinus1; ++layer) {
        w.Flag(false).Flag(false).Flag(false).Ue(0);  // not fixed rate, not low delay, one CPB
        for (int i = 0; i < 2; ++i) w.Ue(10).Ue(20).Ue(30).Ue(40).Flag(true);
      }
    }
    w.Flag(s.minSpatialSegmentationIdc >= 0);
    if (s.minSpatialSegmentationIdc >= 0) w.Bits(2, 3).Ue(s.minSpatialSegmentationIdc).Ue(2).Ue(1).Ue(15).Ue(15);
  }
  return NalUnit(33, w.Flag(false).Rbsp());
}

// `tiles`: 2 x 2 tiles with explicit sizes.
struct PpsSpec {
  uint32_t id = 0, spsId = 0;
  bool tiles = false, rangeExtension = false;
  int initQpMinus26 = 0;
};

inline Bytes MakePps(const PpsSpec& s = {}) {
  BitWriter w;
  w.Ue(s.id).Ue(s.spsId).Bits(0, 5).Flag(true).Flag(false).Ue(0).Ue(0).Se(s.initQpMinus26);
  w.Flag(false).Flag(s.rangeExtension).Flag(true).Ue(1).Se(0).Se(0).Bits(0, 4).Flag(s.tiles).Flag(false);
  if (s.tiles) w.Ue(1).Ue(1).Flag(false).Ue(0).Ue(0).Flag(true);
  w.Flag(true).Flag(true).Flag(false).Flag(false).Se(2).Se(-2).Flag(false).Flag(false).Ue(0).Flag(false);
  w.Flag(s.rangeExtension);  // deblocking control above
  if (s.rangeExtension) w.Flag(true).Bits(0, 7).Ue(1).Flag(false).Flag(true).Ue(1).Ue(1);
  if (s.rangeExtension) w.Se(3).Se(-3).Se(12).Se(-12).Ue(0).Ue(0);
  return NalUnit(34, w.Rbsp());
}

}  // namespace h265_test
