#include "streams/mini_parser_h265.h"

#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/media_type.h"
#include "streams/rbsp_bit_reader.h"

#include "h265_stream_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace h265_test;

// A VPS, SPS and PPS as an encoder writes them ahead of a picture.
Bytes Stream(const SpsSpec& sps = {}, const PpsSpec& pps = {}, std::optional<Timing> vpsTiming = {}) {
  return AnnexB({MakeVps(vpsTiming), MakeSps(sps), MakePps(pps), kSlice});
}

// What a bitstream dump shows: display size, frame rate, bit depths and
// sample aspect (whether given, then the ratio); or why there is none.
std::string Describe(const Bytes& stream) {
  H265StreamInfo i;
  const HRESULT hr = ParseH265StartCodes(stream.data(), stream.size(), &i);
  if (hr != S_OK) return hr == kParameterSetsIncomplete ? "incomplete" : hr == kMalformedBitstream ? "malformed" : "?";
  char text[128];
  std::snprintf(text, sizeof text, "%dx%d %.3f fps %u/%u bits sar %u %u:%u%s", i.pictureWidth, i.pictureHeight,
                i.frameRate, i.bitDepthLuma, i.bitDepthChroma, i.hasSampleAspect, i.sampleAspectW, i.sampleAspectH,
                i.progressive ? "" : " interlaced");
  return text;
}

// Facts that an independent bitstream dump reported for the committed streams.
TEST(MiniParserH265RealStreamsTest, DerivesWhatADecoderWouldShow) {
  const std::pair<const char*, const char*> cases[] = {
      // Coded 176x104; the window's bottom offset 2 counts chroma rows.
      {"crop_420_176x100.hevc", "176x100 24.000 fps 8/8 bits sar 0 0:0"},
      // 4:2:2 coded 176x104: right offset 3 counts column pairs, bottom 4 single rows.
      {"crop_422_170x100.hevc", "170x100 24.000 fps 8/8 bits sar 0 0:0"},
      {"main10_176x100.hevc", "176x100 24.000 fps 10/10 bits sar 0 0:0"},
      {"sar_table_4x3.hevc", "176x144 24.000 fps 8/8 bits sar 1 4:3"},
      {"sar_extended_5x3.hevc", "176x144 24.000 fps 8/8 bits sar 1 5:3"},
      {"no_timing.hevc", "176x100 30.000 fps 8/8 bits sar 0 0:0"},
      {"vps_timing_30000_1001.hevc", "176x100 29.970 fps 8/8 bits sar 0 0:0"},
  };
  for (const auto& [file, facts] : cases) EXPECT_EQ(Describe(LoadTestFile(std::string("hevc/") + file)), facts);
}

TEST(MiniParserH265Test, DerivesSizeAspectAndRateFromTheSyntax) {
  // Window offsets left 1, right 2, top 3, bottom 4 on the 176x104 picture.
  // (The real streams show 4:2:0 cropping and an extended aspect ratio.)
  const auto cropped = [](uint32_t chroma, bool planes = false) {
    return Stream({.chromaFormatIdc = chroma, .separateColourPlane = planes, .cropLeft = 1, .cropRight = 2,
                   .cropTop = 3, .cropBottom = 4});
  };
  const auto aspect = [](int idc) { return Stream({.vui = true, .aspectRatioIdc = idc}); };
  const auto timed = [](std::optional<Timing> vui, std::optional<Timing> vps = {}) {
    return Stream({.vui = true, .vuiTiming = vui, .vuiHrd = vui.has_value()}, {}, vps);
  };
  // Each option shifts every later field; the bit depths and the aspect ratio
  // after it show that the reader kept its place.
  const auto optional = [](SpsSpec s) {
    s.bitDepthLumaMinus8 = 2, s.bitDepthChromaMinus8 = 1, s.vui = true, s.aspectRatioIdc = 255, s.sarWidth = 8;
    s.sarHeight = 9, s.vuiTiming = Timing{1, 48}, s.vuiHrd = true, s.minSpatialSegmentationIdc = 200;
    // Tiles, a range extension and the lowest QP 10 bits allow.
    return Stream(s, {.tiles = true, .rangeExtension = true, .initQpMinus26 = -30});
  };
  const char* const kOptional = "176x104 48.000 fps 10/9 bits sar 1 8:9";
  const std::pair<Bytes, const char*> cases[] = {
      {cropped(0), "173x97 30.000 fps 8/8 bits sar 0 0:0"},  // monochrome counts samples
      {cropped(2), "170x97 30.000 fps 8/8 bits sar 0 0:0"},  // 4:2:2 counts pairs across, rows down
      {cropped(3, true), "173x97 30.000 fps 8/8 bits sar 0 0:0"},  // 4:4:4 as separate planes
      {aspect(1), "176x104 30.000 fps 8/8 bits sar 0 0:0"},  // square pixels say nothing
      {aspect(2), "176x104 30.000 fps 8/8 bits sar 1 12:11"},
      {aspect(17), "176x104 30.000 fps 8/8 bits sar 0 0:0"},  // reserved
      // VPS timing wins over the VUI's; a zero term falls to the next source, at last 30 fps.
      {timed(Timing{1, 25}, Timing{1, 50}), "176x104 50.000 fps 8/8 bits sar 0 0:0"},
      {timed(Timing{1, 25}), "176x104 25.000 fps 8/8 bits sar 0 0:0"},
      {timed(Timing{2, 50}, Timing{0, 50}), "176x104 25.000 fps 8/8 bits sar 0 0:0"},
      {timed(Timing{1, 0}), "176x104 30.000 fps 8/8 bits sar 0 0:0"},
      {timed({}, Timing{0x80000000u, 0xFFFFFFFFu}), "176x104 2.000 fps 8/8 bits sar 0 0:0"},  // unsigned
      {optional({}), kOptional},
      {optional({.scalingList = true}), kOptional},
      {optional({.pcm = true}), kOptional},
      {optional({.predictedRefPicSets = true}), kOptional},
      {optional({.maxSubLayersMinus1 = 2}), kOptional},
      {optional({.numShortTermRefPicSets = 64, .numLongTermRefPics = 32}), kOptional},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Describe(cases[i].first), cases[i].second) << "case " << i;
}

TEST(MiniParserH265Test, MissingSetsAreIncompleteAndOutOfRangeValuesMalformed) {
  Bytes otherLayerPps = MakePps(), eightSubLayersVps = MakeVps(), eightSubLayersSps = MakeSps();
  otherLayerPps[1] |= 0x08;  // nuh_layer_id 1
  eightSubLayersVps[3] = (eightSubLayersVps[3] & 0xF1) | 0x0E;
  eightSubLayersSps[2] |= 0x0E;
  const std::pair<Bytes, const char*> cases[] = {
      {{}, "incomplete"},
      {AnnexB({MakeVps(), MakeSps(), kSlice}), "incomplete"},
      {AnnexB({MakeSps(), MakePps(), kSlice}), "incomplete"},
      // The last unit has no start code after it to end it.
      {AnnexB({MakeVps(), MakePps(), MakeSps()}), "incomplete"},
      {AnnexB({MakeSps(), MakePps(), MakeVps()}), "incomplete"},
      // From its start code on, fewer than 9 bytes are left for this PPS.
      {AnnexB({MakeVps(), MakeSps(), {0x44, 0x01, 0xC1}}), "incomplete"},
      {AnnexB({MakeVps(), MakeSps(), otherLayerPps, kSlice}), "incomplete"},
      {Stream({.id = 16}), "malformed"},
      {Stream({}, {.id = 64}), "malformed"},
      {Stream({}, {.spsId = 16}), "malformed"},
      {Stream({.chromaFormatIdc = 4}), "malformed"},
      {Stream({.bitDepthLumaMinus8 = 9}), "malformed"},
      {Stream({.numShortTermRefPicSets = 65}), "malformed"},
      {Stream({.numLongTermRefPics = 33}), "malformed"},
      {Stream({.width = 0}), "malformed"},
      {Stream({.width = 170}), "malformed"},  // not a multiple of the coding block
      {Stream({.cropLeft = 44, .cropRight = 44}), "malformed"},
      {Stream({.cropTop = 0xFFFFFFFE, .cropBottom = 2}), "malformed"},
      {Stream({.vui = true, .minSpatialSegmentationIdc = 4096}), "malformed"},
      {Stream({}, {.initQpMinus26 = -27}), "malformed"},  // at 8 bits
      {AnnexB({eightSubLayersVps, MakeSps(), MakePps(), kSlice}), "malformed"},
      {AnnexB({MakeVps(), eightSubLayersSps, MakePps(), kSlice}), "malformed"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Describe(cases[i].first), cases[i].second) << "case " << i;
  // Every cut of a real stream ends cleanly (under the sanitizers: reads
  // nothing outside the data); the fuzzer tries corrupted sets.
  const Bytes stream = LoadTestFile("hevc/sar_extended_5x3.hevc");
  ASSERT_GT(stream.size(), 120u);
  for (size_t size = 0; size <= 120; ++size) Describe(Bytes(stream.begin(), stream.begin() + size));
}

// Nothing here feeds the parser a byte stream, but it is offered: fed the
// whole stream it offers the parameter sets after the bitmap header, a
// failure stays, and without parameter sets it stops collecting at 1 MiB.
TEST(MiniParserH265FeedTest, OffersTheParameterSetsOnceCompleteAndCollectsAtMostAMegabyte) {
  const Bytes stream = LoadTestFile("hevc/crop_420_176x100.hevc"), malformed = Stream({.id = 16});
  CMiniParserH265 parser, failed, starved;
  CMediaType type;
  EXPECT_EQ(parser.GetMediaType(&type), VFW_E_NOT_FOUND);
  ASSERT_EQ(parser.Feed(stream.data(), LONG(stream.size())), S_OK);
  ASSERT_EQ(parser.GetMediaType(&type), S_OK);
  ASSERT_EQ(type.FormatLength(), sizeof(VIDEOINFOHEADER) + 83);
  VIDEOINFOHEADER h;
  std::memcpy(&h, type.Format(), sizeof h);
  // The VPS, SPS and PPS from the first start code's 00 00 01 on.
  EXPECT_EQ(std::make_tuple(*type.Subtype(), h.bmiHeader.biWidth, h.bmiHeader.biHeight, h.AvgTimePerFrame,
                            Bytes(type.Format() + sizeof h, type.Format() + type.FormatLength())),
            std::make_tuple(FourCCSubtype(FourCC("H265")), 176, 100, 416667,
                            Bytes(stream.begin() + 1, stream.begin() + 84)));
  EXPECT_EQ(failed.Feed(malformed.data(), LONG(malformed.size())), kMalformedBitstream);
  EXPECT_EQ(failed.Feed(stream.data(), LONG(stream.size())), kMalformedBitstream);
  const Bytes zeros(256 << 10, 0);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(starved.Feed(zeros.data(), LONG(zeros.size())), S_FALSE) << i;
  EXPECT_EQ(starved.Feed(zeros.data(), 1), VFW_E_BUFFER_OVERFLOW);
}

}  // namespace
