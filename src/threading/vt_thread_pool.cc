#include "threading/vt_thread_pool.h"

#include "threading/system_thread_pool.h"

#include <exception>

int VTThreadPool::QueueUserWorkItem(Routine routine, void* context, unsigned flags) {
  if (routine == nullptr) return -1;
  try {
    SystemThreadPool& pool = SystemThreadPool::Instance();
    const bool queued = (flags & kDedicatedThread) != 0
                            ? pool.StartDedicatedThread(routine, context)
                            : pool.QueueWorkItem(routine, context, (flags & kLongRunning) != 0);
    return queued ? 1 : -1;
  } catch (const std::exception&) {
    return -1;
  }
}
