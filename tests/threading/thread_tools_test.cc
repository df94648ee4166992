#include "threading/vt_thread_tools.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(ThreadToolsTest, InterlockedChangesReturnTheNewValueAndFromManyThreadsAreNotLost) {
  volatile LONG single = -1;
  EXPECT_EQ(VTThreadToolsUnmanaged::VTInterlockedIncrement(&single), 0);
  EXPECT_EQ(VTThreadToolsUnmanaged::VTInterlockedDecrement(&single), -1);
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
