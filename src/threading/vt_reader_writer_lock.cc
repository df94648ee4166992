#include "threading/vt_reader_writer_lock.h"

#include "threading/vt_thread_tools.h"

#include <utility>

VTReaderWriterLockItem::VTReaderWriterLockItem(VTReaderWriterLockItem&& other) noexcept
    : lock_(std::exchange(other.lock_, nullptr)), isReader_(other.isReader_) {}

VTReaderWriterLockItem& VTReaderWriterLockItem::operator=(VTReaderWriterLockItem&& other) noexcept {
  if (this != &other) {
    Release();
    lock_ = std::exchange(other.lock_, nullptr);
    isReader_ = other.isReader_;
  }
  return *this;
}

VTReaderWriterLockItem::~VTReaderWriterLockItem() { Release(); }

void VTReaderWriterLockItem::Release() {
  VTReaderWriterLock* const lock = std::exchange(lock_, nullptr);
  if (lock == nullptr || !lock->IsCreated()) return;
  if (isReader_ != 0) {
    lock->ReleaseReaderLock();
  } else {
    lock->ReleaseWriterLock();
  }
}

VTReaderWriterLock::~VTReaderWriterLock() { Destroy(); }

int VTReaderWriterLock::Create() {
  VTThreadToolsUnmanaged::Initialize();
  Destroy();
  // The choice is made per lock, here, and never mixed afterwards: a lock
  // initialised as one primitive and released as the other would corrupt both.
  const VTThreadToolsUnmanaged::SlimLockFunction initialize = VTThreadToolsUnmanaged::initializeSRWLock.load();
  slim_ = initialize != nullptr && VTThreadToolsUnmanaged::HasSlimLock();
  const int result = slim_ ? initialize(storage_) : vt_primitives::CriticalSectionInitialize(storage_);
  if (result != 0) return -1;
  created_ = 1;
  return 1;
}

void VTReaderWriterLock::Destroy() {
  if (created_ == 0) return;
  if (slim_) {
    vt_primitives::SlimLockDestroy(storage_);
  } else {
    vt_primitives::CriticalSectionDelete(storage_);
  }
  created_ = 0;
}

VTReaderWriterLockItem VTReaderWriterLock::AcquireReaderLock() {
  if (created_ == 0) return {};
  const int result =
      slim_ ? vt_primitives::SlimLockAcquireShared(storage_) : vt_primitives::CriticalSectionEnter(storage_);
  if (result != 0) return {};
  return VTReaderWriterLockItem(this, 1);
}

VTReaderWriterLockItem VTReaderWriterLock::AcquireWriterLock() {
  if (created_ == 0 || Lock() != 1) return {};
  return VTReaderWriterLockItem(this, 0);
}

VTReaderWriterLockItem VTReaderWriterLock::AcquireReaderLock(int doLock) {
  if (doLock == 0) return {};
  return AcquireReaderLock();
}

VTReaderWriterLockItem VTReaderWriterLock::AcquireWriterLock(int doLock) {
  if (doLock == 0) return {};
  return AcquireWriterLock();
}

VTReaderWriterLockItem VTReaderWriterLock::Acquire(VTReaderWriterLock* lock, int reader) {
  if (lock == nullptr) return {};
  return reader != 0 ? lock->AcquireReaderLock() : lock->AcquireWriterLock();
}

int VTReaderWriterLock::Lock() {
  if (created_ == 0) return 1;
  const int result =
      slim_ ? vt_primitives::SlimLockAcquireExclusive(storage_) : vt_primitives::CriticalSectionEnter(storage_);
  return result == 0 ? 1 : -1;
}

int VTReaderWriterLock::Unlock() {
  if (created_ == 0) return 1;
  return ReleaseWriterLock();
}

int VTReaderWriterLock::ReleaseReaderLock() {
  const int result =
      slim_ ? vt_primitives::SlimLockReleaseShared(storage_) : vt_primitives::CriticalSectionLeave(storage_);
  return result == 0 ? 1 : -1;
}

int VTReaderWriterLock::ReleaseWriterLock() {
  const int result =
      slim_ ? vt_primitives::SlimLockReleaseExclusive(storage_) : vt_primitives::CriticalSectionLeave(storage_);
  return result == 0 ? 1 : -1;
}
