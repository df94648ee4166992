#include "platform/unknown.h"

std::atomic<LONG> CBaseObject::objectsActive_{0};

CBaseObject::CBaseObject(const char* name) : name_(name) { objectsActive_.fetch_add(1); }

CBaseObject::~CBaseObject() { objectsActive_.fetch_sub(1); }

LONG CBaseObject::ObjectsActive() { return objectsActive_.load(); }

HRESULT GetInterface(IUnknown* unknown, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = unknown;
  unknown->AddRef();
  return S_OK;
}

CUnknown::CUnknown(const char* name, IUnknown* outer, HRESULT* /*phr*/)
    : CBaseObject(name), inner_(this), owner_(outer != nullptr ? outer : &inner_) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown) return GetInterface(&inner_, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(refCount_.fetch_add(1) + 1); }

ULONG CUnknown::NonDelegatingRelease() {
  const LONG count = refCount_.fetch_sub(1) - 1;
  if (count == 0) {
    // Guards against a Release from the destructor deleting the object twice.
    refCount_.store(1);
    delete this;
    return 0;
  }
  return static_cast<ULONG>(count);
}
