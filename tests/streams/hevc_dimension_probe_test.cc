// H.265 entries written without a picture size: the first media-type
// request fills width and height from the parameter sets (of the hvcC, else
// of the first samples) and leaves a well-formed hvcC box as the payload.
// A decoder sized from a wrong picture, or handed a broken hvcC, fails.
#include "h265_stream_builder.h"
#include "hevc_test_files.h"
#include "media_type_movie.h"

#include "container/field_reader.h"
#include "platform/media_guids.h"
#include "streams/hvcc_record.h"
#include "streams/mini_parser_h265.h"
#include "streams/video_sample_entry.h"
#include "support/json_value.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

using h265_test::Bytes;

// 1920 × 1080 coded as 1920 × 1088 with 4 chroma rows (8 luma rows) cut
// at the bottom in 4:2:0.
Bytes HdParameterSets() {
  h265_test::SpsSpec sps;
  sps.width = 1920;
  sps.height = 1088;
  sps.cropBottom = 4;
  return h265_test::AnnexB({h265_test::MakeVps(), h265_test::MakeSps(sps), h265_test::MakePps()});
}

Bytes BareRecord(const Bytes& annexB) {
  std::vector<BYTE> record;
  EXPECT_EQ(BuildHvcC(annexB.data(), annexB.size(), &record, kHvcCRecordIncomplete), S_OK);
  return record;
}

// An hvcC record holding `units` one per array, written by hand so that it
// may carry units that do not parse.
Bytes RecordOf(const std::vector<Bytes>& units) {
  Bytes record(22, 0);
  record[0] = 1;
  record[21] = 0x0F;
  record.push_back(static_cast<uint8_t>(units.size()));
  for (const Bytes& unit : units) {
    record.push_back(static_cast<uint8_t>(unit[0] >> 1));
    record.insert(record.end(), {0, 1, static_cast<uint8_t>(unit.size() >> 8), static_cast<uint8_t>(unit.size())});
    record.insert(record.end(), unit.begin(), unit.end());
  }
  return record;
}

std::vector<uint8_t> HvcCBox(const Bytes& record) {
  BoxBuilder b;
  b.Box("hvcC", [&] { b.Bytes(record); });
  return b.Data();
}

// The units of an Annex B stream, each behind a 4-byte big-endian length,
// as an MP4 sample stores them.
Bytes LengthPrefixed(const Bytes& annexB) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 <= annexB.size(); ++i) {
    if (annexB[i] == 0 && annexB[i + 1] == 0 && annexB[i + 2] == 1) starts.push_back(i + 3);
  }
  Bytes out;
  for (size_t n = 0; n < starts.size(); ++n) {
    size_t end = n + 1 < starts.size() ? starts[n + 1] - 3 : annexB.size();
    while (n + 1 < starts.size() && end > starts[n] && annexB[end - 1] == 0) --end;
    const size_t size = end - starts[n];
    out.insert(out.end(), {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                           static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)});
    out.insert(out.end(), annexB.begin() + static_cast<long>(starts[n]), annexB.begin() + static_cast<long>(end));
  }
  return out;
}

// An access unit delimiter: a unit that is no parameter set.
const Bytes kDelimiterSample = {0, 0, 0, 3, 0x46, 0x01, 0x50};

MediaTypeTrack HevcTrack(const char* format, uint16_t width, uint16_t height,
                         const std::vector<uint8_t>& children = {}) {
  MediaTypeTrack track;
  track.format = format;
  track.entryBody = VisualEntryBody(width, height, children);
  return track;
}

const VideoSampleEntry& Video(const ParsedMovie& movie) {
  return dynamic_cast<const VideoSampleEntry&>(*movie.Track(0).sampleEntry);
}

// The arrays of the hvcC box that is the whole payload: (type, completeness).
std::vector<std::pair<int, bool>> PayloadArrays(const VideoSampleEntry& video) {
  const std::vector<uint8_t> payload = Slice(video.payload);
  std::vector<std::pair<int, bool>> arrays;
  if (payload.size() < 8 + 23) return arrays;
  EXPECT_EQ(LoadBigEndian32(payload.data()), payload.size());
  EXPECT_EQ(std::string(payload.begin() + 4, payload.begin() + 8), "hvcC");
  size_t at = 8 + 22;
  const int count = payload[at++];
  for (int i = 0; i < count && at + 3 <= payload.size(); ++i) {
    arrays.emplace_back(payload[at] & 0x3F, (payload[at] & 0x80) != 0);
    const int units = (payload[at + 1] << 8) | payload[at + 2];
    at += 3;
    for (int u = 0; u < units && at + 2 <= payload.size(); ++u) at += 2 + ((payload[at] << 8) | payload[at + 1]);
  }
  EXPECT_EQ(at, payload.size());
  return arrays;
}

class HevcDimensionProbeTest : public ::testing::Test {};

TEST_F(HevcDimensionProbeTest, ConfigGivesTheCroppedSizeAndBecomesTheOnlyPayloadBox) {
  const Bytes record = BareRecord(HdParameterSets());
  for (const char* format : {"hvc1", "hev1"}) {
    const ParsedMovie movie = ParseMediaTypeMovie(HevcTrack(format, 0, 1080, HvcCBox(record)));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK) << format;
    const VideoSampleEntry& video = Video(movie);
    EXPECT_EQ(video.width, 1920) << format;
    EXPECT_EQ(video.height, 1080) << format;
    EXPECT_EQ(PayloadArrays(video), (std::vector<std::pair<int, bool>>{{32, false}, {33, false}, {34, false}}));

    const VIDEOINFOHEADER header = FormatBlock<VIDEOINFOHEADER>(type);
    EXPECT_EQ(header.bmiHeader.biWidth, 1920) << format;
    EXPECT_EQ(header.bmiHeader.biHeight, 1080) << format;
    EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), Slice(video.payload)) << format;
    // The FourCC type keeps the configuration as the file had it.
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK) << format;
    EXPECT_EQ(BlockTail(type, sizeof(VIDEOINFOHEADER)), record) << format;
  }
}

TEST_F(HevcDimensionProbeTest, RealConformanceWindowIsCropped) {
  const Bytes box = LoadHevcTestFile("crop_420_176x100.hvcC");
  ASSERT_GT(box.size(), 8u);
  const ParsedMovie movie = ParseMediaTypeMovie(HevcTrack("hvc1", 0, 0, box));
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  EXPECT_EQ(Video(movie).width, 176);
  EXPECT_EQ(Video(movie).height, 100);
  EXPECT_EQ(FormatBlock<VIDEOINFOHEADER>(type).bmiHeader.biHeight, 100);
}

TEST_F(HevcDimensionProbeTest, EntryWithASizeIsLeftAsWritten) {
  const std::vector<uint8_t> children = HvcCBox(BareRecord(HdParameterSets()));
  const ParsedMovie movie = ParseMediaTypeMovie(HevcTrack("hvc1", 640, 360, children));
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  EXPECT_EQ(Video(movie).width, 640);
  EXPECT_EQ(Video(movie).height, 360);
  EXPECT_EQ(Slice(Video(movie).payload), children);
  EXPECT_EQ(Video(movie).dimensionsProbed, 0);
}

TEST_F(HevcDimensionProbeTest, ParameterSetsInSampleZeroGiveTheSize) {
  MediaTypeTrack track = HevcTrack("hvc1", 0, 0);
  track.samples = {LengthPrefixed(LoadHevcTestFile("crop_420_176x100.hevc")), kDelimiterSample};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  EXPECT_EQ(Video(movie).width, 176);
  EXPECT_EQ(Video(movie).height, 100);
  EXPECT_EQ(PayloadArrays(Video(movie)).size(), 3u);
}

TEST_F(HevcDimensionProbeTest, ParameterSetsInSampleTwoAreFoundAfterReadingThreeSamples) {
  MediaTypeTrack track = HevcTrack("hvc1", 0, 0);
  const Bytes sets = LengthPrefixed(HdParameterSets());
  track.samples = {kDelimiterSample, kDelimiterSample, sets, kDelimiterSample};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  // Watch the probe's reads from here on.
  BoxBuilder copy;
  copy.Bytes(std::vector<uint8_t>(8 + 7 + 7));
  copy.Bytes(sets);
  ComPtr<MemorySource> source = MemorySource::Create(copy.Data());
  movie.Track(0).SetReader(source.Get());

  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  EXPECT_EQ(Video(movie).width, 1920);
  EXPECT_EQ(Video(movie).height, 1080);
  std::vector<LONGLONG> positions;
  for (const MemorySource::ReadCall& read : source->Reads()) positions.push_back(read.position);
  EXPECT_EQ(positions, (std::vector<LONGLONG>{8, 15, 22}));
}

TEST_F(HevcDimensionProbeTest, MalformedOrMissingParameterSetsLeaveTheEntryAlone) {
  h265_test::SpsSpec zeroWidth;
  zeroWidth.width = 0;
  struct Row {
    const char* name;
    std::vector<uint8_t> children;
    std::vector<Bytes> samples;
  };
  const Bytes sets = HdParameterSets();
  const Bytes record = BareRecord(sets);
  const Row rows[] = {
      {"SPS with zero width",
       HvcCBox(RecordOf({h265_test::MakeVps(), h265_test::MakeSps(zeroWidth), h265_test::MakePps()})),
       {kDelimiterSample}},
      {"no PPS", HvcCBox(RecordOf({h265_test::MakeVps(), h265_test::MakeSps()})), {kDelimiterSample}},
      {"record cut short", HvcCBox(Bytes(record.begin(), record.end() - 5)), {kDelimiterSample}},
      {"sets only in sample 4",
       {},
       {kDelimiterSample, kDelimiterSample, kDelimiterSample, kDelimiterSample, LengthPrefixed(sets)}},
      {"length prefix past the sample", {}, {{0, 0, 1, 0, 0x40, 0x01}}},
  };
  for (const Row& row : rows) {
    MediaTypeTrack track = HevcTrack("hvc1", 0, 0, row.children);
    track.samples = row.samples;
    const ParsedMovie movie = ParseMediaTypeMovie(track);
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK) << row.name;
    EXPECT_EQ(Video(movie).width, 0) << row.name;
    EXPECT_EQ(Video(movie).height, 0) << row.name;
    EXPECT_EQ(Slice(Video(movie).payload), row.children) << row.name;
    EXPECT_EQ(Video(movie).dimensionsProbed, 1) << row.name;
  }
}

TEST_F(HevcDimensionProbeTest, ProbeRunsOnceEvenWhenItFindsNothing) {
  MediaTypeTrack track = HevcTrack("hvc1", 0, 0);
  track.samples = {kDelimiterSample};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  ComPtr<MemorySource> source = MemorySource::Create(std::vector<uint8_t>(8 + 7));
  movie.Track(0).SetReader(source.Get());
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  ASSERT_EQ(TrackType(movie, 1, &type), S_OK);
  EXPECT_EQ(source->ReadCount(), 1u);
}

// hevc_sar.mp4: the VUI says 4:3 and so does "pasp". The rewritten hvcC
// keeps the VUI, and the picture aspect comes from "pasp".
TEST_F(HevcDimensionProbeTest, RewrittenConfigKeepsTheVuiAspectRatio) {
  const auto facts = ReadTextFile(std::string(ISODMX_TEST_DATA) + "/hevc_sar.mp4.facts.json");
  ASSERT_TRUE(facts);
  const auto document = JsonValue::Parse(*facts);
  ASSERT_TRUE(document);
  const std::string hex = (*document)["streams"][0]["extradata"].String();
  Bytes record;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    record.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  BoxBuilder pasp;
  pasp.Box("pasp", [&] { pasp.U32(4).U32(3); });
  std::vector<uint8_t> children = HvcCBox(record);
  children.insert(children.end(), pasp.Data().begin(), pasp.Data().end());

  const ParsedMovie movie = ParseMediaTypeMovie(HevcTrack("hvc1", 0, 0, children));
  CMediaType type;
  ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
  const VIDEOINFOHEADER2 header = FormatBlock<VIDEOINFOHEADER2>(type);
  EXPECT_EQ(header.bmiHeader.biWidth, 176);
  EXPECT_EQ(header.bmiHeader.biHeight, 144);
  EXPECT_EQ(header.dwPictAspectRatioX, 235u);
  EXPECT_EQ(header.dwPictAspectRatioY, 144u);

  std::vector<BYTE> startCodes;
  H265StreamInfo info;
  const std::vector<uint8_t> payload = Slice(Video(movie).payload);
  ASSERT_EQ(ParseH265Config(payload.data(), payload.size(), &startCodes, &info), S_OK);
  EXPECT_EQ(info.hasSampleAspect, 1u);
  EXPECT_EQ(info.sampleAspectW, 4u);
  EXPECT_EQ(info.sampleAspectH, 3u);
}

}  // namespace
