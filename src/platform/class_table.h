// Creating COM objects by class identifier. The platform's own classes
// (filter graph, file source, null renderer, sample sink, system clock,
// memory allocator) are always known; the module adds its classes with
// RegisterInProcessClass. Classes outside both are not found here.
#pragma once

#include "platform/unknown.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Makes an object with no references; the caller adds the first.
using LPFNNewCOMObject = CUnknown* (*)(IUnknown* outer, HRESULT* phr);

// Creates the class and asks it for `riid`. An outer unknown may only ask for
// IID_IUnknown (CLASS_E_NOAGGREGATION otherwise); REGDB_E_CLASSNOTREG for an
// unknown class or a context without in-process servers.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

// Adds or replaces a class of the module; the platform's own classes cannot
// be replaced (E_INVALIDARG).
HRESULT RegisterInProcessClass(REFCLSID clsid, LPFNNewCOMObject creator);
// S_FALSE when the class was not registered.
HRESULT UnregisterInProcessClass(REFCLSID clsid);
