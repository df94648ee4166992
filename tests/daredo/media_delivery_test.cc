// What a listener notices of the sound files other programs write:
// QuickTime's PCM layouts heard as the tone they were made from.
#include "iso_graph.h"

#include "platform/format_blocks.h"
#include "platform/media_guids.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

using namespace isotest;

WAVEFORMATEX WaveFormatOf(const CMediaType& type) {
  WAVEFORMATEX wfx{};
  if (type.pbFormat != nullptr && type.cbFormat >= sizeof wfx) std::memcpy(&wfx, type.pbFormat, sizeof wfx);
  return wfx;
}

// Channel 0 of little-endian PCM (8-bit unsigned, 16/24-bit signed).
std::vector<int> FirstChannel(const std::vector<BYTE>& bytes, const WAVEFORMATEX& wfx) {
  std::vector<int> values;
  const int width = wfx.wBitsPerSample / 8;
  for (size_t i = 0; wfx.nBlockAlign != 0 && i + wfx.nBlockAlign <= bytes.size(); i += wfx.nBlockAlign) {
    int value = width == 1 ? bytes[i] - 128 : static_cast<signed char>(bytes[i + width - 1]);
    for (int b = width - 2; b >= 0 && width > 1; --b) value = value * 256 + bytes[i + b];
    values.push_back(value);
  }
  return values;
}

TEST(MediaDeliveryTest, QuickTimePcmLayoutsArriveAsTheToneTheyWereMadeFrom) {
  // A 440 Hz tone at 22.05 kHz or more moves by under a third of its peak
  // from one sample to the next; a layout read wrongly jumps by most of it.
  const struct {
    const char* file;
    WORD bits;
    WORD channels;
  } files[] = {{"lqt_raw16.mov", 16, 2}, {"lqt_twos8.mov", 8, 1}, {"gst_twos24.mov", 24, 1}, {"lqt_lpcm.mov", 16, 2}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    IsoGraph graph;
    ASSERT_EQ(graph.Open(DataPath(f.file)), S_OK);
    ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks(true));
    ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
    CMediaType type;
    ASSERT_EQ(graph.dmx->GetOutputPin(0)->ConnectionMediaType(&type), S_OK);
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_PCM);
    const WAVEFORMATEX wfx = WaveFormatOf(type);
    EXPECT_EQ(std::make_pair(wfx.wBitsPerSample, wfx.nChannels), std::make_pair(f.bits, f.channels));
    const std::vector<SinkSample> samples = graph.sinks[0]->Samples();
    ASSERT_FALSE(samples.empty());
    const std::vector<int> values = FirstChannel(samples[0].bytes, wfx);
    ASSERT_GT(values.size(), 100u);
    int peak = 0, largestStep = 0;
    for (size_t i = 0; i < values.size(); ++i) {
      peak = std::max(peak, std::abs(values[i]));
      if (i > 0) largestStep = std::max(largestStep, std::abs(values[i] - values[i - 1]));
    }
    EXPECT_GT(peak, 1 << (f.bits - 5));
    EXPECT_LT(largestStep * 3, peak);
  }
}

}  // namespace
