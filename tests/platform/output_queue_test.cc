#include "platform/mem_allocator.h"
#include "platform/output_queue.h"
#include "test_filters.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace testfilters;

// A running renderer whose pin the queue delivers to, and samples to send.
class OutputQueueTest : public ::testing::Test {
 protected:
  void Build(bool canBlock) {
    renderer_ = Make<TestFilter>("sink");
    pin_ = renderer_->AddPin<RecordingPin>(L"In", canBlock);
    ASSERT_EQ(renderer_->Run(0), S_OK);
    ASSERT_EQ(CreateMemoryAllocator(allocator_.Put()), S_OK);
    ALLOCATOR_PROPERTIES request{8, 16, 1, 0}, actual{};
    ASSERT_EQ(allocator_->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator_->Commit(), S_OK);
  }
  void TearDown() override {
    if (allocator_) allocator_->Decommit();
    if (renderer_) renderer_->Stop();
  }
  IMediaSample* Sample() {
    IMediaSample* sample = nullptr;
    EXPECT_EQ(allocator_->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    return sample;
  }
  bool WaitForSequence(const std::string& expected) {
    return pin_->WaitFor([&](const std::string& s) { return s == expected; });
  }

  ComPtr<TestFilter> renderer_;
  RecordingPin* pin_ = nullptr;
  ComPtr<IMemAllocator> allocator_;
};

// A pin that never blocks is called on the caller's thread; one that may
// block gets a thread of its own.
TEST_F(OutputQueueTest, OnlyABlockingPinGetsAThreadOfItsOwn) {
  for (const bool canBlock : {false, true}) {
    Build(canBlock);
    {
      HRESULT hr = S_OK;
      COutputQueue queue(pin_, &hr, TRUE, !canBlock);
      ASSERT_EQ(hr, S_OK);
      EXPECT_EQ(queue.IsQueued(), canBlock);
      EXPECT_EQ(queue.Receive(Sample()), S_OK);
      ASSERT_TRUE(WaitForSequence("S"));
      EXPECT_EQ(pin_->Threads()[0] == std::this_thread::get_id(), !canBlock);
    }
    allocator_->Decommit();
    renderer_->Stop();
  }
}

TEST_F(OutputQueueTest, SegmentsSamplesAndEndOfStreamKeepTheirOrder) {
  Build(true);
  HRESULT hr = S_OK;
  COutputQueue queue(pin_, &hr, FALSE, TRUE, 3, TRUE);
  ASSERT_EQ(hr, S_OK);
  queue.NewSegment(0, 100, 1.0);
  queue.Receive(Sample());
  queue.Receive(Sample());
  queue.NewSegment(100, 200, 1.0);  // sends the partial batch first
  queue.Receive(Sample());
  queue.EOS();
  EXPECT_TRUE(WaitForSequence("NSSNSE")) << pin_->Sequence();
}

TEST_F(OutputQueueTest, FlushDropsQueuedSamplesAndPassesThroughInOrder) {
  Build(true);
  HRESULT hr = S_OK;
  COutputQueue queue(pin_, &hr, FALSE, TRUE);
  ASSERT_EQ(hr, S_OK);
  pin_->SetBlocking(true);
  queue.NewSegment(0, 100, 1.0);
  queue.Receive(Sample());
  ASSERT_TRUE(pin_->WaitUntilBlocked());
  for (int i = 0; i < 4; ++i) queue.Receive(Sample());
  queue.BeginFlush();  // frees the blocked delivery and drops the four queued
  EXPECT_EQ(queue.Receive(Sample()), S_FALSE);
  queue.EndFlush();
  pin_->SetBlocking(false);
  queue.NewSegment(100, 200, 1.0);
  queue.Receive(Sample());
  queue.EOS();
  EXPECT_TRUE(WaitForSequence("NBFNSE")) << pin_->Sequence();
  // Every dropped sample went back to the allocator.
  ComPtr<IMediaSample> all[8];
  for (auto& sample : all) EXPECT_EQ(allocator_->GetBuffer(sample.Put(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
}

TEST_F(OutputQueueTest, ARefusedDeliveryIsReportedUntilTheNextFlush) {
  Build(false);
  HRESULT hr = S_OK;
  COutputQueue queue(pin_, &hr);
  ASSERT_EQ(hr, S_OK);
  renderer_->Stop();
  EXPECT_EQ(queue.Receive(Sample()), VFW_E_WRONG_STATE);
  renderer_->Run(0);
  EXPECT_EQ(queue.Receive(Sample()), VFW_E_WRONG_STATE);
  queue.EOS();  // dropped: the stream already failed
  queue.BeginFlush();
  queue.EndFlush();
  EXPECT_EQ(queue.Receive(Sample()), S_OK);
  EXPECT_EQ(pin_->Sequence(), "BFS");
}

TEST_F(OutputQueueTest, DestroyingAQueueWithSamplesQueuedReleasesThem) {
  Build(true);
  pin_->SetBlocking(true);
  {
    HRESULT hr = S_OK;
    COutputQueue queue(pin_, &hr, FALSE, TRUE);
    queue.Receive(Sample());
    ASSERT_TRUE(pin_->WaitUntilBlocked());
    queue.Receive(Sample());
    queue.Receive(Sample());
    pin_->BeginFlush();  // lets the thread out of the blocked delivery
  }
  pin_->EndFlush();
  ComPtr<IMediaSample> all[8];
  for (auto& sample : all) EXPECT_EQ(allocator_->GetBuffer(sample.Put(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
}

TEST_F(OutputQueueTest, AnInputPinWithoutTransportIsRefused) {
  Build(false);
  auto source = Make<TestFilter>("src");
  source->AddPushPin(L"Out", {}, CountingProducer(1, 1));
  HRESULT hr = S_OK;
  COutputQueue queue(source->GetPin(0), &hr);
  EXPECT_EQ(hr, E_NOINTERFACE);
}

}  // namespace
