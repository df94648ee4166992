#include "dmx_test_filters.h"
#include "engine/buffered_reader.h"
#include "test_neighbours.h"

#include <gtest/gtest.h>

namespace {

using namespace dmxtest;
using Calls = std::vector<std::string>;
using Offers = ReaderSourceFilter::Offers;

class DmxInputPinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dmx_ = Make<TestDmx>(2, &log_);
    dmx_->AddOutputPin(FALSE);
    dmx_->AddOutputPin(FALSE);
    input_ = dmx_->GetInputPin();
  }
  void TearDown() override {
    if (upstream_) upstream_->GetPin(0)->Disconnect();
    input_->Disconnect();
  }
  HRESULT ConnectTo(Offers offers) {
    std::vector<uint8_t> bytes(6000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13);
    upstream_ = Make<ReaderSourceFilter>(bytes, offers);
    return upstream_->GetPin(0)->Connect(input_, nullptr);
  }
  ComPtr<IAsyncReader> SourceBelowTheReader() {
    ComPtr<IBufferedAsyncReader> reader = ComPtr<IBufferedAsyncReader>::Attach(dmx_->GetReader());
    ComPtr<IAsyncReader> source;
    if (reader) reader->GetSourceReader(source.Put());
    return source;
  }

  CallLog log_;
  ComPtr<TestDmx> dmx_;
  CBaseDmxInputPin* input_ = nullptr;
  ComPtr<ReaderSourceFilter> upstream_;
};

TEST_F(DmxInputPinTest, PlainReaderIsWrappedAndABufferedOneIsCloned) {
  ASSERT_EQ(ConnectTo(Offers::kAsyncReader), S_OK);
  EXPECT_EQ(SourceBelowTheReader().Get(), static_cast<IAsyncReader*>(upstream_->source.Get()));
  EXPECT_EQ(input_->CompleteConnect(upstream_->GetPin(0)), VFW_E_ALREADY_CONNECTED);
  upstream_->GetPin(0)->Disconnect();
  input_->Disconnect();
  EXPECT_EQ(dmx_->GetReader(), nullptr);

  ASSERT_EQ(ConnectTo(Offers::kBufferedReader), S_OK);
  ComPtr<IBufferedAsyncReader> reader = ComPtr<IBufferedAsyncReader>::Attach(dmx_->GetReader());
  EXPECT_NE(reader.Get(), upstream_->buffered.Get());
  EXPECT_EQ(SourceBelowTheReader().Get(), static_cast<IAsyncReader*>(upstream_->source.Get()));
}

TEST_F(DmxInputPinTest, UpstreamWithoutAReaderIsRefused) {
  EXPECT_EQ(ConnectTo(Offers::kNothing), E_NOINTERFACE);
  EXPECT_FALSE(input_->IsConnected());
  EXPECT_EQ(dmx_->GetReader(), nullptr);
}

TEST_F(DmxInputPinTest, EndOfStreamReachesTheOutputsOncePerRun) {
  ASSERT_EQ(ConnectTo(Offers::kAsyncReader), S_OK);
  EXPECT_EQ(input_->EndOfStream(), VFW_E_WRONG_STATE);
  ASSERT_EQ(dmx_->Pause(), S_OK);
  log_.Take();
  // Connected and not at its end: the filter's hook holds back.
  EXPECT_EQ(dmx_->OnInputEndOfStream(0), S_OK);
  EXPECT_EQ(log_.Take(), Calls{});
  EXPECT_EQ(input_->EndOfStream(), S_OK);
  EXPECT_EQ(input_->EndOfStream(), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"EndOfStream 0", "EndOfStream 1"}));
  // Stop keeps the mark; leaving Stopped clears it.
  dmx_->Stop();
  EXPECT_TRUE(input_->IsEndOfStream());
  dmx_->Run(0);
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

}  // namespace
