#include "threading/vt_thread_tools.h"

#include "threading_test_helpers.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using threading_test::ScopedCoreCount;

struct InterlockedCase {
  const char* name;
  LONG start;
  bool increment;
  LONG expected;
};

TEST(ThreadToolsTest, InterlockedOperationsReturnTheNewValue) {
  const InterlockedCase cases[] = {
      {"increment from zero", 0, true, 1},
      {"increment to zero", -1, true, 0},
      {"decrement to zero", 1, false, 0},
      {"decrement below zero", 0, false, -1},
  };
  for (const InterlockedCase& c : cases) {
    volatile LONG value = c.start;
    const LONG result = c.increment ? VTThreadToolsUnmanaged::VTInterlockedIncrement(&value)
                                    : VTThreadToolsUnmanaged::VTInterlockedDecrement(&value);
    EXPECT_EQ(result, c.expected) << c.name;
    EXPECT_EQ(value, c.expected) << c.name;
  }
}

TEST(ThreadToolsTest, InterlockedChangesFromManyThreadsAreNotLost) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  volatile LONG value = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&value] {
      for (int i = 0; i < kRounds; ++i) {
        VTThreadToolsUnmanaged::VTInterlockedIncrement(&value);
        VTThreadToolsUnmanaged::VTInterlockedIncrement(&value);
        VTThreadToolsUnmanaged::VTInterlockedDecrement(&value);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(value, kThreads * kRounds);
}

TEST(ThreadToolsTest, CoreCountCanBeForcedAndRestored) {
  const unsigned system = VTThreadToolsManaged::GetCoreCount();
  EXPECT_GE(system, 1u);
  {
    ScopedCoreCount one(1);
    EXPECT_EQ(VTThreadToolsManaged::GetCoreCount(), 1u);
  }
  EXPECT_EQ(VTThreadToolsManaged::GetCoreCount(), system);
}

}  // namespace
