#include "threading/vt_work_items.h"

#include "threading_test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace {

using threading_test::Eventually;
using threading_test::Gate;
using threading_test::kDeadline;
using threading_test::kStaysBlocked;
using threading_test::ScopedCoreCount;
using threading_test::Waiter;
using threading_test::WaitReturnsWithin;

// What the callbacks below see through their argument.
struct Probe {
  std::atomic<int> runs{0};
  std::atomic<int> runsOnCaller{0};
  const std::thread::id caller = std::this_thread::get_id();
  int result = 1;
  Gate* gate = nullptr;
};

int Record(VTWorkItems*, void* argument) {
  auto* probe = static_cast<Probe*>(argument);
  if (std::this_thread::get_id() == probe->caller) ++probe->runsOnCaller;
  if (probe->gate != nullptr) probe->gate->WaitFor(kDeadline);
  ++probe->runs;
  return probe->result;
}

int Cancels(VTWorkItems*, void*) { return VTWorkItems::kCanceled; }

int DestroysItsOwnSet(VTWorkItems* items, void* argument) {
  items->Destroy();
  static_cast<Gate*>(argument)->Open();
  return 1;
}

// Threads are wanted whatever the machine has, unless a test says otherwise.
class WorkItemsTest : public testing::Test {
 protected:
  ScopedCoreCount cores_{4};
  VTWorkItems items_;
};

struct CreateCase {
  const char* name;
  unsigned flags;
  unsigned poolFlags;
  unsigned cores;
  bool inlined;
  bool lock;
  int status;  // left by items that return 7
};

TEST_F(WorkItemsTest, FlagsAndCoreCountDecideThreadsLockAndStatus) {
  const CreateCase cases[] = {
      {"no flags", 0, 0, 4, false, false, 1},
      {"flag 1 creates the lock", 1, 0, 4, false, true, 1},
      {"flag 2 creates the lock", 2, 0, 4, false, true, 1},
      {"flag 4 creates the lock and stores the status", 4, 0, 4, false, true, 7},
      {"dedicated pool threads", 0, 1, 4, false, false, 1},
      {"long-running pool items", 0, 2, 4, false, false, 1},
      {"flag 8 runs inline", 8, 0, 4, true, false, 7},
      {"flag 8 wins over the lock flags", 8 | 4 | 2 | 1, 0, 4, true, false, 7},
      {"one processor runs inline", 0, 0, 1, true, false, 7},
  };
  for (const CreateCase& c : cases) {
    ScopedCoreCount cores(c.cores);
    ASSERT_EQ(items_.Create(3, c.flags, c.poolFlags), 1) << c.name;
    EXPECT_EQ(items_.IsThreaded(), c.inlined ? 0 : 1) << c.name;
    EXPECT_EQ(items_.GetLock()->IsCreated(), c.lock) << c.name;
    Probe probe;
    probe.result = 7;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(items_.QueueItem(&Record, &probe), 1) << c.name;
    if (c.inlined) {
      EXPECT_EQ(items_.Wait(), 1) << c.name;
    } else {
      ASSERT_TRUE(WaitReturnsWithin(items_)) << c.name;
    }
    EXPECT_EQ(probe.runs.load(), 3) << c.name;
    EXPECT_EQ(probe.runsOnCaller.load(), c.inlined ? 3 : 0) << c.name;
    EXPECT_EQ(items_.GetStatus(), c.status) << c.name;
  }
}

// Items queued after a cancel run nothing and are not counted as done: the
// set is still one item short, so only Finish ends the Wait.
TEST_F(WorkItemsTest, ItemsQueuedOnACanceledSetRunNothingAndWaitNeedsFinish) {
  for (const unsigned flags : {0u, 2u}) {
    ASSERT_EQ(items_.Create(2, flags, 0), 1);
    ASSERT_EQ(items_.QueueItem(&Cancels, nullptr), 1);
    ASSERT_TRUE(Eventually([this] { return items_.IsCanceled() == 1; })) << flags;
    Probe probe;
    EXPECT_EQ(items_.QueueItem(&Record, &probe), 1) << flags;
    Waiter waiter(items_);
    EXPECT_FALSE(waiter.ReturnedWithin(kStaysBlocked)) << flags;
    EXPECT_EQ(items_.Finish(), 1) << flags;
    EXPECT_TRUE(waiter.ReturnedWithin(kDeadline)) << flags;
    EXPECT_EQ(probe.runs.load(), 0) << flags;
  }
}

TEST_F(WorkItemsTest, ZeroCountWaitReturnsOnlyAfterFinishAndCreateAgainDropsItsSignal) {
  ASSERT_EQ(items_.Create(0, 0, 0), 1);
  Probe probe;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(items_.QueueItem(&Record, &probe), 1);
  ASSERT_TRUE(Eventually([&probe] { return probe.runs.load() == 3; }));
  {
    Waiter waiter(items_);
    EXPECT_FALSE(waiter.ReturnedWithin(kStaysBlocked));
    EXPECT_EQ(items_.Finish(), 1);
    EXPECT_TRUE(waiter.ReturnedWithin(kDeadline));
    EXPECT_EQ(waiter.result(), 1);
  }
  ASSERT_EQ(items_.Finish(), 1);
  ASSERT_EQ(items_.Create(1, 0, 0), 1);
  Gate gate;
  probe.gate = &gate;
  ASSERT_EQ(items_.QueueItem(&Record, &probe), 1);
  Waiter waiter(items_);
  EXPECT_FALSE(waiter.ReturnedWithin(kStaysBlocked));
  gate.Open();
  EXPECT_TRUE(waiter.ReturnedWithin(kDeadline));
}

// The item's status write waits for the writer lock, and the item is not
// counted as done before it has written: Wait stays blocked meanwhile.
TEST_F(WorkItemsTest, StatusIsWrittenUnderTheWriterLockBeforeTheItemCounts) {
  ASSERT_EQ(items_.Create(1, 4, 0), 1);
  Probe probe;
  probe.result = 7;
  std::optional<VTReaderWriterLockItem> holding(items_.GetLock()->AcquireWriterLock());
  ASSERT_TRUE(holding->IsHeld());
  ASSERT_EQ(items_.QueueItem(&Record, &probe), 1);
  ASSERT_TRUE(Eventually([&probe] { return probe.runs.load() == 1; }));
  Waiter waiter(items_);
  EXPECT_FALSE(waiter.ReturnedWithin(kStaysBlocked));
  holding.reset();
  EXPECT_TRUE(waiter.ReturnedWithin(kDeadline));
  EXPECT_EQ(items_.GetStatus(), 7);
}

// After Finish lets Wait return, items still running point at the set:
// destroying it then must wait for them rather than free it under them.
TEST_F(WorkItemsTest, DestroyWaitsForItemsStillRunningAfterFinish) {
  auto items = std::make_unique<VTWorkItems>();
  ASSERT_EQ(items->Create(0, 4, 0), 1);
  Gate gate;
  Probe probe;
  probe.gate = &gate;
  ASSERT_EQ(items->QueueItem(&Record, &probe), 1);
  ASSERT_EQ(items->Finish(), 1);
  ASSERT_TRUE(WaitReturnsWithin(*items));
  Gate destroyed;
  std::thread destroyer([&items, &destroyed] {
    items.reset();
    destroyed.Open();
  });
  EXPECT_FALSE(destroyed.WaitFor(kStaysBlocked));
  gate.Open();
  EXPECT_TRUE(destroyed.WaitFor(kDeadline));
  destroyer.join();
  EXPECT_EQ(probe.runs.load(), 1);
}

TEST_F(WorkItemsTest, CallbackMayDestroyItsOwnSet) {
  ASSERT_EQ(items_.Create(1, 6, 0), 1);
  Gate destroyed;
  ASSERT_EQ(items_.QueueItem(&DestroysItsOwnSet, &destroyed), 1);
  ASSERT_TRUE(destroyed.WaitFor(kDeadline));
  EXPECT_EQ(items_.IsCreated(), 0);
  EXPECT_EQ(items_.Wait(), 1);
}

}  // namespace
