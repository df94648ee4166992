// The H.265 mini parser: finds the video, sequence and picture parameter sets
// in a start-code stream, parses them and derives what a media type needs
// (display size, frame rate, bit depths, sample aspect ratio). It never
// decodes pictures. The CBuffer base holds the bytes Feed collects. One owner
// at a time; not thread-safe.
#pragma once

#include "container/byte_buffer.h"
#include "streams/h265_parameter_sets.h"
#include "streams/mini_parser.h"

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

// ParseParameterSets: the data ended before a VPS, an SPS and a PPS were seen.
inline constexpr HRESULT kParameterSetsIncomplete = 2;

struct H265StreamInfo {
  int32_t pictureWidth = 0;   // display size: the coded size less the conformance window
  int32_t pictureHeight = 0;
  double frameRate = 0.0;
  uint32_t bitDepthLuma = 0;
  uint32_t bitDepthChroma = 0;
  uint32_t hasSampleAspect = 0;
  uint32_t sampleAspectW = 0;
  uint32_t sampleAspectH = 0;
  uint32_t progressive = 0;
  uint32_t profileIdc = 0;
  uint32_t levelIdc = 0;
};

class CMiniParserH265 : public CMiniParser, public CBuffer {
 public:
  CMiniParserH265();
  ~CMiniParserH265() override;

  // S_OK when a VPS, an SPS and a PPS were all parsed (`info` then derived),
  // kParameterSetsIncomplete when the data ends first, a failure when a
  // parameter set is malformed. Every call starts from empty tables and
  // forgets what Feed collected.
  HRESULT ParseParameterSets(const BYTE* data, size_t size, H265StreamInfo* info);

  // Collects the bytes and parses each unit that a following start code has
  // closed: S_OK once a VPS, an SPS and a PPS were parsed (later calls change
  // nothing), S_FALSE until then, the parse failure for a malformed set (and
  // again on every later call), VFW_E_BUFFER_OVERFLOW once 1 MiB has gone by
  // without them.
  HRESULT Feed(const BYTE* data, LONG size) override;
  // After Feed's S_OK: video, FourCC subtype "H265", FORMAT_VideoInfo with
  // the display size and frame rate, and the parameter-set bytes after the
  // BITMAPINFOHEADER. VFW_E_NOT_FOUND before that.
  HRESULT GetMediaType(CMediaType* mediaType) override;

  // The sets the stream information was derived from; null before a
  // successful parse.
  const H265Vps* ActiveVps() const { return activeVps_; }
  const H265Sps* ActiveSps() const { return activeSps_; }
  const H265StreamInfo& StreamInfo() const { return info_; }

 private:
  enum class State { kCollecting, kComplete, kFailed };
  static constexpr size_t kNoUnit = SIZE_MAX;

  void ResetTables();
  void ResetFeed();
  // Parses the unit at `header` (its NAL header) up to `unitEnd` when it is a
  // base-layer VPS, SPS or PPS; *parsed says whether it was one.
  HRESULT ParseUnit(const BYTE* header, const BYTE* unitEnd, bool* parsed);
  HRESULT ParseVps(const BYTE* payload, size_t size);
  HRESULT ParseSps(const BYTE* payload, size_t size);
  HRESULT ParsePps(const BYTE* payload, size_t size);
  bool AllKindsSeen() const { return lastVps_ && lastSps_ && lastPps_; }
  void DeriveStreamInfo();
  // Feed: the unit whose header is at `headerOffset` ended where the next
  // start code begins.
  HRESULT CloseFedUnit(size_t headerOffset, size_t endOffset);
  HRESULT GrowForFeed(LONG size);

  // Feed's progress through the collected bytes. Feed parses each unit once,
  // when the start code after it arrives, so feeding costs linear time.
  State state_ = State::kCollecting;
  HRESULT failure_ = S_OK;
  size_t scannedUpTo_ = 0;
  size_t openUnitHeader_ = kNoUnit;
  // Where Feed found the parameter sets in the collected bytes: from the
  // first one's start code to the end of the last one parsed.
  size_t parameterSetsStart_ = 0;
  size_t parameterSetsLength_ = 0;
  std::array<std::unique_ptr<H265Vps>, kH265MaxVpsCount> vps_;
  std::array<std::unique_ptr<H265Sps>, kH265MaxSpsCount> sps_;
  std::array<std::unique_ptr<H265Pps>, kH265MaxPpsCount> pps_;
  const H265Vps* lastVps_ = nullptr;
  const H265Sps* lastSps_ = nullptr;
  const H265Pps* lastPps_ = nullptr;
  const H265Vps* activeVps_ = nullptr;
  const H265Sps* activeSps_ = nullptr;
  H265StreamInfo info_;
};

// Building blocks of the dimension probes of an H.265 sample entry.

// The parameter sets of an hvcC record (or box) as a start-code stream in
// `startCodes`, parsed into `info`: the results of ConfigToStartCodes, then
// of ParseParameterSets.
HRESULT ParseH265Config(const BYTE* config, size_t size, std::vector<BYTE>* startCodes,
                        H265StreamInfo* info);

// ParseParameterSets in a parser of its own.
HRESULT ParseH265StartCodes(const BYTE* data, size_t size, H265StreamInfo* info);
