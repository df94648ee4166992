// The two primitives a VTReaderWriterLock can sit on, placed in storage the
// lock owns: the slim reader/writer lock (pthread_rwlock_t) and the
// critical-section fallback (a recursive pthread mutex, so that one thread
// may enter it again, as it may a critical section).
//
// Every operation returns 0 or the errno-style code the system gave; none
// throws. A refused acquire (EDEADLK: a thread taking its own slim write lock
// again) leaves the lock untouched.
#pragma once

#include <cstddef>

namespace vt_primitives {

// Bytes and alignment any primitive below needs.
inline constexpr size_t kLockStorageSize = 80;
inline constexpr size_t kLockStorageAlignment = 16;

int SlimLockInitialize(void* storage);
int SlimLockAcquireShared(void* storage);
int SlimLockReleaseShared(void* storage);
int SlimLockAcquireExclusive(void* storage);
int SlimLockReleaseExclusive(void* storage);
int SlimLockDestroy(void* storage);

int CriticalSectionInitialize(void* storage);
int CriticalSectionEnter(void* storage);
int CriticalSectionLeave(void* storage);
int CriticalSectionDelete(void* storage);

}  // namespace vt_primitives
