// What a module's self-registration leans on: the COM class keys
// ("CLSID\{...}" with the class name, its "InprocServer32" with the
// module's path and threading model) and the filter registration record
// through the filter mapper.
#pragma once

#include "platform/filter_setup.h"
#include "platform/unknown.h"

#include <string>

HRESULT AMovieSetupRegisterServer(REFCLSID clsid, LPCWSTR name, const std::wstring& modulePath,
                                  LPCWSTR threadingModel = L"Both");
// Removes "CLSID\{...}" with everything below it; S_OK when it was absent.
HRESULT AMovieSetupUnregisterServer(REFCLSID clsid);
// Writes (or with doRegister FALSE removes) the filter's record through
// IFilterMapper2.
HRESULT AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* setup, BOOL doRegister);

// "CLSID\{...}\InprocServer32"'s default value under HKEY_CLASSES_ROOT.
bool RegisteredServerPath(REFCLSID clsid, std::wstring* path);
