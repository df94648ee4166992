#include "platform/event.h"

#include <chrono>

CAMEvent::CAMEvent(BOOL manualReset, BOOL initialState) : manualReset_(manualReset != 0), state_(initialState != 0) {}

void CAMEvent::Set() {
  // Notified under the lock: a waiter may destroy the event as soon as its
  // wait returns, and must not find Set still touching it.
  std::lock_guard<std::mutex> hold(mutex_);
  state_ = true;
  if (manualReset_) {
    signalled_.notify_all();
  } else {
    signalled_.notify_one();
  }
}

void CAMEvent::Reset() {
  std::lock_guard<std::mutex> hold(mutex_);
  state_ = false;
}

BOOL CAMEvent::Wait(DWORD milliseconds) {
  std::unique_lock<std::mutex> hold(mutex_);
  const auto isSet = [this] { return state_; };
  if (milliseconds == INFINITE) {
    signalled_.wait(hold, isSet);
  } else if (milliseconds == 0) {
    // A poll: a timed wait would still enter the kernel once.
    if (!state_) return FALSE;
  } else if (!signalled_.wait_for(hold, std::chrono::milliseconds(milliseconds), isSet)) {
    return FALSE;
  }
  if (!manualReset_) state_ = false;
  return TRUE;
}
