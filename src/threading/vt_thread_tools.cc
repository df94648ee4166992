#include "threading/vt_thread_tools.h"

#include "threading/lock_primitives.h"

#include <chrono>
#include <thread>

std::atomic<unsigned> VTThreadToolsManaged::_coreCount{1};

std::atomic<VTThreadToolsUnmanaged::SlimLockFunction> VTThreadToolsUnmanaged::initializeSRWLock{nullptr};
std::atomic<VTThreadToolsUnmanaged::SlimLockFunction> VTThreadToolsUnmanaged::releaseSRWLockShared{nullptr};
std::atomic<VTThreadToolsUnmanaged::SlimLockFunction> VTThreadToolsUnmanaged::acquireSRWLockExclusive{nullptr};
std::atomic<VTThreadToolsUnmanaged::SlimLockFunction> VTThreadToolsUnmanaged::acquireSRWLockShared{nullptr};
std::atomic<VTThreadToolsUnmanaged::SlimLockFunction> VTThreadToolsUnmanaged::releaseSRWLockExclusive{nullptr};

namespace {

// The spin guard in front of the function-local static: 1 while a thread is
// inside the initialisation, more while others are knocking.
volatile LONG initializationGuard = 0;
// Set once the state is settled, so that later calls skip the guard and its
// 1 ms sleeps.
std::atomic<bool> initialized{false};

unsigned SystemCoreCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

}  // namespace

unsigned VTThreadToolsManaged::GetCoreCount() {
  VTThreadToolsUnmanaged::Initialize();
  return _coreCount.load(std::memory_order_relaxed);
}

void VTThreadToolsManaged::SetCoreCountForTesting(unsigned count) {
  VTThreadToolsUnmanaged::Initialize();
  _coreCount.store(count == 0 ? SystemCoreCount() : count, std::memory_order_relaxed);
}

LONG VTThreadToolsUnmanaged::VTInterlockedIncrement(volatile LONG* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG VTThreadToolsUnmanaged::VTInterlockedDecrement(volatile LONG* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

bool VTThreadToolsUnmanaged::ResolveProcessState() {
  VTThreadToolsManaged::_coreCount.store(SystemCoreCount(), std::memory_order_relaxed);
  // The system always has the slim lock here (our pthread_rwlock stand-in);
  // only a test leaves these null.
  initializeSRWLock.store(&vt_primitives::SlimLockInitialize);
  releaseSRWLockShared.store(&vt_primitives::SlimLockReleaseShared);
  acquireSRWLockExclusive.store(&vt_primitives::SlimLockAcquireExclusive);
  acquireSRWLockShared.store(&vt_primitives::SlimLockAcquireShared);
  releaseSRWLockExclusive.store(&vt_primitives::SlimLockReleaseExclusive);
  return true;
}

void VTThreadToolsUnmanaged::Initialize() {
  if (initialized.load(std::memory_order_acquire)) return;
  while (VTInterlockedIncrement(&initializationGuard) > 1) {
    VTInterlockedDecrement(&initializationGuard);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  static const bool resolved = ResolveProcessState();
  initialized.store(resolved, std::memory_order_release);
  VTInterlockedDecrement(&initializationGuard);
}

bool VTThreadToolsUnmanaged::HasSlimLock() {
  Initialize();
  return initializeSRWLock.load() != nullptr && releaseSRWLockShared.load() != nullptr &&
         acquireSRWLockExclusive.load() != nullptr && acquireSRWLockShared.load() != nullptr &&
         releaseSRWLockExclusive.load() != nullptr;
}
