#include "threading/vt_wait_event.h"

#include "platform/event.h"

#include <exception>

VTWaitEvent::~VTWaitEvent() = default;

int VTWaitEvent::Create(int manualReset, int initialState) {
  Destroy();
  try {
    handle_ = std::make_shared<CAMEvent>(manualReset != 0 ? TRUE : FALSE, initialState != 0 ? TRUE : FALSE);
  } catch (const std::exception&) {
    return -1;
  }
  return 1;
}

void VTWaitEvent::Destroy() { handle_.reset(); }

// Each operation works on its own share of the event: once Set makes a waiter
// return, the waiter may destroy this object while Set is still finishing.
int VTWaitEvent::WaitOne(unsigned milliseconds) {
  const std::shared_ptr<CAMEvent> event = handle_;
  if (event == nullptr) return 1;
  try {
    return event->Wait(milliseconds) ? 1 : -100;
  } catch (const std::exception&) {
    return 0;
  }
}

int VTWaitEvent::Set() {
  const std::shared_ptr<CAMEvent> event = handle_;
  if (event == nullptr) return 1;
  try {
    event->Set();
  } catch (const std::exception&) {
    return 0;
  }
  return 1;
}

int VTWaitEvent::Reset() {
  const std::shared_ptr<CAMEvent> event = handle_;
  if (event == nullptr) return 1;
  try {
    event->Reset();
  } catch (const std::exception&) {
    return 0;
  }
  return 1;
}
