// The module's exported entry points, as an in-process server has them.
#pragma once

#include "platform/unknown.h"

#include <string>

extern "C" {
HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
HRESULT DllCanUnloadNow();
HRESULT DllRegisterServer();
HRESULT DllUnregisterServer();
}

using LPFNREGISTERSERVER = HRESULT (*)();

// The file of the loaded module this code belongs to.
std::string ThisModulePath();
