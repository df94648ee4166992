#include "threading/lock_primitives.h"

#include <pthread.h>

#include <cstring>
#include <new>

namespace vt_primitives {

static_assert(sizeof(pthread_rwlock_t) <= kLockStorageSize);
static_assert(sizeof(pthread_mutex_t) <= kLockStorageSize);
static_assert(alignof(pthread_rwlock_t) <= kLockStorageAlignment);
static_assert(alignof(pthread_mutex_t) <= kLockStorageAlignment);

namespace {

pthread_rwlock_t* AsRwLock(void* storage) { return std::launder(static_cast<pthread_rwlock_t*>(storage)); }
pthread_mutex_t* AsMutex(void* storage) { return std::launder(static_cast<pthread_mutex_t*>(storage)); }

}  // namespace

int SlimLockInitialize(void* storage) {
  auto* lock = new (storage) pthread_rwlock_t;
  return pthread_rwlock_init(lock, nullptr);
}

int SlimLockAcquireShared(void* storage) { return pthread_rwlock_rdlock(AsRwLock(storage)); }
int SlimLockReleaseShared(void* storage) { return pthread_rwlock_unlock(AsRwLock(storage)); }
int SlimLockAcquireExclusive(void* storage) { return pthread_rwlock_wrlock(AsRwLock(storage)); }
int SlimLockReleaseExclusive(void* storage) { return pthread_rwlock_unlock(AsRwLock(storage)); }

int SlimLockDestroy(void* storage) {
  const int result = pthread_rwlock_destroy(AsRwLock(storage));
  std::memset(storage, 0, kLockStorageSize);
  return result;
}

int CriticalSectionInitialize(void* storage) {
  pthread_mutexattr_t attributes;
  int result = pthread_mutexattr_init(&attributes);
  if (result != 0) return result;
  result = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  if (result == 0) result = pthread_mutex_init(new (storage) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
  return result;
}

int CriticalSectionEnter(void* storage) { return pthread_mutex_lock(AsMutex(storage)); }
int CriticalSectionLeave(void* storage) { return pthread_mutex_unlock(AsMutex(storage)); }

int CriticalSectionDelete(void* storage) {
  const int result = pthread_mutex_destroy(AsMutex(storage));
  std::memset(storage, 0, kLockStorageSize);
  return result;
}

}  // namespace vt_primitives
