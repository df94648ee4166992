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

}  // namespace
