// A whole graph: the file source feeds a demultiplexer that parses its
// input and adds one output pin per track, each pin feeding a sample sink,
// and the pins' delivery loops carry every sample of the file through.
#include "delivery_fixture.h"
#include "dmx_test_filters.h"
#include "engine/buffered_reader.h"
#include "platform/class_table.h"
#include "platform/crc32.h"
#include "platform/filter_graph.h"
#include "platform/sample_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

using namespace dmxtest;

std::vector<StreamSpec> TwoStreams() {
  StreamSpec video = VideoStream("jpeg", 25, 100, 100);
  video.syncSamples = std::vector<uint32_t>{1, 11, 21};
  StreamSpec audio;
  audio.handler = "soun";
  audio.mediaHeader = "smhd";
  audio.format = "sowt";
  audio.entryBody = SoundEntryBody(1, 16, 1000);
  audio.bytesPerSizeUnit = 2;
  for (int i = 0; i < 10; ++i) {
    audio.durations.push_back(100);
    audio.samples.emplace_back(64, static_cast<uint8_t>(0x40 + i));
  }
  return {video, audio};
}

class DmxGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    streams_ = TwoStreams();
    const std::vector<uint8_t> bytes = BuildMovieFile(streams_);
    // One file per test: ctest runs the tests of this fixture side by side.
    path_ = ::testing::TempDir() + "isodmx_engine_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
            ".mp4";
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph_.PutVoid()),
              S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaControl, control_), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaEventEx, events_), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaSeeking, seeking_), S_OK);

    ComPtr<IBaseFilter> source;
    ASSERT_EQ(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid()),
              S_OK);
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(source.As(IID_IFileSourceFilter, file), S_OK);
    ASSERT_EQ(file->Load(std::wstring(path_.begin(), path_.end()).c_str(), nullptr), S_OK);
    ASSERT_EQ(graph_->AddFilter(source.Get(), L"Source"), S_OK);
    ASSERT_EQ(source->FindPin(L"Output", sourceOut_.Put()), S_OK);

    dmx_ = Make<SeekingDmx>(2);
    dmx_->parseInput = true;
    ASSERT_EQ(graph_->AddFilter(dmx_.Get(), L"Demux"), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(sourceOut_.Get(), dmx_->GetPin(0), nullptr), S_OK);
    ASSERT_EQ(dmx_->GetOutputPinCount(), 2);

    for (int k = 0; k < 2; ++k) {
      CSampleSink* raw = nullptr;
      ASSERT_EQ(CSampleSink::Create(&raw), S_OK);
      sinks_[k] = ComPtr<CSampleSink>::Attach(raw);
      ASSERT_EQ(graph_->AddFilter(raw, k == 0 ? L"Sink 1" : L"Sink 2"), S_OK);
      ASSERT_EQ(graph_->ConnectDirect(dmx_->GetOutputPin(k), raw->GetPin(0), nullptr), S_OK);
    }
    // The first pin delivers through an output queue.
    dmx_->GetOutputPin(0)->SetBufferCount(3);
  }

  void TearDown() override {
    if (control_) control_->Stop();
    std::remove(path_.c_str());
  }

  void ExpectSinksHoldEverySample() {
    for (size_t k = 0; k < 2; ++k) {
      SCOPED_TRACE(k);
      const std::vector<SinkSample> samples = sinks_[k]->Samples();
      ASSERT_EQ(samples.size(), streams_[k].samples.size());
      for (size_t i = 0; i < samples.size(); ++i) {
        const std::vector<uint8_t>& expected = streams_[k].samples[i];
        EXPECT_EQ(samples[i].crc32, Crc32(expected.data(), expected.size())) << i;
      }
      EXPECT_EQ(sinks_[k]->Sequence(), "N" + std::string(samples.size(), 'S') + "E");
    }
  }

  void ClearSinks() {
    for (ComPtr<CSampleSink>& sink : sinks_) sink->ClearRecord();
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events_->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    }
  }

  std::vector<StreamSpec> streams_;
  std::string path_;
  ComPtr<IFilterGraph> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEventEx> events_;
  ComPtr<IMediaSeeking> seeking_;
  ComPtr<IPin> sourceOut_;
  ComPtr<SeekingDmx> dmx_;
  ComPtr<CSampleSink> sinks_[2];
};

TEST_F(DmxGraphTest, RunsToCompletionRepeatedlyThroughEveryStateOrder) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ClearSinks();
    if (round == 1) {
      // Samples flow already in Paused.
      ASSERT_EQ(control_->Pause(), S_OK);
      EXPECT_TRUE(dmx_->GetOutputPin(0)->HasOutputQueue());
      ASSERT_TRUE(sinks_[0]->WaitForEndOfStream(10000));
      ASSERT_EQ(control_->Run(), S_OK);
    } else {
      ASSERT_EQ(control_->Run(), S_OK);
      if (round == 2) {
        ASSERT_EQ(control_->Pause(), S_OK);
        ASSERT_EQ(control_->Run(), S_OK);
      }
    }
    LONG code = 0;
    ASSERT_EQ(events_->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ExpectSinksHoldEverySample();
    ASSERT_EQ(control_->Stop(), S_OK);
    EXPECT_FALSE(dmx_->GetOutputPin(0)->HasOutputQueue());
  }
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(control_->Pause(), S_OK);
    ASSERT_EQ(control_->Stop(), S_OK);
  }
}

TEST_F(DmxGraphTest, GraphSeekReachesTheFilterOnceThroughTheMainPin) {
  LONGLONG start = 2 * UNITS;
  ASSERT_EQ(seeking_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  EXPECT_EQ(dmx_->applied, 1);
  EXPECT_EQ(dmx_->StartPosition(), 2 * UNITS);
  CBaseDmxOutputPin* main = dmx_->GetMainSeekingPin();
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(main->IsMainSeekingPin());
  EXPECT_NE(dmx_->GetOutputPin(0)->IsMainSeekingPin(), dmx_->GetOutputPin(1)->IsMainSeekingPin());

  // A connected audio pin leads once the choice is open again.
  dmx_->SetFirstAudioPin(dmx_->GetOutputPin(1));
  dmx_->SetMainSeekingPin(nullptr);
  ASSERT_EQ(seeking_->SetRate(2.0), S_OK);
  EXPECT_EQ(dmx_->GetMainSeekingPin(), dmx_->GetOutputPin(1));
  EXPECT_EQ(dmx_->Rate(), 2.0);
  EXPECT_EQ(dmx_->applied, 2);
}

TEST_F(DmxGraphTest, FlushingSeekWhileRunningFlushesEverySinkAndRestartsThePins) {
  ASSERT_EQ(control_->Run(), S_OK);
  for (const ComPtr<CSampleSink>& sink : sinks_) ASSERT_TRUE(sink->WaitForEndOfStream(10000));
  ClearSinks();
  LONGLONG start = UNITS;
  ASSERT_EQ(seeking_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  EXPECT_EQ(dmx_->applied, 1);
  EXPECT_TRUE(dmx_->lastFlush);
  // The pins deliver again after the restart, from the key frame at 1 s.
  for (const ComPtr<CSampleSink>& sink : sinks_) ASSERT_TRUE(sink->WaitForEndOfStream(10000));
  const std::string video = sinks_[0]->Sequence();
  EXPECT_EQ(video.substr(0, 2), "BF") << video;
  EXPECT_EQ(video.substr(2), "N" + std::string(15, 'S') + "E") << video;
  EXPECT_EQ(sinks_[0]->Samples().front().mediaStart, 10);
  ASSERT_EQ(control_->Stop(), S_OK);
}

TEST_F(DmxGraphTest, DisconnectingTheInputRemovesAndDisconnectsTheOutputPins) {
  ASSERT_EQ(graph_->Disconnect(sourceOut_.Get()), S_OK);
  ASSERT_EQ(graph_->Disconnect(dmx_->GetPin(0)), S_OK);
  EXPECT_EQ(dmx_->GetPinCount(), 1);
  EXPECT_EQ(dmx_->GetReader(), nullptr);
  EXPECT_FALSE(sinks_[0]->GetPin(0)->IsConnected());
  EXPECT_FALSE(sinks_[1]->GetPin(0)->IsConnected());
  // Connecting again builds a fresh pair from the file.
  ASSERT_EQ(graph_->ConnectDirect(sourceOut_.Get(), dmx_->GetPin(0), nullptr), S_OK);
  EXPECT_EQ(dmx_->GetOutputPinCount(), 2);
  EXPECT_EQ(std::wstring(dmx_->GetPin(2)->Name()), L"Output 02");
}

}  // namespace
