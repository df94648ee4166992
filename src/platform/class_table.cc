#include "platform/class_table.h"

#include "platform/async_file_source.h"
#include "platform/filter_graph.h"
#include "platform/media_guids.h"
#include "platform/mem_allocator.h"
#include "platform/null_renderer.h"
#include "platform/sample_sink.h"
#include "platform/system_clock.h"
#include "platform/url_source_filter.h"

#include <map>
#include <mutex>

namespace {

struct PlatformClass {
  const CLSID* clsid;
  LPFNNewCOMObject creator;
};

const PlatformClass kPlatformClasses[] = {
    {&CLSID_FilterGraph, &CFilterGraph::CreateInstance},
    {&CLSID_AsyncReader, &CAsyncFileSource::CreateInstance},
    {&CLSID_URLReader, &CUrlSourceFilter::CreateInstance},
    {&CLSID_NullRenderer, &CNullRenderer::CreateInstance},
    {&CLSID_SampleSink, &CSampleSink::CreateInstance},
    {&CLSID_SystemClock, &CSystemClock::CreateInstance},
    {&CLSID_MemoryAllocator, &CMemAllocator::CreateInstance},
};

LPFNNewCOMObject PlatformCreator(REFCLSID clsid) {
  for (const PlatformClass& entry : kPlatformClasses) {
    if (*entry.clsid == clsid) return entry.creator;
  }
  return nullptr;
}

// The module's classes. Guarded by ModuleClassesLock(); innermost.
std::map<CLSID, LPFNNewCOMObject, GuidLess>& ModuleClasses() {
  static std::map<CLSID, LPFNNewCOMObject, GuidLess> classes;
  return classes;
}

std::mutex& ModuleClassesLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if ((context & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  LPFNNewCOMObject creator = PlatformCreator(clsid);
  if (creator == nullptr) {
    std::lock_guard<std::mutex> hold(ModuleClassesLock());
    const auto found = ModuleClasses().find(clsid);
    if (found != ModuleClasses().end()) creator = found->second;
  }
  if (creator == nullptr) return REGDB_E_CLASSNOTREG;
  HRESULT hr = S_OK;
  CUnknown* object = creator(outer, &hr);
  if (object == nullptr) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  object->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) hr = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return hr;
}

HRESULT RegisterInProcessClass(REFCLSID clsid, LPFNNewCOMObject creator) {
  if (creator == nullptr) return E_POINTER;
  if (PlatformCreator(clsid) != nullptr) return E_INVALIDARG;
  std::lock_guard<std::mutex> hold(ModuleClassesLock());
  ModuleClasses()[clsid] = creator;
  return S_OK;
}

HRESULT UnregisterInProcessClass(REFCLSID clsid) {
  std::lock_guard<std::mutex> hold(ModuleClassesLock());
  return ModuleClasses().erase(clsid) != 0 ? S_OK : S_FALSE;
}
