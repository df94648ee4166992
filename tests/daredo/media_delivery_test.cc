// What a listener or viewer notices of the files other programs write:
// QuickTime's PCM layouts heard as the tone they were made from, companded
// stereo at its speed, raw RGB pictures seen as ffmpeg decodes them, and
// low-rate MPEG audio described as decoders expect.
#include "iso_graph.h"

#include "platform/format_blocks.h"
#include "platform/media_guids.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

using namespace isotest;

WAVEFORMATEX WaveFormatOf(const CMediaType& type) {
  WAVEFORMATEX wfx{};
  if (type.pbFormat != nullptr && type.cbFormat >= sizeof wfx) std::memcpy(&wfx, type.pbFormat, sizeof wfx);
  return wfx;
}

// Channel 0 of little-endian PCM (8-bit unsigned, 16/24-bit signed) as
// signed values.
std::vector<int> FirstChannel(const std::vector<BYTE>& bytes, const WAVEFORMATEX& wfx) {
  std::vector<int> values;
  const int width = wfx.wBitsPerSample / 8;
  for (size_t i = 0; wfx.nBlockAlign != 0 && i + wfx.nBlockAlign <= bytes.size(); i += wfx.nBlockAlign) {
    if (width == 1) {
      values.push_back(bytes[i] - 128);
      continue;
    }
    int value = 0;
    for (int b = width - 1; b >= 0; --b) value = (value << 8) | bytes[i + b];
    const int shift = 32 - 8 * width;
    values.push_back(static_cast<int>(static_cast<uint32_t>(value) << shift) >> shift);
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
    ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks(nullptr, true));
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

TEST(MediaDeliveryTest, StereoMuLawDeliversEveryByteAtItsTime) {
  // 0.5 s of two-channel µ-law at 8 kHz: 8000 bytes, a frame of 2 bytes
  // lasting 125 µs.
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("lqt_ulaw_stereo.mov")), S_OK);
  ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
  ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
  LONG bytes = 0;
  for (const SinkSample& sample : graph.sinks[0]->Samples()) {
    EXPECT_EQ(sample.start, bytes / 2 * 1250);
    EXPECT_EQ(sample.stop - sample.start, sample.length / 2 * 1250);
    bytes += sample.length;
  }
  EXPECT_EQ(bytes, 8000);
}

std::vector<BYTE> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

TEST(MediaDeliveryTest, RawRgbAsAnRgbTypeIsThePictureFfmpegDecodes) {
  const struct {
    const char* file;
    const char* reference;
    const GUID* subtype;
    LONG rowBytes;
  } files[] = {{"raw_rgb24_odd.mov", "raw_rgb24_odd.bgr24", &MEDIASUBTYPE_RGB24, 90},
               {"raw_argb.mov", "raw_argb.bgra", &MEDIASUBTYPE_RGB32, 120}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    // The reference has ffmpeg's unpadded rows; the RGB types pad to 4.
    const std::vector<BYTE> unpadded = ReadFile(DataPath(f.reference));
    const LONG stride = (f.rowBytes + 3) & ~3;
    std::vector<BYTE> expected;
    for (size_t row = 0; row * f.rowBytes < unpadded.size(); ++row) {
      expected.insert(expected.end(), unpadded.begin() + row * f.rowBytes, unpadded.begin() + (row + 1) * f.rowBytes);
      expected.resize(expected.size() + (stride - f.rowBytes), 0);
    }
    CMediaType wanted;
    wanted.SetType(&MEDIATYPE_Video);
    wanted.SetSubtype(f.subtype);
    IsoGraph graph;
    ASSERT_EQ(graph.Open(DataPath(f.file)), S_OK);
    ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks(&wanted, true));
    ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
    const std::vector<SinkSample> frames = graph.sinks[0]->Samples();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].bytes, expected);
  }
  // With the private type the stored bytes go as they are.
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("raw_rgb24_odd.mov")), S_OK);
  ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
  ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
  EXPECT_EQ(graph.sinks[0]->Samples().at(0).length, 30 * 24 * 3);
}

TEST(MediaDeliveryTest, LowRateMpegAudioIsDescribedByItsOwnTables) {
  // MPEG-2 layer III, 24 kbit/s at 16 kHz: 3000 bytes a second in frames
  // of 72 × 24000 / 16000 bytes, at every index.
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("mp3_16khz.mp4")), S_OK);
  for (int index = 0; index < 2; ++index) {
    CMediaType type;
    ASSERT_EQ(graph.dmx->GetOutputPin(0)->GetMediaType(index, &type), S_OK) << index;
    const WAVEFORMATEX wfx = WaveFormatOf(type);
    EXPECT_EQ(std::make_tuple(wfx.wFormatTag, wfx.nSamplesPerSec, wfx.nAvgBytesPerSec, wfx.nBlockAlign),
              std::make_tuple(WORD{0x55}, DWORD{16000}, DWORD{3000}, WORD{108}))
        << index;
  }
}

}  // namespace
