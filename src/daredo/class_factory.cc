#include "daredo/class_factory.h"

#include "diagnostics/trace.h"

#include <new>

namespace {

std::atomic<LONG> serverLocks{0};

}  // namespace

CClassFactory::CClassFactory(const CFactoryTemplate* factoryTemplate)
    : CBaseObject("CClassFactory"), m_template(factoryTemplate) {}

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  return GetInterface(static_cast<IClassFactory*>(this), ppv);
}

ULONG CClassFactory::AddRef() { return static_cast<ULONG>(m_refCount.fetch_add(1) + 1); }

ULONG CClassFactory::Release() {
  const LONG count = m_refCount.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return static_cast<ULONG>(count < 0 ? 0 : count);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (outer != nullptr && riid != IID_IUnknown) return E_NOINTERFACE;
  HRESULT hr = S_OK;
  CUnknown* object = m_template->m_lpfnNew(outer, &hr);
  if (object == nullptr) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete object;
    return hr;
  }
  object->NonDelegatingAddRef();
  hr = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return hr;
}

HRESULT CClassFactory::LockServer(BOOL lock) {
  if (lock) {
    serverLocks.fetch_add(1);
  } else {
    serverLocks.fetch_sub(1);
  }
  return S_OK;
}

LONG CClassFactory::ServerLockCount() { return serverLocks.load(); }

HRESULT GetClassObjectFromTemplates(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IClassFactory && riid != IID_IUnknown) return E_NOINTERFACE;
  for (int i = 0; i < g_cTemplates; ++i) {
    if (*g_Templates[i].m_ClsID != clsid) continue;
    auto* factory = new (std::nothrow) CClassFactory(&g_Templates[i]);
    if (factory == nullptr) return E_OUTOFMEMORY;
    factory->AddRef();
    *ppv = static_cast<IClassFactory*>(factory);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadModule() {
  if (CClassFactory::ServerLockCount() > 0 || CBaseObject::ObjectsActive() > 0) return S_FALSE;
  CloseTraceOutput();
  return S_OK;
}
