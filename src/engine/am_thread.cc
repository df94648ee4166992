#include "engine/am_thread.h"

CAMThread::CAMThread() = default;

CAMThread::~CAMThread() { Close(); }

BOOL CAMThread::Create() {
  CAutoLock hold(&m_accessLock);
  std::lock_guard<std::mutex> guard(m_threadLock);
  if (m_thread.joinable()) return TRUE;
  m_requestEvent.Reset();
  try {
    m_thread = std::thread([this] { ThreadProc(); });
  } catch (const std::system_error&) {
    return FALSE;
  }
  return TRUE;
}

BOOL CAMThread::ThreadExists() {
  std::lock_guard<std::mutex> guard(m_threadLock);
  return m_thread.joinable() ? TRUE : FALSE;
}

HRESULT CAMThread::CallWorker(DWORD command) {
  CAutoLock hold(&m_accessLock);
  if (!ThreadExists()) return E_FAIL;
  // A request the worker only peeked at is answered before the next one.
  if (m_requestEvent.Check()) {
    m_replyEvent.Wait();
  } else {
    m_replyEvent.Reset();
  }
  m_param = command;
  m_requestEvent.Set();
  m_replyEvent.Wait();
  return m_returnValue;
}

void CAMThread::Close() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> guard(m_threadLock);
    thread = std::move(m_thread);
  }
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
    return;
  }
  thread.join();
}

DWORD CAMThread::GetRequest() {
  m_requestEvent.Wait();
  const DWORD command = m_param;
  m_requestEvent.Reset();
  return command;
}

BOOL CAMThread::CheckRequest(DWORD* command, DWORD timeoutMs) {
  if (!m_requestEvent.Wait(timeoutMs)) return FALSE;
  if (command != nullptr) *command = m_param;
  return TRUE;
}

void CAMThread::Reply(HRESULT hr) {
  m_returnValue = hr;
  m_requestEvent.Reset();
  m_replyEvent.Set();
}
