#include "streams/mini_parser_h265.h"

#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/media_type.h"
#include "streams/rbsp_bit_reader.h"

#include "h265_stream_builder.h"
#include "hevc_test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

namespace {

using namespace h265_test;

HRESULT Parse(const Bytes& stream, H265StreamInfo* info) {
  return ParseH265StartCodes(stream.data(), stream.size(), info);
}

// A VPS, SPS and PPS as an encoder writes them ahead of a picture; the slice
// after the PPS gives it a following start code like real streams have.
Bytes Stream(const VpsSpec& vps, const SpsSpec& sps, const PpsSpec& pps = {}) {
  return AnnexB({MakeVps(vps), MakeSps(sps), MakePps(pps), {0x26, 0x01, 0xAF, 0x10}});
}

// Facts that an independent bitstream dump reported for the committed streams.
TEST(MiniParserH265RealStreamsTest, DerivesWhatADecoderWouldShow) {
  const struct {
    const char* file;
    int32_t width;
    int32_t height;
    double frameRate;
    uint32_t bitDepth;
    uint32_t hasSampleAspect;
    uint32_t sarW;
    uint32_t sarH;
  } cases[] = {
      // Coded 176x104; the window's bottom offset 2 counts chroma rows.
      {"crop_420_176x100.hevc", 176, 100, 24.0, 8, 0, 0, 0},
      // 4:2:2 coded 176x104: right offset 3 counts column pairs, bottom 4 single rows.
      {"crop_422_170x100.hevc", 170, 100, 24.0, 8, 0, 0, 0},
      {"main10_176x100.hevc", 176, 100, 24.0, 10, 0, 0, 0},
      {"sar_table_4x3.hevc", 176, 144, 24.0, 8, 1, 4, 3},
      {"sar_extended_5x3.hevc", 176, 144, 24.0, 8, 1, 5, 3},
      {"no_timing.hevc", 176, 100, 30.0, 8, 0, 0, 0},
      {"vps_timing_30000_1001.hevc", 176, 100, 30000.0 / 1001.0, 8, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes stream = LoadHevcTestFile(c.file);
    ASSERT_FALSE(stream.empty());
    H265StreamInfo info;
    ASSERT_EQ(Parse(stream, &info), S_OK);
    EXPECT_EQ(info.pictureWidth, c.width);
    EXPECT_EQ(info.pictureHeight, c.height);
    EXPECT_DOUBLE_EQ(info.frameRate, c.frameRate);
    EXPECT_EQ(info.bitDepthLuma, c.bitDepth);
    EXPECT_EQ(info.bitDepthChroma, c.bitDepth);
    EXPECT_EQ(info.hasSampleAspect, c.hasSampleAspect);
    EXPECT_EQ(info.sampleAspectW, c.sarW);
    EXPECT_EQ(info.sampleAspectH, c.sarH);
    EXPECT_EQ(info.progressive, 1u);
  }
}

TEST(MiniParserH265Test, ConformanceWindowScalesWithChromaFormat) {
  const struct {
    const char* name;
    uint32_t chromaFormatIdc;
    bool separatePlanes;
    int32_t width;
    int32_t height;
  } cases[] = {
      // Window offsets left 1, right 2, top 3, bottom 4 on a 176x104 picture.
      {"monochrome counts samples", 0, false, 173, 97},
      {"4:2:0 counts chroma pairs both ways", 1, false, 170, 90},
      {"4:2:2 counts pairs across, rows down", 2, false, 170, 97},
      {"4:4:4 counts samples", 3, false, 173, 97},
      {"4:4:4 as separate planes counts samples", 3, true, 173, 97},
  };
  for (const auto& c : cases) {
    SpsSpec sps;
    sps.chromaFormatIdc = c.chromaFormatIdc;
    sps.separateColourPlane = c.separatePlanes;
    sps.cropLeft = 1;
    sps.cropRight = 2;
    sps.cropTop = 3;
    sps.cropBottom = 4;
    H265StreamInfo info;
    ASSERT_EQ(Parse(Stream({}, sps), &info), S_OK) << c.name;
    EXPECT_EQ(info.pictureWidth, c.width) << c.name;
    EXPECT_EQ(info.pictureHeight, c.height) << c.name;
  }
}

TEST(MiniParserH265Test, SampleAspectComesFromTheTableOrTheExtendedRatio) {
  const struct {
    int idc;
    uint32_t sarWidth, sarHeight;
    uint32_t has, w, h;
  } cases[] = {
      {-1, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0},    {1, 0, 0, 0, 0, 0},     {2, 0, 0, 1, 12, 11},
      {5, 0, 0, 1, 40, 33}, {13, 0, 0, 1, 160, 99}, {14, 0, 0, 1, 4, 3},  {16, 0, 0, 1, 2, 1},
      {17, 0, 0, 0, 0, 0}, {255, 64, 45, 1, 64, 45}, {255, 0, 45, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SpsSpec sps;
    sps.vui = true;
    sps.aspectRatioIdc = c.idc;
    sps.sarWidth = c.sarWidth;
    sps.sarHeight = c.sarHeight;
    H265StreamInfo info;
    ASSERT_EQ(Parse(Stream({}, sps), &info), S_OK) << c.idc;
    EXPECT_EQ(info.hasSampleAspect, c.has) << c.idc;
    EXPECT_EQ(info.sampleAspectW, c.w) << c.idc;
    EXPECT_EQ(info.sampleAspectH, c.h) << c.idc;
  }
}

TEST(MiniParserH265Test, FrameRatePrefersVpsThenVuiThenThirty) {
  const struct {
    const char* name;
    VpsSpec vps;
    bool vuiTiming;
    Timing vuiTick;
    double frameRate;
  } cases[] = {
      {"VPS timing wins over the VUI", {0, true, {1, 50}, false}, true, {1, 25}, 50.0},
      {"VPS timing after HRD parameters", {0, true, {1001, 60000}, true}, true, {1, 25}, 60000.0 / 1001},
      {"VUI timing without VPS timing", {}, true, {1, 25}, 25.0},
      {"no timing", {}, false, {}, 30.0},
      {"a zero tick in the VPS falls to the VUI", {0, true, {0, 50}, false}, true, {2, 50}, 25.0},
      {"a zero time scale in the VUI falls to thirty", {}, true, {1, 0}, 30.0},
      {"unsigned 32-bit values", {0, true, {0x80000000u, 0xFFFFFFFFu}, false}, false, {}, 0xFFFFFFFFu / 2147483648.0},
  };
  for (const auto& c : cases) {
    SpsSpec sps;
    sps.vui = true;
    sps.vuiTiming = c.vuiTiming;
    sps.tick = c.vuiTick;
    sps.vuiHrd = c.vuiTiming;
    H265StreamInfo info;
    ASSERT_EQ(Parse(Stream(c.vps, sps), &info), S_OK) << c.name;
    EXPECT_DOUBLE_EQ(info.frameRate, c.frameRate) << c.name;
  }
}

TEST(MiniParserH265Test, OptionalSyntaxIsSteppedOverExactly) {
  // Each option shifts every later field; the aspect ratio at the end of the
  // SPS and the bit depth before it show that the reader kept its place.
  SpsSpec base;
  base.bitDepthLumaMinus8 = 2;
  base.bitDepthChromaMinus8 = 1;
  base.vui = true;
  base.aspectRatioIdc = 255;
  base.sarWidth = 8;
  base.sarHeight = 9;
  base.vuiTiming = true;
  base.tick = {1, 48};
  base.vuiHrd = true;
  base.minSpatialSegmentationIdc = 200;
  std::vector<std::pair<const char*, SpsSpec>> variants;
  variants.emplace_back("plain", base);
  SpsSpec s = base;
  s.scalingList = true;
  variants.emplace_back("scaling lists", s);
  s = base;
  s.pcm = true;
  variants.emplace_back("PCM", s);
  s = base;
  s.predictedRefPicSets = true;
  variants.emplace_back("predicted reference picture sets", s);
  s = base;
  s.maxSubLayersMinus1 = 2;
  variants.emplace_back("three temporal sub-layers", s);
  s = base;
  s.numShortTermRefPicSets = 64;
  s.numLongTermRefPics = 32;
  variants.emplace_back("the most reference picture sets", s);
  for (const auto& [name, sps] : variants) {
    H265StreamInfo info;
    ASSERT_EQ(Parse(Stream({}, sps, {0, 0, true, true, -30}), &info), S_OK) << name;
    EXPECT_EQ(info.bitDepthLuma, 10u) << name;
    EXPECT_EQ(info.bitDepthChroma, 9u) << name;
    EXPECT_EQ(info.sampleAspectW, 8u) << name;
    EXPECT_EQ(info.sampleAspectH, 9u) << name;
    EXPECT_DOUBLE_EQ(info.frameRate, 48.0) << name;
  }
}

TEST(MiniParserH265Test, PredictedReferencePictureSetsFollowTheirReference) {
  const Bytes sps = MakeSps([] {
    SpsSpec spec;
    spec.predictedRefPicSets = true;
    return spec;
  }());
  H265Sps parsed;
  ASSERT_EQ(ParseH265Sps(sps.data() + 2, sps.size() - 2, &parsed), S_OK);
  ASSERT_EQ(parsed.shortTermRefPicSets.size(), 3u);
  // Set 1: set 0's {-1, -3} moved by -1, plus -1 itself.
  const H265ShortTermRefPicSet& set1 = parsed.shortTermRefPicSets[1];
  ASSERT_EQ(set1.numNegativePics, 3u);
  ASSERT_EQ(set1.numPositivePics, 0u);
  EXPECT_EQ(set1.deltaPocS0[0], -1);
  EXPECT_EQ(set1.deltaPocS0[1], -2);
  EXPECT_EQ(set1.deltaPocS0[2], -4);
  EXPECT_FALSE(set1.usedByCurrPicS0[2]);
  // Set 2: set 1 moved by +2, plus +2 itself.
  const H265ShortTermRefPicSet& set2 = parsed.shortTermRefPicSets[2];
  ASSERT_EQ(set2.numNegativePics, 1u);
  ASSERT_EQ(set2.numPositivePics, 2u);
  EXPECT_EQ(set2.deltaPocS0[0], -2);
  EXPECT_EQ(set2.deltaPocS1[0], 1);
  EXPECT_EQ(set2.deltaPocS1[1], 2);
}

TEST(MiniParserH265Test, StreamsWithoutAllThreeSetsAreIncomplete) {
  const Bytes slice = {0x26, 0x01, 0xAF, 0x10, 0x20};
  const struct {
    const char* name;
    Bytes stream;
  } cases[] = {
      {"empty", {}},
      {"no PPS", AnnexB({MakeVps(), MakeSps(), slice})},
      {"no VPS", AnnexB({MakeSps(), MakePps(), slice})},
      {"SPS last without a following start code", AnnexB({MakeVps(), MakePps(), MakeSps()})},
      {"VPS last without a following start code", AnnexB({MakeSps(), MakePps(), MakeVps()})},
      // From its start code on, fewer than 9 bytes are left for this PPS.
      {"a tiny PPS at the very end", Concat({AnnexB({MakeVps(), MakeSps()}), {0, 0, 1, 0x44, 0x01, 0xC1}})},
      {"parameter sets of another layer", AnnexB({MakeVps(), MakeSps(), [] {
                                                    Bytes pps = MakePps();
                                                    pps[1] |= 0x08;  // nuh_layer_id 1
                                                    return pps;
                                                  }(), slice})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parse(c.stream, nullptr), kParameterSetsIncomplete) << c.name;
  }
}

TEST(MiniParserH265Test, PpsAtTheEndOfTheDataIsParsed) {
  // Seven bytes of PPS from its start code plus four of the start code: the
  // last unit of a converted hvcC record.
  H265StreamInfo info;
  EXPECT_EQ(Parse(AnnexB({MakeVps(), MakeSps(), MakePps()}), &info), S_OK);
  EXPECT_EQ(info.pictureWidth, 176);
}

TEST(MiniParserH265Test, OutOfRangeValuesAreMalformed) {
  auto sps = [](auto change) {
    SpsSpec spec;
    change(spec);
    return spec;
  };
  const struct {
    const char* name;
    Bytes stream;
  } cases[] = {
      {"sps_seq_parameter_set_id 16", Stream({}, sps([](SpsSpec& s) { s.id = 16; }))},
      {"pps_pic_parameter_set_id 64", Stream({}, {}, {64, 0})},
      {"pps_seq_parameter_set_id 16", Stream({}, {}, {0, 16})},
      {"chroma_format_idc 4", Stream({}, sps([](SpsSpec& s) { s.chromaFormatIdc = 4; }))},
      {"bit depth 17", Stream({}, sps([](SpsSpec& s) { s.bitDepthLumaMinus8 = 9; }))},
      {"65 short-term sets", Stream({}, sps([](SpsSpec& s) { s.numShortTermRefPicSets = 65; }))},
      {"33 long-term pictures", Stream({}, sps([](SpsSpec& s) { s.numLongTermRefPics = 33; }))},
      {"zero width", Stream({}, sps([](SpsSpec& s) { s.width = 0; }))},
      {"width not a multiple of the coding block", Stream({}, sps([](SpsSpec& s) { s.width = 170; }))},
      {"window as wide as the picture", Stream({}, sps([](SpsSpec& s) { s.cropLeft = 44; s.cropRight = 44; }))},
      {"window offsets near 2^32", Stream({}, sps([](SpsSpec& s) { s.cropTop = 0xFFFFFFFE; s.cropBottom = 2; }))},
      {"min_spatial_segmentation_idc 4096",
       Stream({}, sps([](SpsSpec& s) { s.vui = true; s.minSpatialSegmentationIdc = 4096; }))},
      {"init_qp_minus26 below -26 at 8 bits", Stream({}, {}, {0, 0, false, false, -27})},
      {"init_qp_minus26 above 25", Stream({}, {}, {0, 0, false, false, 26})},
  };
  for (const auto& c : cases) {
    const HRESULT hr = Parse(c.stream, nullptr);
    EXPECT_TRUE(FAILED(hr)) << c.name << ": " << std::hex << hr;
  }
}

TEST(MiniParserH265Test, SubLayerCountOfEightIsMalformed) {
  Bytes vps = MakeVps();
  vps[3] = (vps[3] & 0xF1) | 0x0E;  // vps_max_sub_layers_minus1 = 7
  EXPECT_EQ(Parse(AnnexB({vps, MakeSps(), MakePps(), {0x26, 0x01, 0xAF, 0x10}}), nullptr), kMalformedBitstream);
  Bytes sps = MakeSps();
  sps[2] |= 0x0E;  // sps_max_sub_layers_minus1 = 7
  EXPECT_EQ(Parse(AnnexB({MakeVps(), sps, MakePps(), {0x26, 0x01, 0xAF, 0x10}}), nullptr), kMalformedBitstream);
}

TEST(MiniParserH265Test, EveryTruncationOfARealStreamEndsCleanly) {
  // Under the sanitizers this shows that no cut reads outside the data.
  const Bytes stream = LoadHevcTestFile("sar_extended_5x3.hevc");
  ASSERT_FALSE(stream.empty());
  for (size_t size = 0; size <= 120 && size <= stream.size(); ++size) {
    const Bytes cut(stream.begin(), stream.begin() + size);
    H265StreamInfo info;
    const HRESULT hr = Parse(cut, &info);
    EXPECT_TRUE(hr == S_OK || hr == kParameterSetsIncomplete || FAILED(hr)) << size;
  }
}

TEST(MiniParserH265Test, GarbageAfterTheHeadersNeverCrashes) {
  std::mt19937 random(12345);
  const Bytes heads[] = {MakeVps({0, true, {1, 25}, true}), MakeSps([] {
                           SpsSpec s;
                           s.vui = true;
                           s.vuiTiming = true;
                           s.vuiHrd = true;
                           s.scalingList = true;
                           return s;
                         }()),
                         MakePps({0, 0, true, true, 0})};
  for (int round = 0; round < 3000; ++round) {
    Bytes units[3] = {heads[0], heads[1], heads[2]};
    Bytes& victim = units[round % 3];
    // Flip a few bytes, keeping the two-byte NAL header.
    for (int flips = 0; flips < 1 + round % 4; ++flips) {
      const size_t at = 2 + random() % (victim.size() - 2);
      victim[at] = static_cast<uint8_t>(random());
    }
    Parse(AnnexB({units[0], units[1], units[2], {0x26, 0x01, 0xAF}}), nullptr);
  }
}

TEST(MiniParserH265FeedTest, CollectsUntilTheParameterSetsAreComplete) {
  const Bytes stream = LoadHevcTestFile("crop_420_176x100.hevc");
  ASSERT_GT(stream.size(), 200u);
  // VPS 24, SPS 41 and PPS 7 bytes behind their four-byte start codes end at
  // 84; the slice's three-byte start code and two header bytes have to
  // arrive (89 bytes) before the PPS counts.
  const struct {
    size_t chunk;
    size_t fedAtCompletion;
  } cases[] = {{1, 89}, {2, 90}, {7, 91}, {45, 90}, {200, 200}};
  for (const auto& c : cases) {
    CMiniParserH265 parser;
    CMediaType early;
    EXPECT_EQ(parser.GetMediaType(&early), VFW_E_NOT_FOUND);
    size_t fed = 0;
    HRESULT hr = S_FALSE;
    while (hr == S_FALSE && fed < stream.size()) {
      hr = parser.Feed(stream.data() + fed, static_cast<LONG>(c.chunk));
      fed += c.chunk;
    }
    ASSERT_EQ(hr, S_OK) << c.chunk;
    EXPECT_EQ(fed, c.fedAtCompletion) << c.chunk;
    EXPECT_EQ(parser.Feed(stream.data(), 3), S_OK);
    EXPECT_EQ(parser.StreamInfo().pictureHeight, 100);
  }
}

TEST(MiniParserH265FeedTest, UnitCutByTheEndOfAFeedIsNotJudgedYet) {
  const Bytes pps = MakePps();
  const Bytes stream = AnnexB({MakeVps(), MakeSps(), pps, {0x26, 0x01, 0xAF, 0x10}});
  const size_t cut = AnnexB({MakeVps(), MakeSps()}).size() + 4 + pps.size() - 2;
  // Read as it stands, the cut PPS runs out of bits.
  ASSERT_TRUE(FAILED(ParseH265StartCodes(stream.data(), cut, nullptr)));
  CMiniParserH265 parser;
  EXPECT_EQ(parser.Feed(stream.data(), static_cast<LONG>(cut)), S_FALSE);
  EXPECT_EQ(parser.Feed(stream.data() + cut, static_cast<LONG>(stream.size() - cut)), S_OK);
  EXPECT_EQ(parser.StreamInfo().pictureWidth, 176);
}

TEST(MiniParserH265FeedTest, MediaTypeCarriesDisplaySizeAndParameterSets) {
  const Bytes stream = LoadHevcTestFile("crop_420_176x100.hevc");
  CMiniParserH265 parser;
  ASSERT_EQ(parser.Feed(stream.data(), static_cast<LONG>(stream.size())), S_OK);
  CMediaType mediaType;
  ASSERT_EQ(parser.GetMediaType(&mediaType), S_OK);
  EXPECT_EQ(*mediaType.Type(), MEDIATYPE_Video);
  EXPECT_EQ(GuidToString(*mediaType.Subtype()), "{35363248-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(*mediaType.FormatType(), FORMAT_VideoInfo);
  EXPECT_TRUE(mediaType.IsTemporalCompressed());
  ASSERT_GE(mediaType.FormatLength(), sizeof(VIDEOINFOHEADER));
  VIDEOINFOHEADER header;
  std::memcpy(&header, mediaType.Format(), sizeof header);
  EXPECT_EQ(header.bmiHeader.biWidth, 176);
  EXPECT_EQ(header.bmiHeader.biHeight, 100);
  EXPECT_EQ(header.bmiHeader.biCompression, FourCCAsDword("H265"));
  EXPECT_EQ(header.AvgTimePerFrame, 416667);
  // The extra bytes are the stream's own VPS, SPS and PPS, from the first
  // start code on.
  const size_t extra = mediaType.FormatLength() - sizeof header;
  EXPECT_EQ(header.bmiHeader.biSize, sizeof(BITMAPINFOHEADER) + extra);
  const Bytes expected(stream.begin() + 1, stream.begin() + 1 + extra);
  const Bytes actual(mediaType.Format() + sizeof header, mediaType.Format() + mediaType.FormatLength());
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(actual.back(), 0x40) << "ends with the PPS";
  EXPECT_EQ(actual[3], 0x40) << "starts with the VPS";
}

TEST(MiniParserH265FeedTest, MalformedParameterSetIsReported) {
  CMiniParserH265 parser;
  const Bytes stream = Stream({}, [] {
    SpsSpec s;
    s.id = 16;
    return s;
  }());
  EXPECT_EQ(parser.Feed(stream.data(), static_cast<LONG>(stream.size())), kMalformedBitstream);
  EXPECT_EQ(parser.Feed(stream.data(), 4), kMalformedBitstream) << "the failure stays";
  CMiniParserH265 fresh;
  EXPECT_EQ(fresh.Feed(nullptr, 4), E_INVALIDARG);
}

}  // namespace
