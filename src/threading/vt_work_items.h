// VTWorkItems: a set of callbacks run on the thread pool, with a wait for all
// of them, cancellation and a shared status.
//
// Use: Create(count, flags, poolFlags), QueueItem up to `count` times, Wait().
// Without threads (flag kNoThreads, or one processor) every item runs inline
// in QueueItem and Wait returns at once. A callback returning kCanceled on the
// pool cancels the set: items already on the pool and not yet started are
// skipped (and still count as done); items queued after the cancel are not
// queued at all and do not count, so the caller that stops short ends its
// Wait with Finish. Inline, the result only goes to the status.
//
// Pool items point at the set, so Destroy (and so Create and the destructor)
// first waits for every item queued and not yet finished, also after Finish()
// let Wait return early; only once the pool has stopped at process exit does
// it stop waiting (the items left were dropped or are stuck). A callback may
// destroy its own set; the wait then leaves that item out. When QueueItem
// fails (-1) the item never runs: call Finish() before Wait(), or Wait()
// blocks for it.
//
// Threads: Create, Destroy and Wait belong to the owner; QueueItem, Finish,
// the status and the cancel flag may be used from any thread, callbacks
// included. Copies are deleted: items in flight point at the original. The
// completion event resets automatically: one Wait consumes one signal.
#pragma once

#include "platform/wintypes.h"
#include "threading/vt_export.h"
#include "threading/vt_reader_writer_lock.h"
#include "threading/vt_wait_event.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

class VT_EXPORT VTWorkItems {
 public:
  using Callback = int (*)(VTWorkItems* items, void* argument);

  // Create flags; any of the first three also creates the status lock.
  static constexpr unsigned kCreateLock = 1;
  static constexpr unsigned kLockCanceled = 2;
  static constexpr unsigned kStoreStatus = 4;
  static constexpr unsigned kNoThreads = 8;

  // A callback result that cancels the set.
  static constexpr int kCanceled = -100;

  VTWorkItems() = default;
  VTWorkItems(const VTWorkItems&) = delete;
  VTWorkItems& operator=(const VTWorkItems&) = delete;
  virtual ~VTWorkItems();

  // Destroys an existing set first. `count` is how many items the caller will
  // queue (0: Wait returns only after Finish); `poolFlags` go to
  // VTThreadPool::QueueUserWorkItem. 1, or -1 when the event or lock failed.
  int Create(unsigned count, unsigned flags, unsigned poolFlags);
  void Destroy();
  int IsCreated() const { return created_; }
  int IsThreaded() const { return created_ != 0 && completion_.IsCreated() ? 1 : 0; }

  // 1 when queued or run, or when the set is canceled (nothing runs and the
  // pending count stays); -1 when no pool thread could take it.
  int QueueItem(Callback callback, void* argument);

  // Blocks until every counted item has run, or Finish; 1 at once when the
  // set is not threaded.
  int Wait();
  int Finish();

  // `status` is 1 after Create; with kStoreStatus every pool item's result is
  // written to it. Under the status lock while created.
  int GetStatus();
  void SetStatus(int status);

  // Under the status lock with kLockCanceled.
  void Cancel();
  int IsCanceled();

  // The status lock (created with flags 1, 2 or 4 on a threaded set), for
  // callers that guard their own shared data with it.
  VTReaderWriterLock* GetLock() { return &statusLock_; }

 private:
  struct QueuedItem;

  static unsigned WaitCallback(void* record);

  void ItemEntered();
  // The last thing an item does with its set.
  void ItemLeft();
  void WaitForItemsInFlight();

  unsigned flags_ = 0;
  int created_ = 0;
  unsigned count_ = 0;
  // Items still to finish; changed only through the interlocked operations.
  volatile LONG pending_ = 0;
  VTWaitEvent completion_;
  // Atomic as well as lock-guarded, so that sets without kLockCanceled /
  // kStoreStatus have no data race; the lock adds the ordering those flags ask
  // for. statusLock_ is a leaf: no callback runs while it is held.
  std::atomic<int> canceled_{0};
  VTReaderWriterLock statusLock_;
  std::atomic<int> status_{1};
  unsigned poolFlags_ = 0;

  // A leaf lock guarding itemsInFlight_: items queued to the pool and not yet
  // finished with the set.
  std::mutex inFlightMutex_;
  std::condition_variable noItemsInFlight_;
  unsigned itemsInFlight_ = 0;
};
