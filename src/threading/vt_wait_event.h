// VTWaitEvent: an unnamed event, manual or automatic reset, with timed waits.
//
// Results: 1 success, -1 failure, -100 time-out; an event that was never
// created behaves as always signalled (WaitOne, Set and Reset return 1).
//
// Copies share the event: a copy made of a created VTWaitEvent signals and
// waits on the same underlying event, as a duplicated handle would, and the
// event lives until the last copy holding it is destroyed or re-created. So no
// copy can close the event under another. Moves hand the share over.
//
// Threads: WaitOne, Set and Reset may be called from any number of threads
// at once; Create, Destroy, assignment and destruction must not race with
// other calls on the same object (they replace what it holds).
#pragma once

#include "threading/vt_export.h"

#include <memory>

class CAMEvent;

class VT_EXPORT VTWaitEvent {
 public:
  VTWaitEvent() = default;
  VTWaitEvent(const VTWaitEvent&) = default;
  VTWaitEvent& operator=(const VTWaitEvent&) = default;
  VTWaitEvent(VTWaitEvent&&) noexcept = default;
  VTWaitEvent& operator=(VTWaitEvent&&) noexcept = default;
  virtual ~VTWaitEvent();

  // Drops any event held first, then creates a new one; 1, or -1.
  int Create(int manualReset, int initialState);
  void Destroy();

  // 1 when signalled within `milliseconds` (0xFFFFFFFF: no limit) or when
  // there is no event; -100 on time-out; 0 when the wait itself failed.
  // An automatic-reset event is reset by the wait that sees it.
  int WaitOne(unsigned milliseconds);
  // 1 when done or when there is no event; 0 when the system refused.
  int Set();
  int Reset();

  bool IsCreated() const { return handle_ != nullptr; }

 private:
  std::shared_ptr<CAMEvent> handle_;
};
