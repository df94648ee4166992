#include "threading/vt_thread_pool.h"

#include "threading_test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using threading_test::Eventually;
using threading_test::Gate;
using threading_test::kDeadline;

struct RoutineProbe {
  std::atomic<int> count{0};
  std::atomic<bool> onCallersThread{false};
  std::thread::id caller = std::this_thread::get_id();
  Gate* gate = nullptr;
};

unsigned CountRun(void* context) {
  auto* run = static_cast<RoutineProbe*>(context);
  if (std::this_thread::get_id() == run->caller) run->onCallersThread = true;
  if (run->gate != nullptr) run->gate->WaitFor(kDeadline);
  ++run->count;
  return 0;
}

TEST(ThreadPoolTest, RoutineRunsOnAnotherThreadForEveryFlagAndNullIsRefused) {
  for (const unsigned flags : {0u, 1u, 2u, 3u}) {
    EXPECT_EQ(VTThreadPool::QueueUserWorkItem(nullptr, nullptr, flags), -1) << flags;
    RoutineProbe run;
    ASSERT_EQ(VTThreadPool::QueueUserWorkItem(&CountRun, &run, flags), 1) << flags;
    ASSERT_TRUE(Eventually([&run] { return run.count.load() == 1; })) << flags;
    EXPECT_FALSE(run.onCallersThread.load()) << flags;
  }
}

// Long-running items each bring a worker, so they cannot starve short ones.
TEST(ThreadPoolTest, LongRunningItemsLeaveWorkersForShortOnes) {
  constexpr int kLong = 8;
  constexpr int kShort = 16;
  Gate gate;
  RoutineProbe blocked;
  blocked.gate = &gate;
  for (int i = 0; i < kLong; ++i) ASSERT_EQ(VTThreadPool::QueueUserWorkItem(&CountRun, &blocked, 2), 1);
  RoutineProbe quick;
  for (int i = 0; i < kShort; ++i) ASSERT_EQ(VTThreadPool::QueueUserWorkItem(&CountRun, &quick, 0), 1);
  EXPECT_TRUE(Eventually([&quick] { return quick.count.load() == kShort; }));
  EXPECT_EQ(blocked.count.load(), 0);
  gate.Open();
  ASSERT_TRUE(Eventually([&blocked] { return blocked.count.load() == kLong; }));
}

}  // namespace
