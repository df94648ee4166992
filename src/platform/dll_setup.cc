#include "platform/dll_setup.h"

#include "platform/class_table.h"
#include "platform/filter_mapper.h"
#include "platform/registry.h"

namespace {

std::wstring ClassKeyPath(REFCLSID clsid) { return L"CLSID\\" + GuidToWideString(clsid); }

HRESULT SetDefaultAndValue(const std::wstring& path, const std::wstring& defaultValue, LPCWSTR valueName,
                           LPCWSTR value) {
  HKEY key = nullptr;
  HRESULT hr =
      HResultFromRegistry(RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
  if (FAILED(hr)) return hr;
  hr = HResultFromRegistry(RegSetString(key, nullptr, defaultValue));
  if (SUCCEEDED(hr) && valueName != nullptr) hr = HResultFromRegistry(RegSetString(key, valueName, value));
  RegCloseKey(key);
  return hr;
}

}  // namespace

HRESULT AMovieSetupRegisterServer(REFCLSID clsid, LPCWSTR name, const std::wstring& modulePath,
                                  LPCWSTR threadingModel) {
  if (name == nullptr || threadingModel == nullptr) return E_POINTER;
  CRegistryTransaction transaction;
  HRESULT hr = SetDefaultAndValue(ClassKeyPath(clsid), name, nullptr, nullptr);
  if (SUCCEEDED(hr)) {
    hr = SetDefaultAndValue(ClassKeyPath(clsid) + L"\\InprocServer32", modulePath, L"ThreadingModel", threadingModel);
  }
  const HRESULT saved = HResultFromRegistry(transaction.Commit());
  return FAILED(hr) ? hr : saved;
}

HRESULT AMovieSetupUnregisterServer(REFCLSID clsid) {
  const LONG code = RegDeleteTree(HKEY_CLASSES_ROOT, ClassKeyPath(clsid).c_str());
  return code == ERROR_FILE_NOT_FOUND ? S_OK : HResultFromRegistry(code);
}

HRESULT AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* setup, BOOL doRegister) {
  if (setup == nullptr) return E_POINTER;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                mapper.PutVoid());
  if (FAILED(hr)) return hr;
  if (!doRegister) {
    hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *setup->clsID);
    return SUCCEEDED(hr) ? S_OK : hr;
  }
  const REGFILTER2 record{1, setup->dwMerit, setup->nPins, setup->lpPin};
  return mapper->RegisterFilter(*setup->clsID, setup->strName, nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                                &record);
}

bool RegisteredServerPath(REFCLSID clsid, std::wstring* path) {
  return RegReadString(HKEY_CLASSES_ROOT, ClassKeyPath(clsid) + L"\\InprocServer32", L"", path) && !path->empty();
}
