#include "threading/vt_wait_event.h"

#include "threading_test_helpers.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using threading_test::kDeadline;

enum class Action { kNone, kSet, kReset, kSetThenReset, kRecreate };

struct ResetCase {
  const char* name;
  bool create;
  int manualReset;
  int initialState;
  Action action;
  int firstWait;
  int secondWait;
};

TEST(WaitEventTest, SignalStateFollowsResetModeAndANeverCreatedEventActsSignalled) {
  const ResetCase cases[] = {
      {"never created", false, 0, 0, Action::kSetThenReset, 1, 1},
      {"Create again drops the old signal", true, 1, 1, Action::kRecreate, -100, -100},
      {"auto-reset signal is consumed by one wait", true, 0, 1, Action::kNone, 1, -100},
      {"auto-reset Set wakes one wait", true, 0, 0, Action::kSet, 1, -100},
      {"manual-reset signal stays for every wait", true, 1, 1, Action::kNone, 1, 1},
      {"manual-reset Set stays", true, 1, 0, Action::kSet, 1, 1},
      {"Reset clears an initial signal", true, 1, 1, Action::kReset, -100, -100},
      {"Reset after Set clears it", true, 0, 0, Action::kSetThenReset, -100, -100},
  };
  for (const ResetCase& c : cases) {
    VTWaitEvent event;
    SCOPED_TRACE(c.name);
    if (c.create) {
      ASSERT_EQ(event.Create(c.manualReset, c.initialState), 1);
    }
    if (c.action == Action::kSet || c.action == Action::kSetThenReset) {
      EXPECT_EQ(event.Set(), 1);
    }
    if (c.action == Action::kReset || c.action == Action::kSetThenReset) {
      EXPECT_EQ(event.Reset(), 1);
    }
    if (c.action == Action::kRecreate) {
      ASSERT_EQ(event.Create(1, 0), 1);
    }
    EXPECT_EQ(event.WaitOne(0), c.firstWait);
    // A never-created event must not block even without a limit.
    EXPECT_EQ(event.WaitOne(c.create ? 0 : 0xFFFFFFFF), c.secondWait);
  }
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
