// CAMEvent: a Win32-style event, manual or automatic reset, with timed waits.
#pragma once

#include "platform/wintypes.h"

#include <condition_variable>
#include <mutex>

class CAMEvent {
 public:
  explicit CAMEvent(BOOL manualReset = FALSE, BOOL initialState = FALSE);
  CAMEvent(const CAMEvent&) = delete;
  CAMEvent& operator=(const CAMEvent&) = delete;

  void Set();
  void Reset();
  // TRUE when the event was signalled within `milliseconds` (INFINITE waits
  // for ever). An automatic-reset event is reset by the wait that sees it.
  BOOL Wait(DWORD milliseconds = INFINITE);
  BOOL Check() { return Wait(0); }
  bool IsManualReset() const { return manualReset_; }

 private:
  const bool manualReset_;
  std::mutex mutex_;
  std::condition_variable signalled_;
  bool state_;
};
