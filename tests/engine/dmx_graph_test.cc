// A whole graph: the file source feeds a demultiplexer that adds two output
// pins when its input connects, each pin feeding a sample sink. The test
// plays the delivery loop's part, reading each chunk through the input's
// reader and delivering it from the application thread.
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

constexpr LONG kChunk = 1000;

class DmxGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_.resize(25500);
    for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<BYTE>((i * 131) ^ (i >> 8));
    // One file per test: ctest runs the tests of this fixture side by side.
    path_ = ::testing::TempDir() + "isodmx_engine_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
            ".mp4";
    const std::string& path = path_;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());

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
    ASSERT_EQ(file->Load(std::wstring(path.begin(), path.end()).c_str(), nullptr), S_OK);
    ASSERT_EQ(graph_->AddFilter(source.Get(), L"Source"), S_OK);
    ASSERT_EQ(source->FindPin(L"Output", sourceOut_.Put()), S_OK);

    dmx_ = Make<SeekingDmx>(2, nullptr, 2);
    ASSERT_EQ(graph_->AddFilter(dmx_.Get(), L"Demux"), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(sourceOut_.Get(), dmx_->GetPin(0), nullptr), S_OK);
    ASSERT_EQ(dmx_->GetOutputPinCount(), 2);

    for (ComPtr<CSampleSink>& sink : sinks_) {
      CSampleSink* raw = nullptr;
      ASSERT_EQ(CSampleSink::Create(&raw), S_OK);
      sink = ComPtr<CSampleSink>::Attach(raw);
    }
    ASSERT_EQ(graph_->AddFilter(sinks_[0].Get(), L"Sink 1"), S_OK);
    ASSERT_EQ(graph_->AddFilter(sinks_[1].Get(), L"Sink 2"), S_OK);
    CMediaType video(&MEDIATYPE_Video);
    video.SetSubtype(&MEDIASUBTYPE_YUY2);
    video.SetFormatType(&FORMAT_None);
    CMediaType audio(&MEDIATYPE_Audio);
    audio.SetSubtype(&MEDIASUBTYPE_PCM);
    audio.SetFormatType(&FORMAT_None);
    ASSERT_EQ(graph_->ConnectDirect(dmx_->GetOutputPin(0), sinks_[0]->GetPin(0), &video), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(dmx_->GetOutputPin(1), sinks_[1]->GetPin(0), &audio), S_OK);
    // The first pin delivers through an output queue.
    dmx_->GetOutputPin(0)->SetBufferCount(3);
  }

  void TearDown() override { std::remove(path_.c_str()); }

  // What the delivery loop would do for every pin: a new segment, every
  // chunk of the file read through the input's reader, end-of-stream.
  void DeliverFile() {
    ComPtr<IBufferedAsyncReader> reader = ComPtr<IBufferedAsyncReader>::Attach(dmx_->GetReader());
    ASSERT_TRUE(reader);
    dmx_->DeliverNewSegmentAll(0, MAX_TIME, 1.0);
    for (int k = 0; k < 2; ++k) {
      CBaseDmxOutputPin* pin = dmx_->GetOutputPin(k);
      for (size_t at = 0; at < bytes_.size(); at += kChunk) {
        const LONG length = static_cast<LONG>(std::min<size_t>(kChunk, bytes_.size() - at));
        IMediaSample* sample = nullptr;
        ASSERT_EQ(pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        ASSERT_EQ(reader->SyncRead(static_cast<LONGLONG>(at), length, data), S_OK);
        sample->SetActualDataLength(length);
        REFERENCE_TIME start = static_cast<REFERENCE_TIME>(at) * 100, stop = start + 100000;
        sample->SetTime(&start, &stop);
        ASSERT_EQ(pin->Deliver(sample), S_OK);
      }
    }
    dmx_->DeliverEndOfStreamAll();
  }

  void ExpectSinksHoldTheFile() {
    const size_t chunks = (bytes_.size() + kChunk - 1) / kChunk;
    for (const ComPtr<CSampleSink>& sink : sinks_) {
      ASSERT_TRUE(sink->WaitForEndOfStream(10000));
      const std::vector<SinkSample> samples = sink->Samples();
      ASSERT_EQ(samples.size(), chunks);
      for (size_t i = 0; i < chunks; ++i) {
        const size_t at = i * kChunk;
        const size_t length = std::min<size_t>(kChunk, bytes_.size() - at);
        EXPECT_EQ(samples[i].crc32, Crc32(bytes_.data() + at, length)) << i;
      }
      EXPECT_EQ(sink->Sequence(), "N" + std::string(chunks, 'S') + "E");
    }
  }

  void ClearSinks() {
    for (ComPtr<CSampleSink>& sink : sinks_) sink->ClearRecord();
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events_->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    }
  }

  std::string path_;
  std::vector<BYTE> bytes_;
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
      ASSERT_EQ(control_->Pause(), S_OK);
      EXPECT_TRUE(dmx_->GetOutputPin(0)->HasOutputQueue());
      DeliverFile();
      ASSERT_EQ(control_->Run(), S_OK);
    } else {
      ASSERT_EQ(control_->Run(), S_OK);
      if (round == 2) {
        ASSERT_EQ(control_->Pause(), S_OK);
        ASSERT_EQ(control_->Run(), S_OK);
      }
      DeliverFile();
    }
    LONG code = 0;
    ASSERT_EQ(events_->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ExpectSinksHoldTheFile();
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
  LONGLONG duration = 0;
  ASSERT_EQ(seeking_->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, kFrameCount * kFrameTime);
}

TEST_F(DmxGraphTest, FlushingSeekWhileRunningFlushesEverySinkAndRestartsThePins) {
  ASSERT_EQ(control_->Run(), S_OK);
  ClearSinks();
  LONGLONG start = UNITS;
  ASSERT_EQ(seeking_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  EXPECT_EQ(dmx_->applied, 1);
  EXPECT_TRUE(dmx_->lastFlush);
  for (const ComPtr<CSampleSink>& sink : sinks_) EXPECT_EQ(sink->Sequence(), "BF");
  // The pins deliver again after the restart.
  DeliverFile();
  for (const ComPtr<CSampleSink>& sink : sinks_) {
    ASSERT_TRUE(sink->WaitForEndOfStream(10000));
    EXPECT_EQ(sink->Samples().size(), (bytes_.size() + kChunk - 1) / kChunk);
  }
  ASSERT_EQ(control_->Stop(), S_OK);
}

TEST_F(DmxGraphTest, DisconnectingTheInputRemovesAndDisconnectsTheOutputPins) {
  ASSERT_EQ(graph_->Disconnect(sourceOut_.Get()), S_OK);
  ASSERT_EQ(graph_->Disconnect(dmx_->GetPin(0)), S_OK);
  EXPECT_EQ(dmx_->GetPinCount(), 1);
  EXPECT_EQ(dmx_->GetReader(), nullptr);
  EXPECT_FALSE(sinks_[0]->GetPin(0)->IsConnected());
  EXPECT_FALSE(sinks_[1]->GetPin(0)->IsConnected());
  // Connecting again builds a fresh pair.
  ASSERT_EQ(graph_->ConnectDirect(sourceOut_.Get(), dmx_->GetPin(0), nullptr), S_OK);
  EXPECT_EQ(dmx_->GetOutputPinCount(), 2);
  EXPECT_EQ(std::wstring(dmx_->GetPin(2)->Name()), L"Output 02");
}

}  // namespace
