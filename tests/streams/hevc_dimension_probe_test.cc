// H.265 entries written without a picture size: the first media-type
// request fills width and height from the parameter sets (of the hvcC, else
// of the first samples) and leaves a well-formed hvcC box as the payload.
// A decoder sized from a wrong picture, or handed a broken hvcC, fails.
#include "h265_stream_builder.h"
#include "media_type_movie.h"
#include "test_files.h"

#include "streams/hvcc_record.h"
#include "streams/mini_parser_h265.h"
#include "streams/video_sample_entry.h"
#include "support/json_value.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

using h265_test::Bytes;

// An access unit delimiter: a unit that is no parameter set.
const Bytes kDelimiterSample = {0, 0, 0, 3, 0x46, 0x01, 0x50};

class HevcDimensionProbeTest : public ::testing::Test {
 protected:
  static MediaTypeTrack Track(const Bytes& children, std::vector<Bytes> samples = {kDelimiterSample},
                              uint16_t width = 0, uint16_t height = 0, const char* format = "hvc1") {
    MediaTypeTrack track;
    track.format = format;
    track.entryBody = VisualEntryBody(width, height, children);
    track.samples = std::move(samples);
    return track;
  }
  static const VideoSampleEntry& Video(const ParsedMovie& movie) {
    return dynamic_cast<const VideoSampleEntry&>(*movie.Track(0).sampleEntry);
  }
  // The payload the probe leaves: one hvcC box built from `sets` alone.
  static Bytes HvcC(const Bytes& record) {
    BoxBuilder b;
    b.Box("hvcC", [&] { b.Bytes(record); });
    return b.Data();
  }
  static Bytes BoxOf(const Bytes& sets) {
    Bytes box;
    EXPECT_EQ(BuildHvcC(sets.data(), sets.size(), &box, kHvcCBoxIncomplete), S_OK);
    return box;
  }

  // A muxer's hvcC box for a 176x104 stream cropped to 176x100, and the
  // stream's own VPS, SPS and PPS.
  const Bytes box_ = LoadTestFile("hevc/crop_420_176x100.hvcC");
  const Bytes record_{box_.begin() + 8, box_.end()};
  const Bytes stream_ = LoadTestFile("hevc/crop_420_176x100.hevc");
  const Bytes sets_{stream_.begin(), stream_.begin() + 84};
};

TEST_F(HevcDimensionProbeTest, ConfigGivesTheCroppedSizeAndBecomesTheOnlyPayloadBox) {
  BoxBuilder children;
  children.Bytes(box_).Box("btrt", [&] { children.Zeros(12); });
  for (const char* format : {"hvc1", "hev1"}) {
    const ParsedMovie movie = ParseMediaTypeMovie(Track(children.Data(), {kDelimiterSample}, 0, 100, format));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK) << format;
    EXPECT_EQ(Video(movie).width, 176) << format;
    EXPECT_EQ(Video(movie).height, 100) << format;
    EXPECT_EQ(Slice(Video(movie).payload), BoxOf(sets_)) << format;
    const BITMAPINFOHEADER bitmap = FormatBlock<VIDEOINFOHEADER>(type).bmiHeader;
    EXPECT_EQ(std::make_pair(bitmap.biWidth, bitmap.biHeight), std::make_pair(176, 100)) << format;
    EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), BoxOf(sets_)) << format;
    // The FourCC type keeps the configuration as the file had it.
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK) << format;
    EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), record_) << format;
  }
}

TEST_F(HevcDimensionProbeTest, EntryWithASizeIsLeftAsWritten) {
  const ParsedMovie movie = ParseMediaTypeMovie(Track(box_, {kDelimiterSample}, 640, 360));
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  EXPECT_EQ(Video(movie).width, 640);
  EXPECT_EQ(Video(movie).height, 360);
  EXPECT_EQ(Slice(Video(movie).payload), box_);
  EXPECT_EQ(Video(movie).dimensionsProbed, 0);
}

TEST_F(HevcDimensionProbeTest, ParameterSetsInSampleTwoAreFoundAfterReadingThreeSamples) {
  using namespace h265_test;
  const Bytes sets = LengthPrefixed({MakeVps(), MakeSps(), MakePps()});  // 176x104
  const ParsedMovie movie = ParseMediaTypeMovie(Track({}, {kDelimiterSample, kDelimiterSample, sets, kDelimiterSample}));
  // Watch the probe's reads from here on.
  Bytes copy(8 + 7 + 7);
  copy.insert(copy.end(), sets.begin(), sets.end());
  ComPtr<MemorySource> source = MemorySource::Create(copy);
  movie.Track(0).SetReader(source.Get());
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  EXPECT_EQ(Video(movie).width, 176);
  EXPECT_EQ(Video(movie).height, 104);
  std::vector<LONGLONG> positions;
  for (const MemorySource::ReadCall& read : source->Reads()) positions.push_back(read.position);
  EXPECT_EQ(positions, (std::vector<LONGLONG>{8, 15, 22}));
}

TEST_F(HevcDimensionProbeTest, ProbeRunsOnceEvenWhenItFindsNothing) {
  const ParsedMovie movie = ParseMediaTypeMovie(Track({}));
  ComPtr<MemorySource> source = MemorySource::Create(Bytes(8 + 7));
  movie.Track(0).SetReader(source.Get());
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  EXPECT_EQ(source->ReadCount(), 1u);
}

TEST_F(HevcDimensionProbeTest, MalformedOrMissingParameterSetsLeaveTheEntryAlone) {
  // The record holds a 24-byte VPS, a 41-byte SPS and a 7-byte PPS, each in an array of its own.
  Bytes malformedSps = record_;
  malformedSps[23 + 29 + 5 + 2] |= 0x0E;  // sps_max_sub_layers_minus1 7
  Bytes noPps(record_.begin(), record_.end() - 12);
  noPps[22] = 2;
  const Bytes sets = h265_test::LengthPrefixed({h265_test::MakeVps(), h265_test::MakeSps(), h265_test::MakePps()});
  const struct {
    const char* name;
    Bytes children;
    std::vector<Bytes> samples;
  } rows[] = {
      {"malformed SPS", HvcC(malformedSps), {kDelimiterSample}},
      {"no PPS", HvcC(noPps), {kDelimiterSample}},
      {"record cut short", Bytes(box_.begin(), box_.end() - 5), {kDelimiterSample}},
      {"sets only in sample 4", {}, {kDelimiterSample, kDelimiterSample, kDelimiterSample, kDelimiterSample, sets}},
      {"length prefix past the sample", {}, {{0, 0, 1, 0, 0x40, 0x01}}},
  };
  for (const auto& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(Track(row.children, row.samples));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK) << row.name;
    EXPECT_EQ(Video(movie).width, 0) << row.name;
    EXPECT_EQ(Video(movie).height, 0) << row.name;
    EXPECT_EQ(Slice(Video(movie).payload), row.children) << row.name;
    EXPECT_EQ(Video(movie).dimensionsProbed, 1) << row.name;
  }
}

// hevc_sar.mp4: the VUI says 4:3 and so does "pasp". The rewritten hvcC
// keeps the VUI, and the picture aspect comes from "pasp".
TEST_F(HevcDimensionProbeTest, RewrittenConfigKeepsTheVuiAspectRatio) {
  const auto facts = JsonValue::Parse(*ReadTextFile(std::string(ISODMX_TEST_DATA) + "/hevc_sar.mp4.facts.json"));
  ASSERT_TRUE(facts);
  const std::string hex = (*facts)["streams"][0]["extradata"].String();
  BoxBuilder children;
  children.Box("hvcC", [&] {
    for (size_t i = 0; i + 1 < hex.size(); i += 2) children.U8(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  });
  children.Box("pasp", [&] { children.U32(4).U32(3); });
  const ParsedMovie movie = ParseMediaTypeMovie(Track(children.Data()));
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  const VIDEOINFOHEADER2 header = FormatBlock<VIDEOINFOHEADER2>(type);
  EXPECT_EQ(std::make_pair(header.bmiHeader.biWidth, header.bmiHeader.biHeight), std::make_pair(176, 144));
  EXPECT_EQ(std::make_pair(header.dwPictAspectRatioX, header.dwPictAspectRatioY), std::make_pair(235u, 144u));
  std::vector<BYTE> startCodes;
  H265StreamInfo info;
  const Bytes payload = Slice(Video(movie).payload);
  ASSERT_EQ(ParseH265Config(payload.data(), payload.size(), &startCodes, &info), S_OK);
  EXPECT_EQ(std::vector<uint32_t>({info.hasSampleAspect, info.sampleAspectW, info.sampleAspectH}),
            std::vector<uint32_t>({1, 4, 3}));
}

}  // namespace
