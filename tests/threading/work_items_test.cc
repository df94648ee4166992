#include "threading/vt_work_items.h"

#include "threading_test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
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
  std::mutex mutex;
  std::set<std::thread::id> threads;
  int result = 1;
  Gate* gate = nullptr;
};

int Record(VTWorkItems*, void* argument) {
  auto* probe = static_cast<Probe*>(argument);
  {
    std::lock_guard<std::mutex> hold(probe->mutex);
    probe->threads.insert(std::this_thread::get_id());
  }
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
  unsigned cores;
  int threaded;
  bool lock;
};

TEST_F(WorkItemsTest, FlagsAndCoreCountDecideThreadsAndStatusLock) {
  const CreateCase cases[] = {
      {"no flags", 0, 4, 1, false},
      {"flag 1 creates the lock", 1, 4, 1, true},
      {"flag 2 creates the lock", 2, 4, 1, true},
      {"flag 4 creates the lock", 4, 4, 1, true},
      {"flag 8 never threads", 8, 4, 0, false},
      {"flag 8 wins over the lock flags", 8 | 4 | 2 | 1, 4, 0, false},
      {"one processor never threads", 4, 1, 0, false},
  };
  for (const CreateCase& c : cases) {
    ScopedCoreCount cores(c.cores);
    ASSERT_EQ(items_.Create(3, c.flags, 0), 1) << c.name;
    EXPECT_EQ(items_.IsCreated(), 1) << c.name;
    EXPECT_EQ(items_.IsThreaded(), c.threaded) << c.name;
    EXPECT_EQ(items_.GetLock()->IsCreated(), c.lock) << c.name;
    EXPECT_EQ(items_.GetStatus(), 1) << c.name;
  }
}

struct InlineCase {
  const char* name;
  unsigned flags;
  unsigned cores;
};

TEST_F(WorkItemsTest, UnthreadedItemsRunInlineAndWaitReturnsAtOnce) {
  const InlineCase cases[] = {{"flag 8", 8, 4}, {"one processor", 0, 1}};
  for (const InlineCase& c : cases) {
    ScopedCoreCount cores(c.cores);
    ASSERT_EQ(items_.Create(2, c.flags, 0), 1) << c.name;
    Probe probe;
    probe.result = 5;
    EXPECT_EQ(items_.QueueItem(&Record, &probe), 1) << c.name;
    EXPECT_EQ(probe.runs.load(), 1) << c.name;
    EXPECT_EQ(probe.threads, std::set<std::thread::id>{std::this_thread::get_id()}) << c.name;
    EXPECT_EQ(items_.GetStatus(), 5) << c.name;
    EXPECT_EQ(items_.Wait(), 1) << c.name;
  }
}

TEST_F(WorkItemsTest, ThreadedItemsRunOffTheCallersThreadForEveryPoolFlag) {
  for (const unsigned poolFlags : {0u, 1u, 2u}) {
    ASSERT_EQ(items_.Create(3, 0, poolFlags), 1);
    Probe probe;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(items_.QueueItem(&Record, &probe), 1) << poolFlags;
    ASSERT_TRUE(WaitReturnsWithin(items_)) << poolFlags;
    EXPECT_EQ(probe.runs.load(), 3) << poolFlags;
    EXPECT_EQ(probe.threads.count(std::this_thread::get_id()), 0u) << poolFlags;
  }
}

TEST_F(WorkItemsTest, CallbackReturningCanceledSkipsItemsQueuedLater) {
  for (const unsigned flags : {0u, 2u}) {
    ASSERT_EQ(items_.Create(1, flags, 0), 1);
    ASSERT_EQ(items_.QueueItem(&Cancels, nullptr), 1);
    ASSERT_TRUE(WaitReturnsWithin(items_)) << flags;
    EXPECT_EQ(items_.IsCanceled(), 1) << flags;

    Probe probe;
    EXPECT_EQ(items_.QueueItem(&Record, &probe), 1) << flags;
    std::this_thread::sleep_for(kStaysBlocked);
    EXPECT_EQ(probe.runs.load(), 0) << flags;
  }
}

TEST_F(WorkItemsTest, ItemsSkippedAfterCancelStillLetWaitReturn) {
  ASSERT_EQ(items_.Create(3, 2, 0), 1);
  ASSERT_EQ(items_.QueueItem(&Cancels, nullptr), 1);
  ASSERT_TRUE(Eventually([this] { return items_.IsCanceled() == 1; }));
  Probe probe;
  EXPECT_EQ(items_.QueueItem(&Record, &probe), 1);
  EXPECT_EQ(items_.QueueItem(&Record, &probe), 1);
  EXPECT_TRUE(WaitReturnsWithin(items_));
  EXPECT_EQ(probe.runs.load(), 0);
}

TEST_F(WorkItemsTest, ZeroCountWaitReturnsOnlyAfterFinish) {
  ASSERT_EQ(items_.Create(0, 0, 0), 1);
  Probe probe;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(items_.QueueItem(&Record, &probe), 1);
  ASSERT_TRUE(Eventually([&probe] { return probe.runs.load() == 3; }));
  Waiter waiter(items_);
  EXPECT_FALSE(waiter.ReturnedWithin(kStaysBlocked));
  EXPECT_EQ(items_.Finish(), 1);
  EXPECT_TRUE(waiter.ReturnedWithin(kDeadline));
  EXPECT_EQ(waiter.result(), 1);
}

TEST_F(WorkItemsTest, CreateAgainDropsASignalLeftByFinish) {
  ASSERT_EQ(items_.Create(0, 0, 0), 1);
  ASSERT_EQ(items_.Finish(), 1);
  ASSERT_EQ(items_.Create(1, 0, 0), 1);
  Gate gate;
  Probe probe;
  probe.gate = &gate;
  ASSERT_EQ(items_.QueueItem(&Record, &probe), 1);
  Waiter waiter(items_);
  EXPECT_FALSE(waiter.ReturnedWithin(kStaysBlocked));
  gate.Open();
  EXPECT_TRUE(waiter.ReturnedWithin(kDeadline));
}

struct StatusCase {
  const char* name;
  unsigned flags;
  int expectedStatus;
};

TEST_F(WorkItemsTest, PoolResultReachesStatusOnlyWithFlag4) {
  const StatusCase cases[] = {{"flag 4 stores", 4, 7}, {"flag 1 does not", 1, 1}, {"no flags do not", 0, 1}};
  for (const StatusCase& c : cases) {
    ASSERT_EQ(items_.Create(1, c.flags, 0), 1) << c.name;
    Probe probe;
    probe.result = 7;
    ASSERT_EQ(items_.QueueItem(&Record, &probe), 1) << c.name;
    ASSERT_TRUE(WaitReturnsWithin(items_)) << c.name;
    EXPECT_EQ(items_.GetStatus(), c.expectedStatus) << c.name;
  }
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

TEST_F(WorkItemsTest, DestroyResetsStatusAndCancel) {
  ASSERT_EQ(items_.Create(1, 2, 0), 1);
  items_.SetStatus(9);
  items_.Cancel();
  items_.Destroy();
  EXPECT_EQ(items_.IsCreated(), 0);
  EXPECT_EQ(items_.IsThreaded(), 0);
  EXPECT_EQ(items_.GetStatus(), 1);
  EXPECT_EQ(items_.IsCanceled(), 0);
  EXPECT_FALSE(items_.GetLock()->IsCreated());
  EXPECT_EQ(items_.Wait(), 1);
}

}  // namespace
