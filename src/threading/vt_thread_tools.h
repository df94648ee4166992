// The process-wide threading state the VT classes share: the processor count
// and the slim reader/writer lock entry points, both settled once per process
// by VTThreadToolsUnmanaged::Initialize(). Any thread may call everything here.
#pragma once

#include "platform/wintypes.h"
#include "threading/vt_export.h"

#include <atomic>

class VT_EXPORT VTThreadToolsManaged {
 public:
  VTThreadToolsManaged() = delete;

  // The processors the system reports, 1 if it reports none; computed once.
  static unsigned GetCoreCount();

  // Makes GetCoreCount() answer `count` from now on (0: the system's count
  // again), so that a test can force the one-processor path, or threads on a
  // one-processor machine.
  static void SetCoreCountForTesting(unsigned count);

 private:
  friend class VTThreadToolsUnmanaged;

  static std::atomic<unsigned> _coreCount;
};

class VT_EXPORT VTThreadToolsUnmanaged {
 public:
  VTThreadToolsUnmanaged() = delete;

  // A slim-lock operation on a lock's storage: 0, or the errno-style code the
  // system refused it with.
  using SlimLockFunction = int (*)(void* lock);

  // Resolved by Initialize(); each may be null. A VTReaderWriterLock created
  // while any of them is null uses the critical-section fallback; a test
  // empties them to select it. A lock keeps the primitive it was created with,
  // so changing them never affects an existing lock.
  static std::atomic<SlimLockFunction> initializeSRWLock;
  static std::atomic<SlimLockFunction> releaseSRWLockShared;
  static std::atomic<SlimLockFunction> acquireSRWLockExclusive;
  static std::atomic<SlimLockFunction> acquireSRWLockShared;
  static std::atomic<SlimLockFunction> releaseSRWLockExclusive;

  // Atomic +1 / -1; the new value.
  static LONG VTInterlockedIncrement(volatile LONG* value);
  static LONG VTInterlockedDecrement(volatile LONG* value);

  // Settles the processor count and the entry points the first time it is
  // called; later calls return at once.
  static void Initialize();

  // True when all five entry points are present, so a new lock can be slim.
  static bool HasSlimLock();

 private:
  static bool ResolveProcessState();
};
