// The event side of CFilterGraph: what filters report through Notify, the
// queue the application reads, and the counting of renderers' EC_COMPLETE.
#include "platform/filter_graph.h"

#include <chrono>
#include <functional>
#include <mutex>

namespace {

bool Wait(std::condition_variable_any& cv, std::unique_lock<CCritSec>& hold, LONG timeoutMs,
          const std::function<bool()>& ready) {
  if (timeoutMs < 0) {
    cv.wait(hold, ready);
    return true;
  }
  return cv.wait_for(hold, std::chrono::milliseconds(timeoutMs), ready);
}

}  // namespace

void CFilterGraph::ArmCompletion() {
  const std::vector<IBaseFilter*> renderers = Renderers();
  CAutoLock events(&m_eventLock);
  m_pendingRenderers = std::set<IBaseFilter*>(renderers.begin(), renderers.end());
  m_counting = true;
  m_completion = 0;
  // Nothing to render is rendered at once.
  if (m_pendingRenderers.empty() && m_defaultCompleteHandling) {
    Post(EC_COMPLETE, S_OK, 0);
    Latch(EC_COMPLETE);
  }
}

void CFilterGraph::Post(LONG code, LONG_PTR param1, LONG_PTR param2) {
  m_events.push_back(Event{code, param1, param2});
  m_eventChanged.notify_all();
}

void CFilterGraph::Latch(LONG code) {
  if (m_completion == 0) m_completion = code;
  m_counting = false;
  m_eventChanged.notify_all();
}

HRESULT CFilterGraph::Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
  CAutoLock events(&m_eventLock);
  switch (eventCode) {
    case EC_COMPLETE: {
      if (!m_defaultCompleteHandling) {
        Post(eventCode, param1, param2);
        return S_OK;
      }
      if (!m_counting) return S_OK;
      auto* sender = reinterpret_cast<IBaseFilter*>(param2);
      // A sender we cannot tell apart counts for one of the renderers.
      if (sender == nullptr && !m_pendingRenderers.empty()) {
        m_pendingRenderers.erase(m_pendingRenderers.begin());
      } else {
        m_pendingRenderers.erase(sender);
      }
      if (m_pendingRenderers.empty()) {
        Post(EC_COMPLETE, S_OK, 0);
        Latch(EC_COMPLETE);
      }
      return S_OK;
    }
    case EC_ERRORABORT:
    case EC_USERABORT:
      Post(eventCode, param1, param2);
      Latch(eventCode);
      return S_OK;
    default:
      Post(eventCode, param1, param2);
      return S_OK;
  }
}

HRESULT CFilterGraph::GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) {
  if (eventCode == nullptr || param1 == nullptr || param2 == nullptr) return E_POINTER;
  std::unique_lock<CCritSec> hold(m_eventLock);
  if (!Wait(m_eventChanged, hold, timeoutMs, [this] { return !m_events.empty(); })) {
    *eventCode = 0;
    *param1 = *param2 = 0;
    return E_ABORT;
  }
  const Event event = m_events.front();
  m_events.pop_front();
  *eventCode = event.code;
  *param1 = event.param1;
  *param2 = event.param2;
  return S_OK;
}

HRESULT CFilterGraph::WaitForCompletion(LONG timeoutMs, LONG* eventCode) {
  if (eventCode == nullptr) return E_POINTER;
  *eventCode = 0;
  std::unique_lock<CCritSec> hold(m_eventLock);
  if (!m_running && m_completion == 0) return VFW_E_WRONG_STATE;
  const bool done = Wait(m_eventChanged, hold, timeoutMs, [this] { return m_completion != 0 || !m_running; });
  if (m_completion != 0) {
    *eventCode = m_completion;
    return S_OK;
  }
  return done ? VFW_E_WRONG_STATE : E_ABORT;
}

HRESULT CFilterGraph::CancelDefaultHandling(LONG eventCode) {
  if (eventCode != EC_COMPLETE) return E_INVALIDARG;
  CAutoLock events(&m_eventLock);
  m_defaultCompleteHandling = false;
  return S_OK;
}

HRESULT CFilterGraph::RestoreDefaultHandling(LONG eventCode) {
  if (eventCode != EC_COMPLETE) return E_INVALIDARG;
  CAutoLock events(&m_eventLock);
  m_defaultCompleteHandling = true;
  return S_OK;
}

HRESULT CFilterGraph::SetNotifyFlags(LONG flags) {
  CAutoLock events(&m_eventLock);
  m_notifyFlags = flags;
  return S_OK;
}

HRESULT CFilterGraph::GetNotifyFlags(LONG* flags) {
  if (flags == nullptr) return E_POINTER;
  CAutoLock events(&m_eventLock);
  *flags = m_notifyFlags;
  return S_OK;
}
