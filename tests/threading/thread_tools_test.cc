#include "threading/vt_thread_tools.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(ThreadToolsTest, InterlockedOperationsReturnTheNewValue) {
  volatile LONG value = -1;
  EXPECT_EQ(VTThreadToolsUnmanaged::VTInterlockedIncrement(&value), 0);
  EXPECT_EQ(VTThreadToolsUnmanaged::VTInterlockedDecrement(&value), -1);
  EXPECT_EQ(value, -1);
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

}  // namespace
