// The "yuv2" converter in both of its modes, and the pin's choice of mode
// by the class of the filter it delivers to.
#include "delivery_fixture.h"
#include "test_neighbours.h"

#include "streams/sample_converter.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

using namespace dmxtest;

struct ConversionCase {
  std::vector<uint8_t> stored;
  std::vector<uint8_t> delivered;
};

// A remainder after the last 4-byte group is left as read.
const ConversionCase kCases[] = {
    {{0x00, 0x00, 0x10, 0xF0}, {0x00, 0x80, 0x10, 0x70}},
    {{0x01, 0x7F, 0x02, 0x80, 0x03, 0xFF, 0x04, 0x01}, {0x01, 0xFF, 0x02, 0x00, 0x03, 0x7F, 0x04, 0x81}},
    {{0x10, 0x20, 0x30, 0x40, 0x50, 0x60}, {0x10, 0xA0, 0x30, 0xC0, 0x50, 0x60}},
};

TEST(Yuv2ConverterTest, BothModesBiasEveryChromaByteAndStagedOnlyWrites) {
  for (const bool staged : {false, true}) {
    CYUY2SampleConverter converter(staged);
    for (const ConversionCase& c : kCases) {
      SCOPED_TRACE(staged ? "staged" : "in place");
      ComPtr<MemorySource> source = MemorySource::Create(c.stored);
      // Whatever a renderer's buffer held before must not matter.
      std::vector<uint8_t> destination(c.stored.size(), 0xEE);
      const LONG length = static_cast<LONG>(c.stored.size());
      ASSERT_EQ(converter.Convert(source.Get(), 0, destination.data(), length), S_OK);
      const size_t converted = c.stored.size() / 4 * 4;
      EXPECT_EQ(std::vector<uint8_t>(destination.begin(), destination.begin() + converted),
                std::vector<uint8_t>(c.delivered.begin(), c.delivered.begin() + converted));
      if (!staged) {
        EXPECT_EQ(destination, c.delivered);
      }
    }
  }
}

TEST(Yuv2ConverterTest, ReadFailureIsReturnedAndAShortReadIsNot) {
  CYUY2SampleConverter converter(false);
  ComPtr<MemorySource> source = MemorySource::Create({0, 0, 0, 0});
  std::vector<uint8_t> destination(8, 0);
  EXPECT_EQ(converter.Convert(source.Get(), 0, destination.data(), 8), S_OK);
  source->FailReadsFrom(0, E_FAIL);
  EXPECT_EQ(converter.Convert(source.Get(), 0, destination.data(), 4), E_FAIL);
}

TEST(Yuv2ConverterTest, StagedExactlyForTheVideoRenderers) {
  const CLSID renderers[] = {
      {0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}},
      {0xFA10746C, 0x9B63, 0x4B6C, {0xBC, 0x49, 0xFC, 0x30, 0x0E, 0xA5, 0xF2, 0x56}},
  };
  struct {
    CLSID sinkClass;
    bool staged;
  } const cases[] = {{renderers[0], true}, {renderers[1], true}, {GUID_NULL, false}, {CLSID_AviDest, false}};
  for (const auto& c : cases) {
    ParsedMovie movie = ParseMovie(MemorySource::Create(BuildMovieFile({VideoStream("yuv2", 2, 1000, 8)})).Get(), 0,
                                   CreateSampleEntry);
    ASSERT_EQ(movie.result, S_OK);
    ComPtr<TestDmx> dmx = Make<TestDmx>(1);
    ASSERT_EQ(dmx->AddOutputPin(FALSE), S_OK);
    CBaseDmxOutputPin* pin = dmx->GetOutputPin(0);
    pin->SetTrack(&movie.Track(0));
    ComPtr<AnyTypeSinkFilter> sink = Make<AnyTypeSinkFilter>(c.sinkClass);
    ASSERT_EQ(pin->Connect(sink->GetPin(0), nullptr), S_OK);
    ASSERT_EQ(pin->Prepare(), S_OK);
    auto* converter = dynamic_cast<CYUY2SampleConverter*>(pin->Converter());
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(converter->IsStaged(), c.staged) << GuidToString(c.sinkClass);
    sink->GetPin(0)->Disconnect();
    pin->Disconnect();
    pin->SetTrack(nullptr);
  }
}

}  // namespace
