// The abort and error results that the filter and each output pin latch on
// streaming threads and hand back later, through OnError, as the marker codes
// travel up the call stack. Atomic: any thread may latch or take.
#pragma once

#include "platform/hresult.h"

#include <atomic>

class ErrorLatch {
 public:
  // Each returns its marker for a non-zero result, S_OK otherwise.
  HRESULT SetAbort(HRESULT hr) {
    abort_ = hr;
    return hr != S_OK ? kAbortResultMarker : S_OK;
  }
  HRESULT SetError(HRESULT hr) {
    error_ = hr;
    return hr != S_OK ? kErrorResultMarker : S_OK;
  }

  // Clears both latches and returns what they held.
  struct Latched {
    HRESULT abort;
    HRESULT error;
  };
  Latched Take() { return {abort_.exchange(S_OK), error_.exchange(S_OK)}; }

 private:
  std::atomic<HRESULT> abort_{S_OK};
  std::atomic<HRESULT> error_{S_OK};
};
