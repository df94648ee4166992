// Helpers for the threading tests. They are built on std primitives, not on
// the classes under test, so that a broken VT class cannot hide its own fault.
#pragma once

#include "threading/vt_thread_tools.h"
#include "threading/vt_work_items.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace threading_test {

using std::chrono::milliseconds;

// Long enough that a correct implementation never misses it under a
// sanitizer on a loaded machine; a broken one fails instead of hanging.
inline constexpr milliseconds kDeadline{20000};
// How long a thread that must stay blocked is watched.
inline constexpr milliseconds kStaysBlocked{50};

// A one-way gate: closed until Open(), then open for good.
class Gate {
 public:
  // Notifies under the lock: a waiter may destroy the gate once it sees it open.
  void Open() {
    std::lock_guard<std::mutex> hold(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  bool WaitFor(milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    return opened_.wait_for(hold, limit, [this] { return open_; });
  }
  bool IsOpen() {
    std::lock_guard<std::mutex> hold(mutex_);
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// Polls `done` until it holds or `limit` passes.
template <typename Predicate>
bool Eventually(Predicate done, milliseconds limit = kDeadline) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

// Runs items.Wait() on a thread of its own, so that a test can watch whether
// it returns; the destructor unblocks it with Finish() if it never did.
class Waiter {
 public:
  explicit Waiter(VTWorkItems& items) : items_(items), thread_([this] {
    result_ = items_.Wait();
    returned_.Open();
  }) {}
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;
  ~Waiter() {
    if (!returned_.IsOpen()) items_.Finish();
    thread_.join();
  }
  bool ReturnedWithin(milliseconds limit) { return returned_.WaitFor(limit); }
  int result() {
    returned_.WaitFor(kDeadline);
    return result_;
  }

 private:
  VTWorkItems& items_;
  Gate returned_;
  int result_ = 0;
  std::thread thread_;
};

inline bool WaitReturnsWithin(VTWorkItems& items, milliseconds limit = kDeadline) {
  Waiter waiter(items);
  return waiter.ReturnedWithin(limit);
}

// Forces GetCoreCount() for the lifetime of the object.
class ScopedCoreCount {
 public:
  explicit ScopedCoreCount(unsigned count) { VTThreadToolsManaged::SetCoreCountForTesting(count); }
  ScopedCoreCount(const ScopedCoreCount&) = delete;
  ScopedCoreCount& operator=(const ScopedCoreCount&) = delete;
  ~ScopedCoreCount() { VTThreadToolsManaged::SetCoreCountForTesting(0); }
};

// Empties the slim-lock entry points, as on a system without the slim lock,
// so that locks created meanwhile fall back to the critical section.
class ScopedCriticalSectionFallback {
 public:
  ScopedCriticalSectionFallback() {
    VTThreadToolsUnmanaged::Initialize();
    for (size_t i = 0; i < kEntryPoints.size(); ++i) saved_[i] = kEntryPoints[i]->exchange(nullptr);
  }
  ScopedCriticalSectionFallback(const ScopedCriticalSectionFallback&) = delete;
  ScopedCriticalSectionFallback& operator=(const ScopedCriticalSectionFallback&) = delete;
  ~ScopedCriticalSectionFallback() {
    for (size_t i = 0; i < kEntryPoints.size(); ++i) kEntryPoints[i]->store(saved_[i]);
  }

 private:
  static inline const std::array<std::atomic<VTThreadToolsUnmanaged::SlimLockFunction>*, 5> kEntryPoints = {
      &VTThreadToolsUnmanaged::initializeSRWLock, &VTThreadToolsUnmanaged::releaseSRWLockShared,
      &VTThreadToolsUnmanaged::acquireSRWLockExclusive, &VTThreadToolsUnmanaged::acquireSRWLockShared,
      &VTThreadToolsUnmanaged::releaseSRWLockExclusive};
  std::array<VTThreadToolsUnmanaged::SlimLockFunction, 5> saved_{};
};

}  // namespace threading_test
