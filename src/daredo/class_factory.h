// The module's class factory: one template per class the module serves,
// and the factory DllGetClassObject hands out for a template. The lock
// count LockServer changes is module-wide; DllCanUnloadNow reads it with
// the count of live objects.
#pragma once

#include "platform/class_table.h"
#include "platform/filter_setup.h"

struct CFactoryTemplate {
  const WCHAR* m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  void (*m_lpfnInit)(BOOL loading, const CLSID* clsid);
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;
};

// The module's templates (one: the demultiplexer).
extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;

class CClassFactory final : public IClassFactory, public CBaseObject {
 public:
  explicit CClassFactory(const CFactoryTemplate* factoryTemplate);

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  // The last Release deletes the factory.
  ULONG Release() override;

  // An outer unknown may only ask for IID_IUnknown (E_NOINTERFACE).
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT LockServer(BOOL lock) override;

  static LONG ServerLockCount();

 private:
  const CFactoryTemplate* m_template;
  std::atomic<LONG> m_refCount{0};
};

// DllGetClassObject over the templates.
HRESULT GetClassObjectFromTemplates(REFCLSID clsid, REFIID riid, void** ppv);
// S_OK when no server lock and no object of the module is left.
HRESULT CanUnloadModule();
