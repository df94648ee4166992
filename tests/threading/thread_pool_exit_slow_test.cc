#include "threading/vt_thread_pool.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// A child that hangs is killed by the alarm instead of hanging the test.
constexpr unsigned kChildAlarmSeconds = 60;

unsigned BlockForAnHour(void*) {
  std::this_thread::sleep_for(std::chrono::hours(1));
  return 0;
}

unsigned ExitWithThree(void*) {
  std::_Exit(3);
}

unsigned FinishSoonAndSaySo(void*) {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::fputs("dedicated thread finished\n", stderr);
  return 0;
}

class ThreadPoolExitTest : public testing::Test {
 protected:
  // Forking a process that already has pool threads is unsafe; the child
  // re-runs this test from a fresh start instead.
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ThreadPoolExitTest, ExitWithStuckThreadsDoesNotHangAndDropsQueuedItems) {
  EXPECT_EXIT(
      {
        alarm(kChildAlarmSeconds);
        // More blocked items than the pool has workers, so that the last
        // ones are still queued at exit.
        for (int i = 0; i < 256; ++i) VTThreadPool::QueueUserWorkItem(&BlockForAnHour, nullptr, 0);
        for (int i = 0; i < 4; ++i) VTThreadPool::QueueUserWorkItem(&ExitWithThree, nullptr, 0);
        VTThreadPool::QueueUserWorkItem(&BlockForAnHour, nullptr, 1);
        VTThreadPool::QueueUserWorkItem(&BlockForAnHour, nullptr, 2);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

// A dedicated thread about to finish is waited for; an item calling exit
// does not wait for itself.
TEST_F(ThreadPoolExitTest, ExitWaitsForFinishingThreadsButNotForItself) {
  EXPECT_EXIT(
      {
        alarm(kChildAlarmSeconds);
        VTThreadPool::QueueUserWorkItem(&FinishSoonAndSaySo, nullptr, 1);
        VTThreadPool::QueueUserWorkItem([](void*) -> unsigned {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          std::exit(0);
        }, nullptr, 0);
        std::this_thread::sleep_for(std::chrono::seconds(kChildAlarmSeconds));
      },
      testing::ExitedWithCode(0), "dedicated thread finished");
}

}  // namespace
