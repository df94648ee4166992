#include "threading/vt_wait_event.h"

#include "threading_test_helpers.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using threading_test::kDeadline;

constexpr unsigned kInfinite = 0xFFFFFFFF;

TEST(WaitEventTest, NeverCreatedEventActsSignalledAndZeroTimeoutTimesOut) {
  VTWaitEvent event;
  EXPECT_EQ(event.WaitOne(kInfinite), 1);
  EXPECT_EQ(event.Set(), 1);
  EXPECT_EQ(event.Reset(), 1);
  ASSERT_EQ(event.Create(0, 0), 1);
  EXPECT_EQ(event.WaitOne(0), -100);
}

enum class Action { kNone, kSet, kReset, kSetThenReset, kRecreate };

struct ResetCase {
  const char* name;
  int manualReset;
  int initialState;
  Action action;
  int firstWait;
  int secondWait;
};

TEST(WaitEventTest, SignalStateFollowsResetMode) {
  const ResetCase cases[] = {
      {"Create again drops the old signal", 1, 1, Action::kRecreate, -100, -100},
      {"auto-reset signal is consumed by one wait", 0, 1, Action::kNone, 1, -100},
      {"auto-reset Set wakes one wait", 0, 0, Action::kSet, 1, -100},
      {"manual-reset signal stays for every wait", 1, 1, Action::kNone, 1, 1},
      {"manual-reset Set stays", 1, 0, Action::kSet, 1, 1},
      {"Reset clears an initial signal", 1, 1, Action::kReset, -100, -100},
      {"Reset after Set clears it", 0, 0, Action::kSetThenReset, -100, -100},
  };
  for (const ResetCase& c : cases) {
    VTWaitEvent event;
    ASSERT_EQ(event.Create(c.manualReset, c.initialState), 1) << c.name;
    if (c.action == Action::kSet || c.action == Action::kSetThenReset) {
      EXPECT_EQ(event.Set(), 1) << c.name;
    }
    if (c.action == Action::kReset || c.action == Action::kSetThenReset) {
      EXPECT_EQ(event.Reset(), 1) << c.name;
    }
    if (c.action == Action::kRecreate) {
      ASSERT_EQ(event.Create(1, 0), 1) << c.name;
    }
    EXPECT_EQ(event.WaitOne(0), c.firstWait) << c.name;
    EXPECT_EQ(event.WaitOne(0), c.secondWait) << c.name;
  }
}

TEST(WaitEventTest, CopiesShareOneEventThatOutlivesTheOriginal) {
  auto original = std::make_unique<VTWaitEvent>();
  ASSERT_EQ(original->Create(1, 0), 1);
  VTWaitEvent copy(*original);
  VTWaitEvent assigned;
  assigned = *original;

  EXPECT_EQ(copy.Set(), 1);
  EXPECT_EQ(original->WaitOne(0), 1);
  EXPECT_EQ(assigned.WaitOne(0), 1);

  original.reset();
  EXPECT_EQ(assigned.Reset(), 1);
  EXPECT_EQ(copy.WaitOne(0), -100);
  copy.Destroy();
  EXPECT_EQ(assigned.WaitOne(0), -100);
}

// The waiter frees the event the moment its wait returns, while the setter
// may still be inside Set.
TEST(WaitEventTest, WaiterMayDestroyTheEventAsSoonAsItsWaitReturns) {
  for (int round = 0; round < 200; ++round) {
    auto event = std::make_unique<VTWaitEvent>();
    ASSERT_EQ(event->Create(0, 0), 1);
    std::thread setter([raw = event.get()] { raw->Set(); });
    ASSERT_EQ(event->WaitOne(static_cast<unsigned>(kDeadline.count())), 1);
    event.reset();
    setter.join();
  }
}

}  // namespace
