// VTThreadPool: runs a routine on a thread of its own or on the process-wide
// pool. Any thread may call it.
#pragma once

#include "threading/vt_export.h"

class VT_EXPORT VTThreadPool {
 public:
  using Routine = unsigned (*)(void* context);

  static constexpr unsigned kDedicatedThread = 1;
  static constexpr unsigned kLongRunning = 2;

  // With kDedicatedThread, `routine` runs on a new thread of its own (joined
  // by the module once finished, or at exit); otherwise on the pool, where
  // kLongRunning gives the item a worker of its own. 1, or -1 when no thread
  // could take the item (or `routine` is null). Never throws.
  static int QueueUserWorkItem(Routine routine, void* context, unsigned flags);

 private:
  VTThreadPool() = default;
};
