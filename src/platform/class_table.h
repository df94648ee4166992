// Creating COM objects by class identifier. The platform's own classes
// (filter graph, file source, null renderer, sample sink, system clock,
// memory allocator, filter mapper) come first. Any other class is looked up
// in the registry: "CLSID\{...}\InprocServer32" names a module, which is
// loaded once per path and asked through its DllGetClassObject. A class
// the registry does not name is looked for among the classes a module
// linked into this process added with RegisterInProcessClass, so that a
// program works before anything is registered.
//
// Threads: any. The loaded-module table has one lock, held while a module
// is loaded, asked for its factory, or asked whether it can be unloaded;
// never while an object is created.
#pragma once

#include "platform/unknown.h"

#include <string>

inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IClassFactory : public IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// The entry points an in-process server exports.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);
using LPFNCANUNLOADNOW = HRESULT (*)();

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Makes an object with no references; the caller adds the first.
using LPFNNewCOMObject = CUnknown* (*)(IUnknown* outer, HRESULT* phr);

// Creates the class and asks it for `riid`. An outer unknown may only ask for
// IID_IUnknown (CLASS_E_NOAGGREGATION otherwise); REGDB_E_CLASSNOTREG for an
// unknown class or a context without in-process servers; CO_E_DLLNOTFOUND
// when the registered module does not load, CO_E_ERRORINDLL when it lacks
// DllGetClassObject.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

// Unloads every module loaded for CoCreateInstance whose DllCanUnloadNow
// says S_OK.
void CoFreeUnusedLibraries();

// The file of the module the class's objects were last made by in this
// process (the registered path, or the module that added the in-process
// class); empty for a platform class or one never made.
std::string ClassModulePath(REFCLSID clsid);

// The file of the loaded module that holds `address`, made absolute.
std::string ModulePathOfAddress(const void* address);

// Adds or replaces a class of the module; the platform's own classes cannot
// be replaced (E_INVALIDARG).
HRESULT RegisterInProcessClass(REFCLSID clsid, LPFNNewCOMObject creator);
// S_FALSE when the class was not registered.
HRESULT UnregisterInProcessClass(REFCLSID clsid);
