// VTReaderWriterLock: a reader/writer lock on the slim lock when the process
// has one, else on a critical section (where readers exclude each other too),
// and VTReaderWriterLockItem, the scoped hold an acquire returns.
//
// The lock is neither copyable nor movable: its identity is its address, held
// items point at it, and a copy of locked storage would be a second lock that
// nobody could release. Create, Destroy and destruction must not race with any
// other call, and the lock must not be held when it is destroyed.
//
// The item is move-only: moving hands the hold over, the moved-from item is
// empty, and only the last owner releases. Assigning to an item releases what
// it held first. Items are used by the thread that acquired them.
#pragma once

#include "threading/lock_primitives.h"
#include "threading/vt_export.h"

class VTReaderWriterLock;

class VT_EXPORT VTReaderWriterLockItem {
 public:
  VTReaderWriterLockItem() = default;
  // Adopts a hold already taken on `lock` (shared when isReader is non-zero);
  // a null lock makes an empty item.
  VTReaderWriterLockItem(VTReaderWriterLock* lock, int isReader) : lock_(lock), isReader_(isReader) {}
  VTReaderWriterLockItem(const VTReaderWriterLockItem&) = delete;
  VTReaderWriterLockItem& operator=(const VTReaderWriterLockItem&) = delete;
  VTReaderWriterLockItem(VTReaderWriterLockItem&& other) noexcept;
  VTReaderWriterLockItem& operator=(VTReaderWriterLockItem&& other) noexcept;
  virtual ~VTReaderWriterLockItem();

  // Whether the item holds a lock that its destruction will release.
  bool IsHeld() const { return lock_ != nullptr; }
  bool IsReader() const { return isReader_ != 0; }

 private:
  void Release();

  VTReaderWriterLock* lock_ = nullptr;
  int isReader_ = 0;
};

class VT_EXPORT VTReaderWriterLock {
 public:
  VTReaderWriterLock() = default;
  VTReaderWriterLock(const VTReaderWriterLock&) = delete;
  VTReaderWriterLock& operator=(const VTReaderWriterLock&) = delete;
  virtual ~VTReaderWriterLock();

  // Destroys an existing lock first; 1, or -1 when the system refused.
  int Create();
  void Destroy();

  // A hold of the lock, or an empty item when the lock is not created, when
  // `doLock` is 0, or when the system refused the acquire (a thread taking
  // its own slim write lock again gets an empty item instead of a deadlock).
  VTReaderWriterLockItem AcquireReaderLock();
  VTReaderWriterLockItem AcquireWriterLock();
  VTReaderWriterLockItem AcquireReaderLock(int doLock);
  VTReaderWriterLockItem AcquireWriterLock(int doLock);
  // An empty item when `lock` is null.
  static VTReaderWriterLockItem Acquire(VTReaderWriterLock* lock, int reader);

  // Exclusive take / release without an item: 1 (also when not created), or
  // -1 when the system refused.
  int Lock();
  int Unlock();

  bool IsCreated() const { return created_ != 0; }
  // Whether this lock sits on the slim lock rather than the critical section.
  bool IsSlim() const { return slim_; }

 private:
  friend class VTReaderWriterLockItem;

  int ReleaseReaderLock();
  int ReleaseWriterLock();

  // The slim lock or the critical section, whichever Create chose.
  alignas(vt_primitives::kLockStorageAlignment) unsigned char storage_[vt_primitives::kLockStorageSize] = {};
  int created_ = 0;
  bool slim_ = false;
};
