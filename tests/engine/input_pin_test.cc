#include "dmx_test_filters.h"
#include "engine/buffered_reader.h"
#include "platform/mem_allocator.h"
#include "test_neighbours.h"

#include <gtest/gtest.h>

namespace {

using namespace dmxtest;
using Calls = std::vector<std::string>;

std::vector<uint8_t> FileBytes() {
  std::vector<uint8_t> bytes(6000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13);
  return bytes;
}

class DmxInputPinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dmx_ = Make<TestDmx>(2, &log_);
    dmx_->AddOutputPin(FALSE);
    dmx_->AddOutputPin(FALSE);
    input_ = dmx_->GetInputPin();
    ASSERT_NE(input_, nullptr);
  }
  void TearDown() override {
    if (upstream_) {
      upstream_->GetPin(0)->Disconnect();
      input_->Disconnect();
    }
  }
  HRESULT ConnectTo(ReaderSourceFilter::Offers offers) {
    upstream_ = Make<ReaderSourceFilter>(FileBytes(), offers);
    return upstream_->GetPin(0)->Connect(input_, nullptr);
  }

  CallLog log_;
  ComPtr<TestDmx> dmx_;
  CBaseDmxInputPin* input_ = nullptr;
  ComPtr<ReaderSourceFilter> upstream_;
};

TEST_F(DmxInputPinTest, ConnectingWrapsThePlainReaderInABufferedOne) {
  ASSERT_EQ(ConnectTo(ReaderSourceFilter::Offers::kAsyncReader), S_OK);
  ComPtr<IBufferedAsyncReader> reader = ComPtr<IBufferedAsyncReader>::Attach(dmx_->GetReader());
  ASSERT_TRUE(reader);
  BYTE bytes[4] = {};
  EXPECT_EQ(reader->SyncRead(5000, 4, bytes), S_OK);
  EXPECT_EQ(bytes[0], static_cast<BYTE>(5000 * 13));
  ComPtr<IAsyncReader> source;
  ASSERT_EQ(reader->GetSourceReader(source.Put()), S_OK);
  EXPECT_EQ(source.Get(), static_cast<IAsyncReader*>(upstream_->source.Get()));
}

TEST_F(DmxInputPinTest, BufferedUpstreamIsClonedSoTheCachesStaySeparate) {
  ASSERT_EQ(ConnectTo(ReaderSourceFilter::Offers::kBufferedReader), S_OK);
  ComPtr<IBufferedAsyncReader> reader = ComPtr<IBufferedAsyncReader>::Attach(dmx_->GetReader());
  ASSERT_TRUE(reader);
  EXPECT_NE(reader.Get(), upstream_->buffered.Get());
  ComPtr<IAsyncReader> mine, theirs;
  ASSERT_EQ(reader->GetSourceReader(mine.Put()), S_OK);
  ASSERT_EQ(upstream_->buffered->GetSourceReader(theirs.Put()), S_OK);
  EXPECT_EQ(mine.Get(), theirs.Get());
}

TEST_F(DmxInputPinTest, UpstreamWithoutAReaderIsRefused) {
  EXPECT_EQ(ConnectTo(ReaderSourceFilter::Offers::kNothing), E_NOINTERFACE);
  EXPECT_FALSE(input_->IsConnected());
  EXPECT_EQ(dmx_->GetReader(), nullptr);
  upstream_.Reset();
}

TEST_F(DmxInputPinTest, SecondCompleteConnectIsRefusedAndDisconnectDropsTheReader) {
  ASSERT_EQ(ConnectTo(ReaderSourceFilter::Offers::kAsyncReader), S_OK);
  EXPECT_EQ(input_->CompleteConnect(upstream_->GetPin(0)), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(upstream_->GetPin(0)->Disconnect(), S_OK);
  EXPECT_EQ(input_->Disconnect(), S_OK);
  EXPECT_EQ(dmx_->GetReader(), nullptr);
  EXPECT_EQ(input_->CompleteConnect(nullptr), E_POINTER);
  upstream_.Reset();
}

TEST_F(DmxInputPinTest, EndOfStreamReachesTheOutputsOncePerRun) {
  ASSERT_EQ(ConnectTo(ReaderSourceFilter::Offers::kAsyncReader), S_OK);
  EXPECT_EQ(input_->EndOfStream(), VFW_E_WRONG_STATE);
  ASSERT_EQ(dmx_->Pause(), S_OK);
  log_.Take();
  // Connected and not yet at its end: the filter's own hook holds back.
  EXPECT_EQ(dmx_->OnInputEndOfStream(0), S_OK);
  EXPECT_EQ(log_.Take(), Calls{});
  EXPECT_EQ(input_->EndOfStream(), S_OK);
  EXPECT_EQ(input_->EndOfStream(), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"EndOfStream 0", "EndOfStream 1"}));
  EXPECT_TRUE(input_->IsEndOfStream());
  // Stop keeps the mark; leaving Stopped clears it.
  dmx_->Stop();
  EXPECT_TRUE(input_->IsEndOfStream());
  dmx_->Run(0);
  EXPECT_FALSE(input_->IsEndOfStream());
  log_.Take();
  EXPECT_EQ(input_->EndOfStream(), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"EndOfStream 0", "EndOfStream 1"}));
  dmx_->Stop();
}

TEST_F(DmxInputPinTest, FlushesFromUpstreamGoToEveryOutputPin) {
  EXPECT_EQ(input_->BeginFlush(), S_OK);
  EXPECT_EQ(input_->EndFlush(), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"BeginFlush 0", "BeginFlush 1", "EndFlush 0", "EndFlush 1"}));
}

TEST_F(DmxInputPinTest, PushedSamplesAreRefusedWhileStopped) {
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CreateMemoryAllocator(allocator.Put()), S_OK);
  ALLOCATOR_PROPERTIES props{1, 16, 1, 0}, actual{};
  ASSERT_EQ(allocator->SetProperties(&props, &actual), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> sample;
  ASSERT_EQ(allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(input_->Receive(sample.Get()), VFW_E_WRONG_STATE);
  EXPECT_EQ(input_->Receive(nullptr), E_POINTER);
  sample.Reset();
  allocator->Decommit();
}

TEST_F(DmxInputPinTest, InputPinRefusesWhatTheFilterRefuses) {
  CMediaType video(&MEDIATYPE_Video);
  CMediaType stream(&MEDIATYPE_Stream);
  EXPECT_EQ(input_->QueryAccept(&video), S_FALSE);
  EXPECT_EQ(input_->QueryAccept(&stream), S_OK);
  CMediaType proposed;
  EXPECT_EQ(input_->GetMediaType(0, &proposed), E_UNEXPECTED);
  EXPECT_EQ(input_->QueryInternalConnections(nullptr, nullptr), E_NOTIMPL);
}

}  // namespace
