#include "platform/media_guids.h"
#include "platform/mem_allocator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <tuple>
#include <thread>

namespace {

class AllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CreateMemoryAllocator(allocator_.Put()), S_OK); }

  HRESULT Set(LONG count, LONG size, LONG align = 1, LONG prefix = 0) {
    ALLOCATOR_PROPERTIES request{count, size, align, prefix};
    return allocator_->SetProperties(&request, &actual_);
  }
  HRESULT Get(ComPtr<IMediaSample>* sample, DWORD flags = 0) {
    return allocator_->GetBuffer(sample->Put(), nullptr, nullptr, flags);
  }

  ComPtr<IMemAllocator> allocator_;
  ALLOCATOR_PROPERTIES actual_{};
};

struct PropertiesCase {
  LONG count, size, align, prefix;
  HRESULT result;
  LONG expectedSize;
};

TEST_F(AllocatorTest, SizeIsRoundedSoPrefixPlusBufferIsAlignedAndBadRequestsAreRefused) {
  const PropertiesCase cases[] = {
      {2, 100, 1, 0, S_OK, 100},   {2, 100, 16, 0, S_OK, 112},  {2, 100, 16, 4, S_OK, 108},
      {2, 128, 64, 0, S_OK, 128},  {2, 1, 4096, 0, S_OK, 4096}, {3, 100, 64, 8, S_OK, 120},
      {1, 100, 0, 0, VFW_E_BADALIGN, 0}, {1, 100, 12, 0, VFW_E_BADALIGN, 0}, {1, 100, 131072, 0, VFW_E_BADALIGN, 0},
      {1, 100, -4, 0, VFW_E_BADALIGN, 0}, {1, INT32_MAX, 64, 0, E_INVALIDARG, 0}, {1, -5, 1, 0, E_INVALIDARG, 0},
  };
  for (const PropertiesCase& c : cases) {
    ASSERT_EQ(Set(c.count, c.size, c.align, c.prefix), c.result) << c.size << "/" << c.align;
    if (FAILED(c.result)) continue;
    EXPECT_EQ(std::make_tuple(actual_.cBuffers, actual_.cbBuffer, actual_.cbAlign, actual_.cbPrefix),
              std::make_tuple(c.count, c.expectedSize, c.align, c.prefix));
    ASSERT_EQ(allocator_->Commit(), S_OK);
    ComPtr<IMediaSample> a, b;
    ASSERT_EQ(Get(&a), S_OK);
    ASSERT_EQ(Get(&b), S_OK);
    BYTE *pa = nullptr, *pb = nullptr;
    a->GetPointer(&pa);
    b->GetPointer(&pb);
    EXPECT_NE(pa, pb);
    for (BYTE* p : {pa, pb}) EXPECT_EQ((reinterpret_cast<uintptr_t>(p) - c.prefix) % c.align, 0u) << c.align;
    a.Reset();
    b.Reset();
    ASSERT_EQ(allocator_->Decommit(), S_OK);
  }
  // A count no memory holds is refused at commit, not allocated.
  ASSERT_EQ(Set(INT32_MAX, 1 << 20), S_OK);
  EXPECT_EQ(allocator_->Commit(), E_OUTOFMEMORY);
}

// Properties are fixed while committed or while a buffer is lent; a commit
// during a pending decommit keeps the buffers.
TEST_F(AllocatorTest, CommitAndGetBufferRefuseWhatTheyCannotDo) {
  EXPECT_EQ(allocator_->Commit(), VFW_E_SIZENOTSET);
  ASSERT_EQ(Set(1, 64), S_OK);
  ComPtr<IMediaSample> first, second;
  EXPECT_EQ(Get(&first), VFW_E_NOT_COMMITTED);
  EXPECT_EQ(first.Get(), nullptr);
  ASSERT_EQ(allocator_->Commit(), S_OK);
  ASSERT_EQ(Get(&first), S_OK);
  EXPECT_EQ(Set(2, 64), VFW_E_ALREADY_COMMITTED);
  EXPECT_EQ(Get(&second, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  ASSERT_EQ(allocator_->Decommit(), S_OK);
  EXPECT_EQ(Set(2, 64), VFW_E_BUFFERS_OUTSTANDING);
  ASSERT_EQ(allocator_->Commit(), S_OK);
  first.Reset();
  EXPECT_EQ(Get(&second, AM_GBF_NOWAIT), S_OK);
  second.Reset();
  ASSERT_EQ(allocator_->Decommit(), S_OK);
  EXPECT_EQ(Set(2, 64), S_OK);
}

// A waiting GetBuffer is woken by a sample coming back, or by a decommit
// that leaves the outstanding sample its memory (and its allocator) until it
// returns.
TEST_F(AllocatorTest, WaitingGetBufferWakesOnAReleaseOrADecommit) {
  for (const bool decommit : {false, true}) {
    ASSERT_EQ(Set(1, 64), S_OK);
    ASSERT_EQ(allocator_->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(allocator_->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
    auto waiter = std::async(std::launch::async, [this] {
      ComPtr<IMediaSample> sample;
      return Get(&sample);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (decommit) {
      ASSERT_EQ(allocator_->Decommit(), S_OK);
      EXPECT_EQ(waiter.get(), VFW_E_NOT_COMMITTED);
      allocator_.Reset();
      BYTE* data = nullptr;
      held->GetPointer(&data);
      data[0] = 1;
      held->Release();
    } else {
      held->Release();
      EXPECT_EQ(waiter.get(), S_OK);
      allocator_->Decommit();
    }
  }
}

class MediaSampleTest : public AllocatorTest {
 protected:
  void SetUp() override {
    AllocatorTest::SetUp();
    ASSERT_EQ(Set(1, 100), S_OK);
    ASSERT_EQ(allocator_->Commit(), S_OK);
    ASSERT_EQ(Get(&sample_), S_OK);
  }
  void TearDown() override {
    sample_.Reset();
    allocator_->Decommit();
  }
  ComPtr<IMediaSample> sample_;
};

TEST_F(MediaSampleTest, TimesAndLengthReportWhatWasSetWithinTheBuffer) {
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample_->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  REFERENCE_TIME s = 500, e = 900;
  sample_->SetTime(&s, nullptr);
  EXPECT_EQ(sample_->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(std::make_pair(start, stop), std::make_pair(REFERENCE_TIME{500}, REFERENCE_TIME{501}));
  sample_->SetTime(&s, &e);
  EXPECT_EQ(sample_->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(stop, 900);
  LONGLONG ms = 0, me = 0;
  EXPECT_EQ(sample_->GetMediaTime(&ms, &me), VFW_E_MEDIA_TIME_NOT_SET);
  EXPECT_EQ(sample_->SetMediaTime(&s, nullptr), E_POINTER);

  EXPECT_EQ(sample_->GetSize(), 100);
  EXPECT_EQ(sample_->SetActualDataLength(100), S_OK);
  EXPECT_EQ(sample_->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample_->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample_->GetActualDataLength(), 100);
}

TEST_F(MediaSampleTest, FlagsAndTypeAreClearedWhenTheBufferComesBack) {
  REFERENCE_TIME s = 1, e = 2;
  sample_->SetTime(&s, &e);
  sample_->SetMediaTime(&s, &e);
  sample_->SetSyncPoint(TRUE);
  sample_->SetPreroll(TRUE);
  sample_->SetDiscontinuity(TRUE);
  CMediaType mt(&MEDIATYPE_Audio);
  sample_->SetMediaType(&mt);
  sample_.Reset();
  ASSERT_EQ(Get(&sample_), S_OK);
  REFERENCE_TIME start, stop;
  EXPECT_EQ(sample_->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(sample_->GetMediaTime(&start, &stop), VFW_E_MEDIA_TIME_NOT_SET);
  EXPECT_EQ(sample_->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample_->IsPreroll(), S_FALSE);
  EXPECT_EQ(sample_->IsDiscontinuity(), S_FALSE);
  AM_MEDIA_TYPE* got = nullptr;
  EXPECT_EQ(sample_->GetMediaType(&got), S_FALSE);
  EXPECT_EQ(got, nullptr);
}

}  // namespace
