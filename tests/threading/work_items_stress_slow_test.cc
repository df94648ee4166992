#include "threading/vt_work_items.h"

#include "threading_test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using threading_test::ScopedCoreCount;
using threading_test::WaitReturnsWithin;

constexpr unsigned kItems = 100000;
constexpr unsigned kQueuingThreads = 4;
constexpr std::chrono::seconds kStressDeadline{120};

int CountAndTouchStatus(VTWorkItems* items, void* argument) {
  static_cast<std::atomic<unsigned>*>(argument)->fetch_add(1, std::memory_order_relaxed);
  return items->GetStatus() > 0 ? 1 : 0;
}

struct StressCase {
  const char* name;
  unsigned flags;
  unsigned poolFlags;
};

// Lost decrements of the pending count leave Wait blocked; extra ones let it
// return early with items still to run.
TEST(WorkItemsStressTest, ItemsQueuedFromSeveralThreadsAllRunBeforeWaitReturns) {
  ScopedCoreCount cores(4);
  const StressCase cases[] = {
      {"no lock", 0, 0},
      {"canceled and status under the lock", 2 | 4, 0},
      {"long-running pool items", 4, 2},
  };
  for (const StressCase& c : cases) {
    VTWorkItems items;
    ASSERT_EQ(items.Create(kItems, c.flags, c.poolFlags), 1) << c.name;
    std::atomic<unsigned> runs{0};
    std::atomic<unsigned> refused{0};
    std::vector<std::thread> queuing;
    for (unsigned t = 0; t < kQueuingThreads; ++t) {
      queuing.emplace_back([&items, &runs, &refused] {
        for (unsigned i = 0; i < kItems / kQueuingThreads; ++i) {
          if (items.QueueItem(&CountAndTouchStatus, &runs) != 1) ++refused;
        }
      });
    }
    for (std::thread& thread : queuing) thread.join();
    ASSERT_EQ(refused.load(), 0u) << c.name;
    ASSERT_TRUE(WaitReturnsWithin(items, kStressDeadline)) << c.name;
    EXPECT_EQ(runs.load(), kItems) << c.name;
    EXPECT_EQ(items.GetStatus(), 1) << c.name;
  }
}

}  // namespace
