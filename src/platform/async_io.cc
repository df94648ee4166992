#include "platform/async_io.h"

#include <algorithm>
#include <chrono>
#include <mutex>

CAsyncIo::CAsyncIo(IAsyncReader* source) : m_source(source) { m_source->AddRef(); }

CAsyncIo::~CAsyncIo() {
  {
    CAutoLock hold(&m_lock);
    m_terminate = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
  m_source->Release();
}

HRESULT CAsyncIo::Request(LONGLONG position, LONG length, BYTE* buffer, void* context, DWORD_PTR user) {
  if (buffer == nullptr && length > 0) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  {
    CAutoLock hold(&m_lock);
    if (m_flushing) return VFW_E_WRONG_STATE;
    m_work.push_back(PendingRead{position, length, buffer, context, user});
    if (!m_thread.joinable()) m_thread = std::thread(&CAsyncIo::WorkerThread, this);
  }
  m_changed.notify_all();
  return S_OK;
}

void CAsyncIo::WorkerThread() {
  std::unique_lock<CCritSec> hold(m_lock);
  for (;;) {
    m_changed.wait(hold, [this] { return m_terminate || !m_work.empty(); });
    if (m_terminate) return;
    PendingRead request = m_work.front();
    m_work.pop_front();
    ++m_inProgress;
    hold.unlock();
    request.result = SyncRead(request.position, request.length, request.buffer, &request.actual);
    hold.lock();
    --m_inProgress;
    m_done.push_back(request);
    m_changed.notify_all();
  }
}

HRESULT CAsyncIo::WaitForNext(DWORD timeoutMs, void** context, DWORD_PTR* user, LONG* actual) {
  if (context == nullptr || user == nullptr || actual == nullptr) return E_POINTER;
  *context = nullptr;
  *user = 0;
  *actual = 0;
  std::unique_lock<CCritSec> hold(m_lock);
  // While flushing, only the request being read is worth waiting for.
  const auto ready = [this] { return !m_done.empty() || (m_flushing && m_inProgress == 0) || m_terminate; };
  if (timeoutMs == INFINITE) {
    m_changed.wait(hold, ready);
  } else if (!m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), ready)) {
    return VFW_E_TIMEOUT;
  }
  if (m_done.empty()) return VFW_E_WRONG_STATE;
  const PendingRead request = m_done.front();
  m_done.pop_front();
  *context = request.context;
  *user = request.user;
  *actual = request.actual;
  // Reads come up short only at the end of the stream, which a request
  // aligned past the end is allowed to reach.
  return request.result == S_FALSE ? S_OK : request.result;
}

HRESULT CAsyncIo::SyncRead(LONGLONG position, LONG length, BYTE* buffer, LONG* actual) {
  *actual = 0;
  if (position < 0 || length < 0) return E_INVALIDARG;
  // Most reads lie inside the stream: one read, and no size query (a system
  // call per sample) unless the read comes up short.
  HRESULT hr = ReadThroughFlushes(position, length, buffer);
  if (hr == S_OK) {
    *actual = length;
    return S_OK;
  }
  if (FAILED(hr)) return hr;
  LONGLONG total = 0;
  hr = m_source->Length(&total, nullptr);
  if (FAILED(hr)) return hr;
  if (position < 0 || length < 0) return E_INVALIDARG;
  const LONG available = position >= total ? 0 : static_cast<LONG>(std::min<LONGLONG>(length, total - position));
  if (available > 0) {
    hr = ReadThroughFlushes(position, available, buffer);
    if (FAILED(hr)) return hr;
    if (hr != S_OK) return E_FAIL;  // the stream shrank under us
  }
  *actual = available;
  return available == length ? S_OK : S_FALSE;
}

HRESULT CAsyncIo::ReadThroughFlushes(LONGLONG position, LONG length, BYTE* buffer) {
  HRESULT hr = m_source->SyncRead(position, length, buffer);
  for (int retry = 0; hr == VFW_E_WRONG_STATE && retry < kFlushRetries; ++retry) {
    std::unique_lock<CCritSec> hold(m_lock);
    const bool ended = m_changed.wait_for(hold, std::chrono::milliseconds(kFlushGraceMs),
                                          [this] { return !m_flushing || m_terminate; });
    if (!ended || m_terminate) return hr;
    hold.unlock();
    hr = m_source->SyncRead(position, length, buffer);
  }
  return hr;
}

HRESULT CAsyncIo::Length(LONGLONG* total, LONGLONG* available) { return m_source->Length(total, available); }

HRESULT CAsyncIo::BeginFlush() {
  std::unique_lock<CCritSec> hold(m_lock);
  m_flushing = true;
  for (PendingRead& request : m_work) {
    request.result = VFW_E_WRONG_STATE;
    request.actual = 0;
    m_done.push_back(request);
  }
  m_work.clear();
  // A read waiting on a network source returns only when the source is
  // told; the flag is up first, so that the read knows why it returned.
  hold.unlock();
  m_source->BeginFlush();
  hold.lock();
  m_changed.notify_all();
  m_changed.wait(hold, [this] { return m_inProgress == 0 || m_terminate; });
  return S_OK;
}

HRESULT CAsyncIo::EndFlush() {
  m_source->EndFlush();
  CAutoLock hold(&m_lock);
  m_flushing = false;
  m_changed.notify_all();
  return S_OK;
}
