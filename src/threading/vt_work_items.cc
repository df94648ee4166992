#include "threading/vt_work_items.h"

#include "threading/system_thread_pool.h"
#include "threading/vt_thread_pool.h"
#include "threading/vt_thread_tools.h"

#include <chrono>
#include <new>
#include <utility>

struct VTWorkItems::QueuedItem {
  VTWorkItems* owner;
  Callback callback;
  void* argument;
};

namespace {

constexpr unsigned kAnyLockFlag = VTWorkItems::kCreateLock | VTWorkItems::kLockCanceled | VTWorkItems::kStoreStatus;

// How often a Destroy waiting for items looks whether the pool has stopped.
constexpr std::chrono::milliseconds kStoppedPoolPoll{50};

// The set whose callback this thread is running, if any.
thread_local const VTWorkItems* runningItemsOwner = nullptr;

}  // namespace

VTWorkItems::~VTWorkItems() { Destroy(); }

int VTWorkItems::Create(unsigned count, unsigned flags, unsigned poolFlags) {
  Destroy();
  if ((flags & kNoThreads) == 0 && VTThreadToolsManaged::GetCoreCount() > 1) {
    int result = completion_.Create(0, 0);
    if (result == 1 && (flags & kAnyLockFlag) != 0) result = statusLock_.Create();
    if (result != 1) {
      completion_.Destroy();
      statusLock_.Destroy();
      return result;
    }
  }
  count_ = count;
  pending_ = static_cast<LONG>(count);
  flags_ = flags;
  poolFlags_ = poolFlags;
  created_ = 1;
  canceled_.store(0);
  status_.store(1);
  return 1;
}

void VTWorkItems::Destroy() {
  // Also when not created: a callback may have destroyed its own set and be
  // finishing with it still.
  WaitForItemsInFlight();
  if (created_ == 0) return;
  count_ = 0;
  completion_.Destroy();
  statusLock_.Destroy();
  created_ = 0;
  canceled_.store(0);
  status_.store(1);
}

int VTWorkItems::QueueItem(Callback callback, void* argument) {
  // Nothing was queued, so nothing is counted as done: only an item that
  // reached the pool lowers the pending count, and a caller that stops
  // queuing after a cancel ends its Wait with Finish.
  if (IsCanceled() != 0) return 1;
  if (IsThreaded() == 0) {
    SetStatus(callback(this, argument));
    return 1;
  }
  auto* record = new (std::nothrow) QueuedItem{this, callback, argument};
  if (record == nullptr) return -1;
  // Counted before queuing: the item may finish before the queue call returns.
  ItemEntered();
  const int result = VTThreadPool::QueueUserWorkItem(&VTWorkItems::WaitCallback, record, poolFlags_);
  if (result != 1) {
    delete record;
    ItemLeft();
  }
  return result;
}

unsigned VTWorkItems::WaitCallback(void* record) {
  QueuedItem* const item = static_cast<QueuedItem*>(record);
  VTWorkItems* const owner = item->owner;
  int result = 1;
  if (owner->IsCanceled() == 0) {
    const VTWorkItems* const outer = std::exchange(runningItemsOwner, owner);
    result = item->callback(owner, item->argument);
    runningItemsOwner = outer;
    if ((owner->flags_ & kStoreStatus) != 0) owner->SetStatus(result);
    if (result == kCanceled) owner->Cancel();
  }
  if (owner->count_ != 0 && VTThreadToolsUnmanaged::VTInterlockedDecrement(&owner->pending_) == 0) {
    owner->completion_.Set();
  }
  delete item;
  owner->ItemLeft();
  return static_cast<unsigned>(result);
}

void VTWorkItems::ItemEntered() {
  std::lock_guard<std::mutex> hold(inFlightMutex_);
  ++itemsInFlight_;
}

// Notifies under the lock: the destroyer can only see the count drop after
// this unlock, and nothing of the set is touched after it. Every drop is
// announced, as a callback destroying its own set waits for one, not zero.
void VTWorkItems::ItemLeft() {
  std::lock_guard<std::mutex> hold(inFlightMutex_);
  --itemsInFlight_;
  noItemsInFlight_.notify_all();
}

void VTWorkItems::WaitForItemsInFlight() {
  // A callback destroying its own set must not wait for itself.
  const unsigned own = runningItemsOwner == this ? 1 : 0;
  std::unique_lock<std::mutex> hold(inFlightMutex_);
  const auto done = [this, own] { return itemsInFlight_ <= own; };
  while (!noItemsInFlight_.wait_for(hold, kStoppedPoolPoll, done)) {
    if (SystemThreadPool::HasStopped()) break;
  }
}

int VTWorkItems::Wait() {
  if (created_ == 0 || !completion_.IsCreated()) return 1;
  return completion_.WaitOne(INFINITE);
}

int VTWorkItems::Finish() {
  if (created_ == 0 || !completion_.IsCreated()) return 1;
  return completion_.Set();
}

int VTWorkItems::GetStatus() {
  const VTReaderWriterLockItem hold = statusLock_.AcquireReaderLock(created_);
  return status_.load();
}

void VTWorkItems::SetStatus(int status) {
  const VTReaderWriterLockItem hold = statusLock_.AcquireWriterLock(created_);
  status_.store(status);
}

void VTWorkItems::Cancel() {
  const VTReaderWriterLockItem hold = statusLock_.AcquireWriterLock(flags_ & kLockCanceled);
  canceled_.store(1);
}

int VTWorkItems::IsCanceled() {
  const VTReaderWriterLockItem hold = statusLock_.AcquireReaderLock(flags_ & kLockCanceled);
  return canceled_.load();
}
