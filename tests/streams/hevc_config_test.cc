// The H.265 configuration path: the start-code and RBSP readers under it,
// the hvcC record built from parameter sets and read back, and the probe
// that sizes an entry written without a picture size. A decoder sized from
// a wrong picture, or handed a broken hvcC, fails.
#include "h265_stream_builder.h"
#include "sample_entry_fixtures.h"

#include "streams/hvcc_record.h"
#include "streams/mini_parser_h265.h"
#include "streams/rbsp_bit_reader.h"
#include "streams/start_codes.h"
#include "streams/video_sample_entry.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

using namespace h265_test;

TEST(FindStartCodeTest, FindsTheValueByteOnlyWithAByteAfterIt) {
  // The offset of the byte found, -1 for none.
  const std::pair<Bytes, int> cases[] = {
      {{}, -1}, {{0, 0, 1, 0x40}, -1}, {{0, 0, 1, 0x40, 0x01}, 3}, {{0x12, 0, 0, 0, 1, 0x42, 0x01}, 5},
      {{0, 1, 0, 0, 1, 0x44, 0x01}, 5}, {{0, 0, 2, 0, 0, 1, 0x44}, -1}, {{0, 0, 1, 0, 0, 1, 0x40}, 3},
  };
  for (const auto& [data, expected] : cases) {
    const BYTE* found = FindStartCode(data.data(), data.size());
    EXPECT_EQ(found ? static_cast<int>(found - data.data()) : -1, expected) << "input of " << data.size() << " bytes";
  }
  const uint8_t data[] = {0x00, 0x00, 0x01, 0x40, 0x01, 0x00, 0x00, 0x01, 0x42, 0x01};
  EXPECT_EQ(FindStartCode(data + 4, 5), nullptr) << "the second code's value byte is the last in range";
  EXPECT_EQ(FindStartCode(data + 4, 6), data + 8);
}

TEST(LengthPrefixedToStartCodesTest, RewritesPrefixesWithinTheSampleOnly) {
  // Guard bytes 0xEE on both sides show that nothing outside the sample moves.
  const std::tuple<Bytes, Bytes, size_t> cases[] = {
      {{0xEE, 0, 0, 0, 2, 0x40, 0x01, 0, 0, 0, 3, 0x42, 0x01, 0xAA, 0xEE},
       {0xEE, 0, 0, 0, 1, 0x40, 0x01, 0, 0, 0, 1, 0x42, 0x01, 0xAA, 0xEE}, 2},
      // A unit running past the end is the last; a length cut by the end is left alone.
      {{0xEE, 0, 0, 0, 9, 0x40, 0x01, 0xEE}, {0xEE, 0, 0, 0, 1, 0x40, 0x01, 0xEE}, 1},
      {{0xEE, 0, 0, 0, 1, 0x40, 0, 0, 0, 0xEE}, {0xEE, 0, 0, 0, 1, 0x40, 0, 0, 0, 0xEE}, 1},
      // An empty unit is stepped over; a length near 4 GiB does not wrap around.
      {{0xEE, 0, 0, 0, 0, 0, 0, 0, 1, 0x26, 0xEE}, {0xEE, 0, 0, 0, 1, 0, 0, 0, 1, 0x26, 0xEE}, 2},
      {{0xEE, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0xEE}, {0xEE, 0, 0, 0, 1, 0, 0, 0, 1, 0xEE}, 1},
      {{0xEE, 0, 0, 5, 0xEE}, {0xEE, 0, 0, 5, 0xEE}, 0},
  };
  for (auto [sample, expected, rewritten] : cases) {
    EXPECT_EQ(LengthPrefixedToStartCodes(sample.data() + 1, sample.size() - 2), rewritten) << sample.size();
    EXPECT_EQ(sample, expected);
  }
}

TEST(RbspBitReaderTest, EmulationPreventionBytesAreDroppedAndZerosFollowTheEnd) {
  const std::pair<Bytes, Bytes> cases[] = {
      {{0x00, 0x00, 0x03, 0x01}, {0x00, 0x00, 0x01}},
      // A 0x03 after a single zero is payload; the zero count starts again after a dropped byte.
      {{0x00, 0x03, 0x00, 0x00, 0x03, 0x02}, {0x00, 0x03, 0x00, 0x00, 0x02}},
      {{0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00}},
      {{0xA5}, {0xA5}},
  };
  for (const auto& [escaped, raw] : cases) {
    CRbspBitReader reader(escaped.data(), escaped.size());
    Bytes read;
    for (size_t i = 0; i < raw.size(); ++i) read.push_back(static_cast<uint8_t>(reader.ReadBits(8)));
    EXPECT_EQ(read, raw);
    EXPECT_FALSE(reader.RanPastEnd());
    EXPECT_EQ(reader.ReadBits(32), 0u);
    EXPECT_TRUE(reader.RanPastEnd());
  }
  // A huge skip past the end does not walk bit by bit.
  CRbspBitReader reader(nullptr, 0);
  for (int i = 0; i < 1000; ++i) reader.SkipBits(0xFFFFFFFF);
  EXPECT_FALSE(reader.ReadFlag());
}

TEST(RbspBitReaderTest, ExpGolombCodesDecodeUpTo32Bits) {
  const std::pair<uint64_t, int32_t> cases[] = {{0, 0},       {1, 1},         {2, -1},
                                                {6, -3},      {254, -127},    {65535, 32768},
                                                {0x7FFFFFFF, 0x40000000},     {0xFFFFFFFD, 0x7FFFFFFF},
                                                {0xFFFFFFFE, -0x7FFFFFFF}};
  for (const auto& [code, signedValue] : cases) {
    // Each code as ue and as se, then a marker that shows the reader kept its
    // place; long codes hold zero runs that need emulation prevention.
    const Bytes unit = h265_test::NalUnit(0, BitWriter().Ue(code).Ue(code).Se(-5).Rbsp());
    CRbspBitReader reader(unit.data() + 2, unit.size() - 2);
    uint32_t ue = 0;
    int32_t se = 0, marker = 0;
    ASSERT_EQ(reader.ReadUe(&ue), S_OK) << code;
    ASSERT_EQ(reader.ReadSe(&se), S_OK) << code;
    ASSERT_EQ(reader.ReadSe(&marker), S_OK) << code;
    EXPECT_EQ(std::make_tuple(uint64_t{ue}, se, marker), std::make_tuple(code, signedValue, -5));
  }
  // More than 31 leading zeros is no code (nor are the zeros past the end), and no long loop.
  uint32_t value = 0;
  const Bytes thirtyTwoZeros = BitWriter().Bits(0, 32).Bits(1, 1).Bits(0, 32).Rbsp();
  EXPECT_EQ(CRbspBitReader(thirtyTwoZeros.data(), thirtyTwoZeros.size()).ReadUe(&value), kMalformedBitstream);
  EXPECT_EQ(CRbspBitReader(nullptr, 0).ReadUe(&value), kMalformedBitstream);
}

Bytes Build(const Bytes& stream, int mode) {
  Bytes out;
  EXPECT_EQ(BuildHvcC(stream.data(), stream.size(), &out, mode), S_OK);
  return out;
}

Bytes StartCodes(const Bytes& config) {
  Bytes out;
  EXPECT_EQ(ConfigToStartCodes(config.data(), config.size(), &out), S_OK);
  return out;
}

// A 176x104 stream cropped to 176x100.
class HvcCRecordTest : public ::testing::Test {
 protected:
  const Bytes stream_ = LoadTestFile("hevc/crop_420_176x100.hevc");
  const Bytes sets_{stream_.begin(), stream_.begin() + 84};  // VPS, SPS, PPS
  // What a muxer wrote for the same stream, as an "hvcC" box: arrays of the
  // 24-byte VPS, 41-byte SPS and 7-byte PPS at 23, 52 and 98.
  const Bytes box_ = LoadTestFile("hevc/crop_420_176x100.hvcC");
  const Bytes record_{box_.begin() + 8, box_.end()};
};

TEST_F(HvcCRecordTest, BuildMatchesAMuxersRecordInEveryMode) {
  ASSERT_EQ(box_.size(), 118u);
  // The muxer counts one temporal layer; ours leaves numTemporalLayers 0.
  Bytes complete = record_, incomplete;
  ASSERT_EQ(complete[21], 0x0F);
  complete[21] = 0x07;
  incomplete = complete;
  for (size_t array : {23, 52, 98}) incomplete[array] &= 0x7F;
  const Bytes boxHeader = {0, 0, 0, 118, 'h', 'v', 'c', 'C'};
  EXPECT_EQ(Build(stream_, kHvcCRecordComplete), complete);
  EXPECT_EQ(Build(stream_, kHvcCRecordIncomplete), incomplete);
  EXPECT_EQ(Build(stream_, kHvcCBoxComplete), Concat(boxHeader, complete));
  EXPECT_EQ(Build(stream_, kHvcCBoxIncomplete), Concat(boxHeader, incomplete));
  // Without a PPS (the VPS and SPS alone), or in a mode of no meaning, nothing is written.
  Bytes out = {0xAA};
  EXPECT_EQ(BuildHvcC(stream_.data(), 4 + 24 + 4 + 41, &out, kHvcCRecordComplete), E_INVALIDARG);
  EXPECT_EQ(BuildHvcC(stream_.data(), stream_.size(), &out, 4), E_INVALIDARG);
  EXPECT_EQ(out, Bytes{0xAA});
  // Back to start codes, boxed or bare, and through the parser: the
  // seven-byte PPS ends the data and still counts.
  EXPECT_EQ(StartCodes(box_), sets_);
  EXPECT_EQ(StartCodes(record_), sets_);
  H265StreamInfo info;
  Bytes startCodes;
  ASSERT_EQ(ParseH265Config(box_.data(), box_.size(), &startCodes, &info), S_OK);
  EXPECT_EQ(std::make_pair(info.pictureWidth, info.pictureHeight), std::make_pair(176, 100));
}

TEST(BuildHvcCTest, ArraysListEveryUnitInTypeOrderAndTheHeadComesFromTheSps) {
  const Bytes sei = NalUnit(39, {0x05, 0x02, 0xAB, 0xCD});
  const Bytes first = MakeSps({.temporalIdNesting = false, .chromaFormatIdc = 2, .bitDepthLumaMinus8 = 2,
                                .bitDepthChromaMinus8 = 4, .vui = true, .minSpatialSegmentationIdc = 0x123});
  const Bytes second = MakeSps({.id = 1}), secondPps = MakePps({.id = 1, .spsId = 1});
  const Bytes record =
      Build(AnnexB({sei, MakePps(), first, MakeVps(), second, kSlice, sei, secondPps}), kHvcCRecordComplete);
  EXPECT_EQ(StartCodes(record), AnnexB({MakeVps(), first, second, MakePps(), secondPps, sei, sei}));
  // Version 1; Main profile; compatible with Main and Main 10; progressive,
  // frame only; level 3.1; min_spatial_segmentation_idc; parallelism; 4:2:2,
  // 10 and 12 bits; no average frame rate; not nested, 4-byte lengths; four arrays.
  const Bytes head = {1, 1, 0x60, 0, 0, 0, 0x90, 0, 0, 0, 0, 0, 93, 0xF1, 0x23, 0xFC, 0xFE, 0xFA, 0xFC, 0, 0, 3, 4};
  EXPECT_EQ(Bytes(record.begin(), record.begin() + kHvcCRecordHeadSize), head);
}

TEST_F(HvcCRecordTest, BadBoxesAndRecordsGiveTheirCodes) {
  const auto box = [](uint8_t size, const Bytes& body) { return Concat({0, 0, 0, size, 'h', 'v', 'c', 'C'}, body); };
  Bytes unitPastEnd = record_, missingArray = record_;
  unitPastEnd[kHvcCRecordHeadSize + 3] = 0x7F;  // the VPS length
  missingArray[22] = 4;
  const Bytes head(record_.begin(), record_.begin() + 22);
  const std::pair<Bytes, HRESULT> cases[] = {
      {box(8, record_), VFW_E_INVALID_MEDIA_TYPE},
      {box(119, record_), VFW_E_INVALID_MEDIA_TYPE},                  // past the input
      {Concat({'h', 'v', 'c', 'C'}, record_), VFW_E_INVALID_MEDIA_TYPE},  // no room for a size
      {box(9, record_), E_FAIL},
      {head, E_FAIL},
      {box(30, head), E_FAIL},
      {unitPastEnd, E_FAIL},
      {missingArray, E_FAIL},
      {Bytes(record_.begin(), record_.begin() + kHvcCRecordHeadSize + 2), E_FAIL},  // cut in an array header
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    Bytes out = {0xAA};
    EXPECT_EQ(ConfigToStartCodes(cases[i].first.data(), cases[i].first.size(), &out), cases[i].second) << i;
    EXPECT_EQ(out, Bytes{0xAA}) << i << ": output untouched";
  }
  // A record with no arrays is well formed but holds no parameter sets.
  Bytes empty = Concat({1}, Bytes(kHvcCRecordHeadSize - 1)), out;
  H265StreamInfo info;
  EXPECT_EQ(ParseH265Config(empty.data(), empty.size(), &out, &info), kParameterSetsIncomplete);
  EXPECT_EQ(out, Bytes{});
}

// An access unit delimiter: a unit that is no parameter set.
const Bytes kDelimiter = {0, 0, 0, 3, 0x46, 0x01, 0x50};

class HevcDimensionProbeTest : public HvcCRecordTest {
 protected:
  // Parses an "hvc1" track whose entry has the size and children given, and
  // asks for media type 0; then the entry's size, payload and probe flag.
  std::tuple<std::string, Bytes, int> Probe(const Bytes& children, const std::vector<Bytes>& samples = {kDelimiter},
                                            uint16_t height = 0, const char* format = "hvc1") {
    movie_ = ParseMediaTypeMovie(
        {.format = format, .entryBody = VisualEntryBody(0, height, children), .samples = samples});
    if (source_) movie_.Track(0).SetReader(source_.Get());
    EXPECT_EQ(TrackType(movie_, 0, &type_), S_OK);
    const auto& v = dynamic_cast<const VideoSampleEntry&>(*movie_.Track(0).sampleEntry);
    return {std::to_string(v.width) + "x" + std::to_string(v.height), Slice(v.payload), v.dimensionsProbed};
  }

  ParsedMovie movie_;
  CMediaType type_;
  ComPtr<MemorySource> source_;  // when set, the track reads through it
};

TEST_F(HevcDimensionProbeTest, ConfigGivesTheCroppedSizeAndBecomesTheOnlyPayloadBox) {
  Bytes rebuilt;
  ASSERT_EQ(BuildHvcC(stream_.data(), 84, &rebuilt, kHvcCBoxIncomplete), S_OK);
  BoxBuilder children;
  children.Bytes(box_).Box("btrt", [&] { children.Zeros(12); });
  for (const char* format : {"hvc1", "hev1"}) {
    EXPECT_EQ(Probe(children.Data(), {kDelimiter}, 100, format), std::make_tuple("176x100", rebuilt, 1)) << format;
    const BITMAPINFOHEADER bitmap = FormatBlock<VIDEOINFOHEADER>(type_).bmiHeader;
    EXPECT_EQ(std::make_pair(bitmap.biWidth, bitmap.biHeight), std::make_pair(176, 100)) << format;
    EXPECT_EQ(BlockTail(type_, sizeof(VIDEOINFOHEADER)), rebuilt) << format;
    // The FourCC type keeps the configuration as the file had it.
    ASSERT_EQ(TrackType(movie_, 1, &type_), S_OK) << format;
    EXPECT_EQ(BlockTail(type_, sizeof(VIDEOINFOHEADER)), record_) << format;
  }
  // An entry with a size is left as written.
  movie_ = ParseMediaTypeMovie({.format = "hvc1", .entryBody = VisualEntryBody(640, 360, box_)});
  ASSERT_EQ(TrackType(movie_, 0, &type_), S_OK);
  const auto& video = dynamic_cast<const VideoSampleEntry&>(*movie_.Track(0).sampleEntry);
  EXPECT_EQ(std::make_tuple(video.width, video.height, Slice(video.payload)), std::make_tuple(640, 360, box_));
}

TEST_F(HevcDimensionProbeTest, ParameterSetsInSampleTwoAreFoundAfterReadingThreeSamples) {
  const Bytes sets = AnnexB({MakeVps(), MakeSps(), MakePps()}, true);  // 176x104
  source_ = MemorySource::Create(Concat(Bytes(8 + 7 + 7), sets));
  EXPECT_EQ(std::get<0>(Probe({}, {kDelimiter, kDelimiter, sets, kDelimiter})), "176x104");
  ASSERT_EQ(source_->ReadCount(), 3u);
  EXPECT_EQ(source_->Reads()[2].position, 22) << "samples 0 and 1 are 7 bytes each";
}

TEST_F(HevcDimensionProbeTest, MalformedOrMissingParameterSetsLeaveTheEntryAlone) {
  // The record holds a 24-byte VPS, a 41-byte SPS and a 7-byte PPS, each in an array of its own.
  Bytes malformedSps = box_, noPps(box_.begin(), box_.end() - 12);
  malformedSps[8 + 23 + 29 + 5 + 2] |= 0x0E;  // sps_max_sub_layers_minus1 7
  noPps[3] -= 12, noPps[8 + 22] = 2;
  const Bytes sets = AnnexB({MakeVps(), MakeSps(), MakePps()}, true);
  const std::pair<Bytes, std::vector<Bytes>> rows[] = {
      {malformedSps, {kDelimiter}},
      {noPps, {kDelimiter}},
      {Bytes(box_.begin(), box_.end() - 5), {kDelimiter}},
      {{}, {kDelimiter, kDelimiter, kDelimiter, kDelimiter, sets}},  // only sample 4 has them
      {{}, {{0, 0, 1, 0, 0x40, 0x01}}},                            // a length past the sample
  };
  for (const auto& [children, samples] : rows) EXPECT_EQ(Probe(children, samples), std::make_tuple("0x0", children, 1));
  // Once probed, the entry is not probed again.
  source_ = MemorySource::Create(Bytes(8 + 7));
  Probe({});
  ASSERT_EQ(TrackType(movie_, 1, &type_), S_OK);
  EXPECT_EQ(source_->ReadCount(), 1u);
}

}  // namespace
