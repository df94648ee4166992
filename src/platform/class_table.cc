#include "platform/class_table.h"

#include "platform/async_file_source.h"
#include "platform/code_page.h"
#include "platform/dll_setup.h"
#include "platform/filter_graph.h"
#include "platform/filter_mapper.h"
#include "platform/media_guids.h"
#include "platform/mem_allocator.h"
#include "platform/null_renderer.h"
#include "platform/sample_sink.h"
#include "platform/system_clock.h"
#include "platform/url_source_filter.h"

#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <memory>
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
    {&CLSID_FilterMapper2, &CFilterMapper::CreateInstance},
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

struct LoadedModule {
  void* handle;
  LPFNGETCLASSOBJECT getClassObject;
  LPFNCANUNLOADNOW canUnloadNow;  // may be null: then it stays
};

// Modules loaded for CoCreateInstance, by registered path, and where each
// class was last made. Guarded by LoadedModulesLock(); taken before
// ModuleClassesLock() when both are needed.
std::map<std::string, LoadedModule>& LoadedModules() {
  static std::map<std::string, LoadedModule> modules;
  return modules;
}

std::map<CLSID, std::string, GuidLess>& ClassOrigins() {
  static std::map<CLSID, std::string, GuidLess> origins;
  return origins;
}

std::mutex& LoadedModulesLock() {
  static std::mutex lock;
  return lock;
}

// The InprocServer32 path registered for the class, if any.
bool RegisteredServer(REFCLSID clsid, std::string* path) {
  std::wstring text;
  if (!RegisteredServerPath(clsid, &text)) return false;
  *path = Utf8FromWide(text);
  return true;
}

// Under LoadedModulesLock(): the factory of the registered module, loaded
// on first use. A factory is a live object of its module, so the module
// stays loaded while the caller holds it.
HRESULT FactoryFromModule(const std::string& path, REFCLSID clsid, IClassFactory** factory) {
  auto found = LoadedModules().find(path);
  if (found == LoadedModules().end()) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return CO_E_DLLNOTFOUND;
    LoadedModule module{handle, reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject")),
                        reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(handle, "DllCanUnloadNow"))};
    if (module.getClassObject == nullptr) {
      ::dlclose(handle);
      return CO_E_ERRORINDLL;
    }
    found = LoadedModules().emplace(path, module).first;
  }
  const HRESULT hr = found->second.getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
  if (SUCCEEDED(hr)) ClassOrigins()[clsid] = ModulePathOfAddress(reinterpret_cast<void*>(found->second.getClassObject));
  return hr;
}

HRESULT CreateFromRegisteredModule(const std::string& path, REFCLSID clsid, IUnknown* outer, REFIID riid,
                                   void** ppv) {
  ComPtr<IClassFactory> factory;
  {
    std::lock_guard<std::mutex> hold(LoadedModulesLock());
    const HRESULT hr = FactoryFromModule(path, clsid, factory.Put());
    if (FAILED(hr)) return hr;
  }
  return factory->CreateInstance(outer, riid, ppv);
}

}  // namespace

std::string ModulePathOfAddress(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  char* resolved = ::realpath(info.dli_fname, nullptr);
  if (resolved == nullptr) return info.dli_fname;
  std::string path(resolved);
  std::free(resolved);
  return path;
}

std::string ClassModulePath(REFCLSID clsid) {
  std::lock_guard<std::mutex> hold(LoadedModulesLock());
  const auto found = ClassOrigins().find(clsid);
  return found != ClassOrigins().end() ? found->second : std::string();
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::mutex> hold(LoadedModulesLock());
  for (auto it = LoadedModules().begin(); it != LoadedModules().end();) {
    if (it->second.canUnloadNow != nullptr && it->second.canUnloadNow() == S_OK) {
      ::dlclose(it->second.handle);
      it = LoadedModules().erase(it);
    } else {
      ++it;
    }
  }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if ((context & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  LPFNNewCOMObject creator = PlatformCreator(clsid);
  if (creator == nullptr) {
    std::string path;
    if (RegisteredServer(clsid, &path)) return CreateFromRegisteredModule(path, clsid, outer, riid, ppv);
    std::lock_guard<std::mutex> hold(ModuleClassesLock());
    const auto found = ModuleClasses().find(clsid);
    if (found != ModuleClasses().end()) creator = found->second;
  }
  if (creator == nullptr) return REGDB_E_CLASSNOTREG;
  if (PlatformCreator(clsid) == nullptr) {
    const std::string origin = ModulePathOfAddress(reinterpret_cast<void*>(creator));
    std::lock_guard<std::mutex> hold(LoadedModulesLock());
    ClassOrigins()[clsid] = origin;
  }
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
