#include "platform/system_clock.h"

#include "platform/event.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <new>

namespace {

std::chrono::steady_clock::time_point ToTimePoint(REFERENCE_TIME time) {
  return std::chrono::steady_clock::time_point(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::nanoseconds(time) * 100));
}

}  // namespace

CSystemClock::CSystemClock(const char* name, IUnknown* outer, HRESULT* phr) : CUnknown(name, outer, phr) {}

CSystemClock::~CSystemClock() {
  {
    CAutoLock hold(&m_lock);
    m_terminate = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

CUnknown* CSystemClock::CreateInstance(IUnknown* outer, HRESULT* phr) {
  auto* clock = new (std::nothrow) CSystemClock("CSystemClock", outer, phr);
  if (clock == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return clock;
}

HRESULT CSystemClock::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

REFERENCE_TIME CSystemClock::Now() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

HRESULT CSystemClock::GetTime(REFERENCE_TIME* time) {
  if (time == nullptr) return E_POINTER;
  CAutoLock hold(&m_lock);
  const REFERENCE_TIME now = std::max(Now(), m_lastTime);
  const HRESULT hr = now == m_lastTime ? S_FALSE : S_OK;
  m_lastTime = now;
  *time = now;
  return hr;
}

HRESULT CSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                 DWORD_PTR* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (event == nullptr || baseTime < 0 || streamTime < 0 || baseTime > MAX_TIME - streamTime) return E_INVALIDARG;
  return AddAdvice(Advice{0, baseTime + streamTime, 0, static_cast<CAMEvent*>(event)}, cookie);
}

HRESULT CSystemClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE semaphore,
                                     DWORD_PTR* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (semaphore == nullptr || startTime < 0 || periodTime <= 0) return E_INVALIDARG;
  return AddAdvice(Advice{0, startTime, periodTime, static_cast<CAMEvent*>(semaphore)}, cookie);
}

HRESULT CSystemClock::AddAdvice(Advice advice, DWORD_PTR* cookie) {
  {
    CAutoLock hold(&m_lock);
    advice.cookie = m_nextCookie++;
    m_advice.push_back(advice);
    *cookie = advice.cookie;
    if (!m_thread.joinable()) m_thread = std::thread(&CSystemClock::AdviseThread, this);
  }
  m_changed.notify_all();
  return S_OK;
}

HRESULT CSystemClock::Unadvise(DWORD_PTR cookie) {
  CAutoLock hold(&m_lock);
  const auto found = std::find_if(m_advice.begin(), m_advice.end(), [&](const Advice& a) { return a.cookie == cookie; });
  if (found == m_advice.end()) return S_FALSE;
  m_advice.erase(found);
  return S_OK;
}

void CSystemClock::AdviseThread() {
  std::unique_lock<CCritSec> hold(m_lock);
  while (!m_terminate) {
    const REFERENCE_TIME now = Now();
    REFERENCE_TIME next = MAX_TIME;
    for (size_t i = 0; i < m_advice.size();) {
      Advice& advice = m_advice[i];
      if (advice.due <= now) {
        advice.event->Set();
        if (advice.period == 0) {
          m_advice.erase(m_advice.begin() + static_cast<std::ptrdiff_t>(i));
          continue;
        }
        // A late thread signals once and resumes the period from now.
        const REFERENCE_TIME missed = (now - advice.due) / advice.period + 1;
        advice.due = missed > (MAX_TIME - advice.due) / advice.period ? MAX_TIME : advice.due + missed * advice.period;
      }
      next = std::min(next, advice.due);
      ++i;
    }
    if (next == MAX_TIME) {
      m_changed.wait(hold);
    } else {
      m_changed.wait_until(hold, ToTimePoint(next));
    }
  }
}
