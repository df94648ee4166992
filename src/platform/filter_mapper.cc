#include "platform/filter_mapper.h"

#include "platform/registry.h"

#include <cstring>
#include <map>
#include <new>

namespace {

constexpr CLSID CLSID_ActiveMovieCategories = {
    0xDA4E3DA0, 0xD07D, 0x11D0, {0xBD, 0x50, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
constexpr DWORD kFilterDataVersion = 2;
constexpr size_t kHeaderWords = 4;
constexpr size_t kPinWords = 6;
constexpr size_t kMediaTypeWords = 4;

void PutWord(std::vector<BYTE>* out, DWORD value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<BYTE>(value >> (8 * i)));
}

void PutTag(std::vector<BYTE>* out, ULONG index, const char* suffix) {
  out->push_back(static_cast<BYTE>('0' + index % 10));
  for (int i = 0; i < 3; ++i) out->push_back(static_cast<BYTE>(suffix[i]));
}

DWORD GetWord(const BYTE* data) {
  return static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 | static_cast<DWORD>(data[2]) << 16 |
         static_cast<DWORD>(data[3]) << 24;
}

std::wstring InstanceKeyPath(const CLSID& category, const std::wstring& instance) {
  return L"CLSID\\" + GuidToWideString(category) + L"\\Instance\\" + instance;
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  return HResultFromRegistry(RegSetString(key, name, text));
}

}  // namespace

std::vector<BYTE> SerializeFilterData(const REGFILTER2& record) {
  // GUIDs in first-use order, each once; offsets are known once the
  // fixed-size part is counted.
  std::vector<GUID> pool;
  auto slot = [&pool](const CLSID* guid) {
    const GUID value = guid != nullptr ? *guid : GUID_NULL;
    for (size_t i = 0; i < pool.size(); ++i) {
      if (pool[i] == value) return i;
    }
    pool.push_back(value);
    return pool.size() - 1;
  };
  size_t fixed = kHeaderWords * 4;
  for (ULONG p = 0; p < record.cPins; ++p) fixed += (kPinWords + kMediaTypeWords * record.rgPins[p].nMediaTypes) * 4;

  std::vector<BYTE> out;
  PutWord(&out, kFilterDataVersion);
  PutWord(&out, record.dwMerit);
  PutWord(&out, record.cPins);
  PutWord(&out, 0);
  for (ULONG p = 0; p < record.cPins; ++p) {
    const REGFILTERPINS& pin = record.rgPins[p];
    DWORD flags = 0;
    if (pin.bZero) flags |= REG_PINFLAG_B_ZERO;
    if (pin.bRendered) flags |= REG_PINFLAG_B_RENDERER;
    if (pin.bMany) flags |= REG_PINFLAG_B_MANY;
    if (pin.bOutput) flags |= REG_PINFLAG_B_OUTPUT;
    PutTag(&out, p, "pi3");
    PutWord(&out, flags);
    PutWord(&out, 0);
    PutWord(&out, pin.nMediaTypes);
    PutWord(&out, 0);
    PutWord(&out, 0);
    for (UINT t = 0; t < pin.nMediaTypes; ++t) {
      PutTag(&out, t, "ty3");
      PutWord(&out, 0);
      PutWord(&out, static_cast<DWORD>(fixed + 16 * slot(pin.lpMediaType[t].clsMajorType)));
      PutWord(&out, static_cast<DWORD>(fixed + 16 * slot(pin.lpMediaType[t].clsMinorType)));
    }
  }
  for (const GUID& guid : pool) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&guid);
    out.insert(out.end(), bytes, bytes + sizeof guid);
  }
  return out;
}

bool ParseFilterData(const BYTE* data, size_t size, RegisteredFilter* out) {
  if (data == nullptr || size < kHeaderWords * 4 || GetWord(data) != kFilterDataVersion) return false;
  out->merit = GetWord(data + 4);
  const DWORD pinCount = GetWord(data + 8);
  size_t at = kHeaderWords * 4;
  auto guidAt = [&](DWORD offset, GUID* guid) {
    if (offset > size || size - offset < sizeof(GUID)) return false;
    std::memcpy(guid, data + offset, sizeof(GUID));
    return true;
  };
  out->pins.clear();
  // Every pin needs its fixed words, so the count cannot outrun the data.
  if (pinCount > size / (kPinWords * 4)) return false;
  for (DWORD p = 0; p < pinCount; ++p) {
    if (size - at < kPinWords * 4 || std::memcmp(data + at + 1, "pi3", 3) != 0) return false;
    RegisteredPin pin;
    pin.flags = GetWord(data + at + 4);
    const DWORD typeCount = GetWord(data + at + 12);
    const DWORD mediumCount = GetWord(data + at + 16);
    at += kPinWords * 4;
    if (typeCount > (size - at) / (kMediaTypeWords * 4)) return false;
    for (DWORD t = 0; t < typeCount; ++t) {
      if (std::memcmp(data + at + 1, "ty3", 3) != 0) return false;
      RegisteredMediaType type{};
      if (!guidAt(GetWord(data + at + 8), &type.majortype) || !guidAt(GetWord(data + at + 12), &type.subtype)) {
        return false;
      }
      pin.mediaTypes.push_back(type);
      at += kMediaTypeWords * 4;
    }
    if (mediumCount > (size - at) / 4) return false;
    at += mediumCount * 4;
    out->pins.push_back(std::move(pin));
  }
  return true;
}

std::vector<RegisteredFilter> ReadRegisteredFilters() {
  std::vector<RegisteredFilter> filters;
  HKEY instances = nullptr;
  const std::wstring path = L"CLSID\\" + GuidToWideString(CLSID_LegacyAmFilterCategory) + L"\\Instance";
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &instances) != ERROR_SUCCESS) return filters;
  for (const std::wstring& name : RegSubkeyNames(instances)) {
    HKEY instance = nullptr;
    if (RegOpenKeyEx(instances, name.c_str(), 0, KEY_READ, &instance) != ERROR_SUCCESS) continue;
    RegisteredFilter filter;
    std::wstring text;
    DWORD type = 0, size = 0;
    std::vector<BYTE> data;
    bool ok = RegReadString(instance, L"", L"CLSID", &text);
    const std::optional<GUID> clsid = ok ? GuidFromWideString(text) : std::nullopt;
    ok = clsid.has_value() &&
         RegQueryValueEx(instance, L"FilterData", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
         type == REG_BINARY;
    if (ok) {
      data.resize(size);
      ok = RegQueryValueEx(instance, L"FilterData", nullptr, &type, data.data(), &size) == ERROR_SUCCESS &&
           ParseFilterData(data.data(), size, &filter);
    }
    if (ok) {
      filter.clsid = *clsid;
      RegReadString(instance, L"", L"FriendlyName", &filter.name);
      filters.push_back(std::move(filter));
    }
    RegCloseKey(instance);
  }
  RegCloseKey(instances);
  return filters;
}

CFilterMapper::CFilterMapper(IUnknown* outer, HRESULT* phr) : CUnknown("CFilterMapper", outer, phr) {}

CUnknown* CFilterMapper::CreateInstance(IUnknown* outer, HRESULT* phr) {
  auto* mapper = new (std::nothrow) CFilterMapper(outer, phr);
  if (mapper == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return mapper;
}

HRESULT CFilterMapper::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IFilterMapper2) return GetInterface(static_cast<IFilterMapper2*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CFilterMapper::CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) {
  CRegistryTransaction transaction;
  HKEY key = nullptr;
  const std::wstring path = InstanceKeyPath(CLSID_ActiveMovieCategories, GuidToWideString(category));
  HRESULT hr = HResultFromRegistry(
      RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
  if (FAILED(hr)) return hr;
  hr = SetString(key, L"FriendlyName", description != nullptr ? description : L"");
  if (SUCCEEDED(hr)) hr = SetString(key, L"CLSID", GuidToWideString(category));
  if (SUCCEEDED(hr)) {
    hr = HResultFromRegistry(RegSetValueEx(key, L"Merit", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&merit), sizeof merit));
  }
  RegCloseKey(key);
  const HRESULT saved = HResultFromRegistry(transaction.Commit());
  return FAILED(hr) ? hr : saved;
}

HRESULT CFilterMapper::UnregisterFilter(const CLSID* category, LPCWSTR instance, REFCLSID filter) {
  const std::wstring name = instance != nullptr ? instance : GuidToWideString(filter);
  const std::wstring path = InstanceKeyPath(category != nullptr ? *category : CLSID_LegacyAmFilterCategory, name);
  const LONG code = RegDeleteTree(HKEY_CLASSES_ROOT, path.c_str());
  return code == ERROR_FILE_NOT_FOUND ? S_FALSE : HResultFromRegistry(code);
}

HRESULT CFilterMapper::RegisterFilter(REFCLSID filter, LPCWSTR name, void** moniker, const CLSID* category,
                                      LPCWSTR instance, const REGFILTER2* record) {
  if (name == nullptr || record == nullptr || (record->cPins != 0 && record->rgPins == nullptr)) return E_POINTER;
  if (moniker != nullptr || record->dwVersion != 1) return E_NOTIMPL;
  const std::vector<BYTE> data = SerializeFilterData(*record);
  const std::wstring path = InstanceKeyPath(category != nullptr ? *category : CLSID_LegacyAmFilterCategory,
                                            instance != nullptr ? instance : GuidToWideString(filter));
  CRegistryTransaction transaction;
  HKEY key = nullptr;
  HRESULT hr = HResultFromRegistry(
      RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
  if (FAILED(hr)) return hr;
  hr = SetString(key, L"FriendlyName", name);
  if (SUCCEEDED(hr)) hr = SetString(key, L"CLSID", GuidToWideString(filter));
  if (SUCCEEDED(hr)) {
    hr = HResultFromRegistry(
        RegSetValueEx(key, L"FilterData", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())));
  }
  RegCloseKey(key);
  const HRESULT saved = HResultFromRegistry(transaction.Commit());
  return FAILED(hr) ? hr : saved;
}
