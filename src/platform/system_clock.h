// CSystemClock: the graph's default reference clock, the monotonic system
// time in 100-ns units, with one-shot and periodic advice signalled on
// CAMEvent handles by a thread of its own (started by the first advice and
// joined when the clock goes).
#pragma once

#include "platform/critical_section.h"
#include "platform/filter_interfaces.h"

#include <condition_variable>
#include <thread>
#include <vector>

class CSystemClock final : public CUnknown, public IReferenceClock {
 public:
  CSystemClock(const char* name, IUnknown* outer, HRESULT* phr);
  ~CSystemClock() override;

  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Never goes backwards; S_FALSE when the time has not moved since the
  // previous call.
  HRESULT GetTime(REFERENCE_TIME* time) override;
  // Sets `event` (a CAMEvent*) once baseTime + streamTime is reached.
  HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) override;
  // Sets `semaphore` (a CAMEvent*) at startTime and every periodTime after.
  HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                         DWORD_PTR* cookie) override;
  // S_FALSE when the cookie is unknown (or a one-shot advice already fired).
  HRESULT Unadvise(DWORD_PTR cookie) override;

 private:
  struct Advice {
    DWORD_PTR cookie;
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0 for one-shot
    class CAMEvent* event;
  };

  static REFERENCE_TIME Now();
  HRESULT AddAdvice(Advice advice, DWORD_PTR* cookie);
  void AdviseThread();

  // Guards everything below; innermost, never held while calling out.
  CCritSec m_lock;
  std::condition_variable_any m_changed;
  REFERENCE_TIME m_lastTime = 0;
  std::vector<Advice> m_advice;
  DWORD_PTR m_nextCookie = 1;
  bool m_terminate = false;
  std::thread m_thread;
};
