#include "platform/dll_setup.h"

#include "platform/class_table.h"
#include "platform/filter_mapper.h"
#include "platform/registry.h"

namespace {

std::wstring ClassKeyPath(REFCLSID clsid) { return L"CLSID\\" + GuidToWideString(clsid); }

HRESULT FromRegistry(LONG code) { return code == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(code)); }

HRESULT SetDefaultAndValue(const std::wstring& path, const std::wstring& defaultValue, LPCWSTR valueName,
                           LPCWSTR value) {
  HKEY key = nullptr;
  HRESULT hr =
      FromRegistry(RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
  if (FAILED(hr)) return hr;
  hr = FromRegistry(RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultValue.c_str()),
                                  static_cast<DWORD>((defaultValue.size() + 1) * sizeof(WCHAR))));
  if (SUCCEEDED(hr) && valueName != nullptr) {
    const std::wstring text = value;
    hr = FromRegistry(RegSetValueEx(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))));
  }
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
  const HRESULT saved = FromRegistry(transaction.Commit());
  return FAILED(hr) ? hr : saved;
}

HRESULT AMovieSetupUnregisterServer(REFCLSID clsid) {
  const LONG code = RegDeleteTree(HKEY_CLASSES_ROOT, ClassKeyPath(clsid).c_str());
  return code == ERROR_FILE_NOT_FOUND ? S_OK : FromRegistry(code);
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
