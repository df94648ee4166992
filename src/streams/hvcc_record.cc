#include "streams/hvcc_record.h"

#include "platform/fourcc.h"
#include "streams/mini_parser_h265.h"
#include "streams/rbsp_bit_reader.h"
#include "streams/start_codes.h"

#include <cstring>
#include <new>

namespace {

constexpr size_t kBoxHeaderSize = 8;
constexpr size_t kMinHvcCBoxSize = 9;
constexpr size_t kArrayHeaderSize = 3;
constexpr size_t kUnitLengthSize = 2;
constexpr size_t kStartCodeLength = 3;
constexpr size_t kMaxUnitSize = 0xFFFF;
constexpr size_t kMaxUnitsPerArray = 0xFFFF;
constexpr BYTE kLongStartCode[] = {0, 0, 0, 1};
constexpr BYTE kArrayCompleteness = 0x80;
constexpr uint32_t kHvcCType = FourCC("hvcC");
// The array types in the order the record lists them.
constexpr int kArrayTypes[] = {kH265NalVps, kH265NalSps, kH265NalPps, kH265NalPrefixSei};

uint32_t ReadBe32(const BYTE* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t ReadBe16(const BYTE* p) { return (uint32_t{p[0]} << 8) | p[1]; }

void AppendBe16(std::vector<BYTE>& out, uint32_t value) {
  out.push_back(static_cast<BYTE>(value >> 8));
  out.push_back(static_cast<BYTE>(value));
}
void AppendBe32(std::vector<BYTE>& out, uint32_t value) {
  AppendBe16(out, value >> 16);
  AppendBe16(out, value);
}

// Where the record lies in the input: after an "hvcC" box header found in
// the bytes, or the whole input.
HRESULT LocateRecord(const BYTE* config, size_t size, const BYTE** record, size_t* recordSize) {
  const BYTE typeBytes[] = {'h', 'v', 'c', 'C'};
  for (size_t i = 0; i + sizeof typeBytes <= size; ++i) {
    if (std::memcmp(config + i, typeBytes, sizeof typeBytes) != 0) continue;
    // A type with no room for a size before it cannot be a box in the input.
    if (i < 4) return VFW_E_INVALID_MEDIA_TYPE;
    const size_t boxStart = i - 4;
    const size_t boxSize = ReadBe32(config + boxStart);
    if (boxSize < kMinHvcCBoxSize || boxSize > size - boxStart) return VFW_E_INVALID_MEDIA_TYPE;
    *record = config + i + 4;
    *recordSize = boxSize - kBoxHeaderSize;
    return S_OK;
  }
  *record = config;
  *recordSize = size;
  return S_OK;
}

struct NalUnit {
  const BYTE* data;
  size_t size;
};

// Every unit of a start-code stream, from its header to the next start code
// (trailing zero bytes belong to the start code, not the unit).
std::vector<NalUnit> SplitUnits(const BYTE* data, size_t size) {
  std::vector<NalUnit> units;
  const BYTE* const end = data + size;
  const BYTE* header = FindStartCode(data, size);
  while (header) {
    const BYTE* next = FindStartCode(header, end - header);
    const BYTE* unitEnd = next ? next - kStartCodeLength : end;
    while (unitEnd > header && unitEnd[-1] == 0) --unitEnd;
    if (unitEnd > header) units.push_back({header, static_cast<size_t>(unitEnd - header)});
    header = next;
  }
  return units;
}

void AppendRecordHead(const CMiniParserH265& parser, std::vector<BYTE>& out) {
  const H265Sps& sps = *parser.ActiveSps();
  const H265ProfileTierLevel& ptl = sps.profileTierLevel;
  const uint32_t minSpatialSegmentation =
      sps.vuiPresent && sps.vui.bitstreamRestriction ? sps.vui.minSpatialSegmentationIdc : 0;

  out.push_back(1);  // configurationVersion
  out.push_back(static_cast<BYTE>((ptl.profileSpace << 6) | (ptl.tierFlag << 5) | ptl.profileIdc));
  AppendBe32(out, ptl.compatibilityFlags);
  AppendBe16(out, static_cast<uint32_t>(ptl.constraintFlags >> 32));
  AppendBe32(out, static_cast<uint32_t>(ptl.constraintFlags));
  out.push_back(static_cast<BYTE>(ptl.levelIdc));
  AppendBe16(out, 0xF000 | minSpatialSegmentation);
  out.push_back(0xFC);  // reserved bits, parallelismType 0
  out.push_back(static_cast<BYTE>(0xFC | sps.chromaFormatIdc));
  out.push_back(static_cast<BYTE>(0xF8 | sps.bitDepthLumaMinus8));
  out.push_back(static_cast<BYTE>(0xF8 | sps.bitDepthChromaMinus8));
  AppendBe16(out, 0);  // avgFrameRate
  // constantFrameRate 0, numTemporalLayers 0, temporalIdNested, lengthSizeMinusOne 3.
  out.push_back(sps.temporalIdNesting ? 0x07 : 0x03);
  out.push_back(0);  // numOfArrays, counted as the arrays are written
}

}  // namespace

HRESULT ConfigToStartCodes(const BYTE* config, size_t size, std::vector<BYTE>* out) {
  if (!out || (!config && size > 0)) return E_POINTER;
  const BYTE* record = nullptr;
  size_t recordSize = 0;
  RETURN_ON_FAILURE(LocateRecord(config, size, &record, &recordSize));
  if (recordSize < kHvcCRecordHeadSize) return E_FAIL;

  // The head's fields (version, profile, level, length size) are not needed
  // to list the units: every unit length in the arrays is 16 bits.
  const size_t arrayCount = record[22];
  std::vector<BYTE> units;
  try {
    size_t position = kHvcCRecordHeadSize;
    for (size_t array = 0; array < arrayCount; ++array) {
      if (recordSize - position < kArrayHeaderSize) return E_FAIL;
      const size_t unitCount = ReadBe16(record + position + 1);
      position += kArrayHeaderSize;
      for (size_t unit = 0; unit < unitCount; ++unit) {
        if (recordSize - position < kUnitLengthSize) return E_FAIL;
        const size_t unitSize = ReadBe16(record + position);
        position += kUnitLengthSize;
        if (recordSize - position < unitSize) return E_FAIL;
        units.insert(units.end(), std::begin(kLongStartCode), std::end(kLongStartCode));
        units.insert(units.end(), record + position, record + position + unitSize);
        position += unitSize;
      }
    }
    out->insert(out->end(), units.begin(), units.end());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT BuildHvcC(const BYTE* data, size_t size, std::vector<BYTE>* out, int mode) {
  if (!out) return E_POINTER;
  if (mode < kHvcCBoxIncomplete || mode > kHvcCRecordComplete) return E_INVALIDARG;
  CMiniParserH265 parser;
  const HRESULT parsed = parser.ParseParameterSets(data, size, nullptr);
  if (parsed == E_OUTOFMEMORY) return E_OUTOFMEMORY;
  if (parsed != S_OK) return E_INVALIDARG;

  const bool boxed = mode == kHvcCBoxIncomplete || mode == kHvcCBoxComplete;
  const bool complete = mode == kHvcCBoxComplete || mode == kHvcCRecordComplete;
  try {
    const std::vector<NalUnit> units = SplitUnits(data, size);
    std::vector<BYTE> record;
    AppendRecordHead(parser, record);
    BYTE arrayCount = 0;
    for (const int type : kArrayTypes) {
      // Units too long for a 16-bit length (a huge SEI, say) cannot be listed.
      std::vector<NalUnit> ofType;
      for (const NalUnit& unit : units) {
        const bool fits = unit.size <= kMaxUnitSize && ofType.size() < kMaxUnitsPerArray;
        if (((unit.data[0] >> 1) & 0x3F) == type && fits) ofType.push_back(unit);
      }
      if (ofType.empty()) continue;
      record.push_back(static_cast<BYTE>((complete ? kArrayCompleteness : 0) | type));
      AppendBe16(record, static_cast<uint32_t>(ofType.size()));
      for (const NalUnit& unit : ofType) {
        AppendBe16(record, static_cast<uint32_t>(unit.size));
        record.insert(record.end(), unit.data, unit.data + unit.size);
      }
      ++arrayCount;
    }
    record[kHvcCRecordHeadSize - 1] = arrayCount;

    if (boxed) {
      // The record is bounded by the input, so its size fits the box header
      // unless the input itself is close to 4 GiB.
      if (record.size() > UINT32_MAX - kBoxHeaderSize) return E_INVALIDARG;
      std::vector<BYTE> header;
      AppendBe32(header, static_cast<uint32_t>(record.size() + kBoxHeaderSize));
      AppendBe32(header, kHvcCType);
      record.insert(record.begin(), header.begin(), header.end());
    }
    out->insert(out->end(), record.begin(), record.end());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
