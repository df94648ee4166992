#include "engine/push_pin.h"

#include "platform/base_filter.h"
#include "platform/sample_interfaces.h"

#include <map>
#include <mutex>

namespace {

// The flush nesting of every source some pin flushes, by object. Guarded by
// SourceFlushLock(), under which the source's own BeginFlush and EndFlush
// run.
std::map<IAsyncReader*, LONG>& SourceFlushCounts() {
  static std::map<IAsyncReader*, LONG> counts;
  return counts;
}

std::mutex& SourceFlushLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

CPushPin::CPushPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin(objectName, filter, lock, phr, name), CFilterPassThru(filter, phr) {}

CPushPin::~CPushPin() {
  StopWorker();
  SetSource(nullptr);
}

void CPushPin::SetSource(IAsyncReader* source) {
  // A flush left open would keep the old source flushing for every pin.
  while (m_sourceFlushCount > 0 && SUCCEEDED(EndSourceFlush())) {
  }
  if (source != nullptr) source->AddRef();
  IAsyncReader* old = m_source;
  m_source = source;
  if (old != nullptr) old->Release();
}

HRESULT CPushPin::Active() { return StartWorker(); }

HRESULT CPushPin::Inactive() {
  m_bRunTimeError = FALSE;
  return StopWorker();
}

HRESULT CPushPin::BreakConnect() {
  StopWorker();
  SetSource(nullptr);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CPushPin::StartWorker() {
  CAutoLock hold(AccessLock());
  if (m_pAllocator == nullptr || m_source == nullptr) return E_UNEXPECTED;
  if (!ThreadExists()) {
    const HRESULT hr = m_pAllocator->Commit();
    if (FAILED(hr)) return hr;
    if (!Create()) {
      m_pAllocator->Decommit();
      return E_FAIL;
    }
  }
  return CallWorker(kRunCommand);
}

HRESULT CPushPin::StopWorker() {
  CAutoLock hold(AccessLock());
  if (!ThreadExists()) return S_FALSE;
  // A worker waiting in a read of the source returns from it now.
  const HRESULT flush = BeginSourceFlush();
  CallWorker(kExitCommand);
  if (SUCCEEDED(flush)) EndSourceFlush();
  Close();
  if (m_pAllocator != nullptr) m_pAllocator->Decommit();
  return S_OK;
}

HRESULT CPushPin::BeginSourceFlush() {
  if (m_source == nullptr) return S_OK;
  std::lock_guard<std::mutex> hold(SourceFlushLock());
  LONG& count = SourceFlushCounts()[m_source];
  if (count == 0) {
    const HRESULT hr = m_source->BeginFlush();
    if (FAILED(hr)) {
      SourceFlushCounts().erase(m_source);
      return hr;
    }
  }
  ++count;
  ++m_sourceFlushCount;
  return S_OK;
}

HRESULT CPushPin::EndSourceFlush() {
  if (m_source == nullptr) return S_OK;
  std::lock_guard<std::mutex> hold(SourceFlushLock());
  const auto found = SourceFlushCounts().find(m_source);
  if (found == SourceFlushCounts().end() || m_sourceFlushCount == 0) return S_OK;
  if (found->second == 1) {
    const HRESULT hr = m_source->EndFlush();
    if (FAILED(hr)) return hr;
    SourceFlushCounts().erase(found);
  } else {
    --found->second;
  }
  --m_sourceFlushCount;
  return S_OK;
}

void CPushPin::DrainSource() {
  if (m_source == nullptr) return;
  const HRESULT flush = BeginSourceFlush();
  for (;;) {
    IMediaSample* sample = nullptr;
    DWORD_PTR user = 0;
    m_source->WaitForNext(0, &sample, &user);
    if (sample == nullptr) break;
    sample->Release();
  }
  if (SUCCEEDED(flush)) EndSourceFlush();
}

DWORD CPushPin::ThreadProc() {
  for (;;) {
    const DWORD command = GetRequest();
    if (command == kExitCommand) {
      Reply(S_OK);
      return 0;
    }
    if (command != kRunCommand) {
      Reply(E_NOTIMPL);
      continue;
    }
    // The client is released before the work starts: samples flow while
    // the application goes on.
    Reply(S_OK);
    Process();
    DrainSource();
  }
}
