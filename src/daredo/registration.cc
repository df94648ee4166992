#include "daredo/registration.h"

#include "daredo/dar_edo.h"
#include "daredo/module_version.h"
#include "platform/code_page.h"
#include "platform/dll_setup.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/registry.h"

#include <algorithm>
#include <dlfcn.h>
#include <sys/stat.h>

namespace {

struct ExtensionRow {
  const wchar_t* longDescription;
  const wchar_t* shortDescription;
  const wchar_t* pattern;
  const wchar_t* extension;
};

// The first 11 rows are "VISO", the last one "VISM".
constexpr ExtensionRow kExtensionRows[] = {
    {L"AVC/H.264 Format (*.avc)", L"AVC/H.264 Format", L"*.avc", L".avc"},
    {L"MPEG-4 Format (*.mp4)", L"MPEG-4 Format", L"*.mp4", L".mp4"},
    {L"MPEG-4 Audio (*.m4a)", L"MPEG-4 Audio", L"*.m4a", L".m4a"},
    {L"MPEG-4 Video Format (*.m4v)", L"MPEG-4 Video Format Format", L"*.m4v", L".m4v"},
    {L"3GPP Format (*.3gp)", L"3GPP Format", L"*.3gp", L".3gp"},
    {L"3GPP Format (*.3gp)", L"3GPP Format", L"*.3gpp", L".3gpp"},
    {L"3GPP2 Format (*.3g2)", L"3GPP2 Format", L"*.3g2", L".3g2"},
    {L"QuickTime Format (*.mov)", L"QuickTime Format", L"*.mov", L".mov"},
    {L"Motion JPEG 2000 Format (*.mj2)", L"Motion JPEG 2000 Format", L"*.mj2", L".mj2"},
    {L"IIS Smooth Streaming Video Format (*.ismv)", L"IIS Smooth Streaming Video Format", L"*.ismv", L".ismv"},
    {L"IIS Smooth Streaming Audio Format (*.isma)", L"IIS Smooth Streaming Audio Format", L"*.isma", L".isma"},
    {L"IIS Smooth Streaming Manifest (*.ism)", L"IIS Smooth Streaming Manifest", L"*.ism", L".ism"},
};
constexpr size_t kVisoRows = 11;

// The type field of the first box: "ftyp", "moov", "skip", "jP  ".
constexpr uint32_t kFirstBoxTypes[] = {FourCC("ftyp"), FourCC("moov"), FourCC("skip"), FourCC("jP  ")};

constexpr GUID kSubtypeViso = FourCCSubtype(FourCC("VISO"));
constexpr GUID kSubtypeVism = FourCCSubtype(FourCC("VISM"));

constexpr wchar_t kTypesPath[] = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types";
constexpr wchar_t kDescriptionsPath[] = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Descriptions";
constexpr wchar_t kMuiDescriptionsPath[] = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\MUIDescriptions";
constexpr wchar_t kWmPlayerExtensionsPath[] = L"SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions";
constexpr wchar_t kThumbnailShellEx[] = L"\\ShellEx\\{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}";
constexpr wchar_t kVideoThumbnailExtractor[] = L"{c5a40261-cd64-4ccf-84cb-c394da41d590}";
constexpr wchar_t kSettingsPath[] = L"SOFTWARE\\Verdant Media Works\\DShow\\Filters\\VMDarEdo";
constexpr DWORD kWmPlayerRuntime = 7;
constexpr DWORD kWmPlayerPermissions = 15;
// The names "0", "1", ... are consecutive; a registry that claims more than
// this many is not worth walking.
constexpr DWORD kMaxPatternNames = 4096;
// What the media player's lists hold per value (names and data).
constexpr DWORD kListEntryChars = 128;

std::wstring MediaTypeKeyPath(REFGUID subtype) {
  return L"Media Type\\" + GuidToWideString(MEDIATYPE_Stream) + L"\\" + GuidToWideString(subtype);
}

std::wstring ExtensionKeyPath(const wchar_t* extension) { return std::wstring(L"Media Type\\Extensions\\") + extension; }

LONG SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// 0: the value is absent; 1: it holds another type; 2: a string, in *text.
int ReadValueAsString(HKEY key, const std::wstring& name, std::wstring* text) {
  DWORD type = 0, size = 0;
  if (RegQueryValueEx(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
  if (type != REG_SZ) return 1;
  std::wstring chars(size / sizeof(WCHAR) + 1, L'\0');
  if (RegQueryValueEx(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(chars.data()), &size) !=
      ERROR_SUCCESS) {
    return 1;
  }
  chars.resize(std::wcslen(chars.c_str()));
  *text = std::move(chars);
  return 2;
}

// A string already stored keeps its name; otherwise it takes the first name
// that is unused or holds something other than a string.
void StorePattern(HKEY key, const std::wstring& pattern) {
  std::wstring freeName;
  for (DWORD n = 0; n < kMaxPatternNames; ++n) {
    const std::wstring name = std::to_wstring(n);
    std::wstring stored;
    const int kind = ReadValueAsString(key, name, &stored);
    if (kind == 2 && stored == pattern) return;
    if (kind != 2 && freeName.empty()) freeName = name;
    if (kind == 0) break;
  }
  if (!freeName.empty()) RegSetString(key, freeName.c_str(), pattern);
}

void RegisterCheckBytes() {
  HKEY key = nullptr;
  DWORD disposition = 0;
  const std::wstring path = MediaTypeKeyPath(kSubtypeViso);
  if (RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition) !=
      ERROR_SUCCESS) {
    return;
  }
  DWORD count = 1;
  if (disposition != REG_CREATED_NEW_KEY) {
    DWORD stored = 0, type = 0, size = sizeof stored;
    const bool valid = RegQueryValueEx(key, L"Usage Count", nullptr, &type, reinterpret_cast<BYTE*>(&stored),
                                       &size) == ERROR_SUCCESS &&
                       size == sizeof stored;
    count = (valid ? stored : 1) + 1;
  }
  SetDword(key, L"Usage Count", count);
  RegSetString(key, L"Source Filter", GuidToWideString(CLSID_AsyncReader));
  for (uint32_t code : kFirstBoxTypes) {
    wchar_t pattern[32];
    std::swprintf(pattern, std::size(pattern), L"4,4,,%02x%02x%02x%02x", code >> 24, (code >> 16) & 0xFF,
                  (code >> 8) & 0xFF, code & 0xFF);
    StorePattern(key, pattern);
  }
  RegCloseKey(key);
}

bool IsDecimalName(const wchar_t* name, DWORD* value) {
  if (*name == L'\0' || std::wcslen(name) > 9) return false;
  DWORD number = 0;
  for (const wchar_t* c = name; *c != L'\0'; ++c) {
    if (*c < L'0' || *c > L'9') return false;
    number = number * 10 + static_cast<DWORD>(*c - L'0');
  }
  *value = number;
  return true;
}

void SetListValue(const wchar_t* path, const std::wstring& name, const wchar_t* text) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  RegSetString(key, name.c_str(), text);
  RegCloseKey(key);
}

// The media player's lists get the row only when they exist and do not
// hold its pattern yet, under the number after the largest one in use.
void AddToMediaPlayerLists(const ExtensionRow& row) {
  HKEY types = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kTypesPath, 0, KEY_ALL_ACCESS, &types) != ERROR_SUCCESS) return;
  DWORD largest = 0;
  bool listed = false;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kListEntryChars];
    DWORD nameLength = kListEntryChars;
    wchar_t data[kListEntryChars] = {};
    DWORD size = sizeof data - sizeof(WCHAR);
    DWORD type = 0;
    const LONG hr = RegEnumValue(types, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (hr == ERROR_NO_MORE_ITEMS || (hr != ERROR_SUCCESS && hr != ERROR_MORE_DATA)) break;
    if (hr != ERROR_SUCCESS) continue;
    DWORD number = 0;
    if (IsDecimalName(name, &number)) largest = std::max(largest, number);
    if (type == REG_SZ && std::wstring(data) == row.pattern) listed = true;
  }
  if (!listed) {
    const std::wstring name = std::to_wstring(largest + 1);
    RegSetString(types, name.c_str(), row.pattern);
    SetListValue(kDescriptionsPath, name, row.longDescription);
    SetListValue(kMuiDescriptionsPath, name, row.shortDescription);
  }
  RegCloseKey(types);
}

void RegisterExtension(const ExtensionRow& row, REFGUID subtype) {
  HKEY key = nullptr;
  if (RegCreateKeyEx(HKEY_CLASSES_ROOT, ExtensionKeyPath(row.extension).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                     &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  const bool written = RegSetString(key, L"Source Filter", GuidToWideString(CLSID_AsyncReader)) == ERROR_SUCCESS &&
                       RegSetString(key, L"Media Type", GuidToWideString(MEDIATYPE_Stream)) == ERROR_SUCCESS &&
                       RegSetString(key, L"Subtype", GuidToWideString(subtype)) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (!written) return;

  AddToMediaPlayerLists(row);

  HKEY wmPlayer = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kWmPlayerExtensionsPath, 0, KEY_ALL_ACCESS, &wmPlayer) == ERROR_SUCCESS) {
    HKEY entry = nullptr;
    if (RegCreateKeyEx(wmPlayer, row.extension, 0, nullptr, 0, KEY_WRITE, nullptr, &entry, nullptr) ==
        ERROR_SUCCESS) {
      SetDword(entry, L"Runtime", kWmPlayerRuntime);
      SetDword(entry, L"Permissions", kWmPlayerPermissions);
      RegCloseKey(entry);
    }
    RegCloseKey(wmPlayer);
  }

  HKEY thumbnail = nullptr;
  const std::wstring shellEx = std::wstring(row.extension) + kThumbnailShellEx;
  if (RegCreateKeyEx(HKEY_CLASSES_ROOT, shellEx.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &thumbnail, nullptr) ==
      ERROR_SUCCESS) {
    RegSetString(thumbnail, nullptr, kVideoThumbnailExtractor);
    RegCloseKey(thumbnail);
  }
}

// The registered module when it is another file that exists. Files are
// compared by identity: the same module reached by another path (a link,
// a different spelling) is still this one.
bool OtherRegisteredCopy(REFCLSID clsid, const std::string& modulePath, std::string* other) {
  std::wstring registered;
  if (!RegisteredServerPath(clsid, &registered)) return false;
  *other = Utf8FromWide(registered);
  struct stat theirs {}, ours {};
  if (::stat(other->c_str(), &theirs) != 0) return false;
  if (::stat(modulePath.c_str(), &ours) == 0 && ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino) {
    return false;
  }
  return true;
}

bool IsNewerThanThis(const std::string& path) {
  WORD theirs[4] = {};
  if (!ReadModuleVersion(path, theirs)) return false;
  WORD ours[4] = {};
  IsodmxModuleVersion(ours);
  return std::lexicographical_compare(ours, ours + 4, theirs, theirs + 4);
}

}  // namespace

bool ReadModuleVersion(const std::string& path, WORD version[4]) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return false;
  using VersionFunction = void (*)(WORD[4]);
  const auto read = reinterpret_cast<VersionFunction>(::dlsym(handle, kModuleVersionSymbol));
  if (read != nullptr) read(version);
  ::dlclose(handle);
  return read != nullptr;
}

HRESULT RegisterModule(const CFactoryTemplate* templates, int count, const std::string& modulePath) {
  std::string other;
  if (count > 0 && OtherRegisteredCopy(*templates[0].m_ClsID, modulePath, &other) && IsNewerThanThis(other)) {
    return S_OK;
  }
  const std::wstring widePath = WideFromUtf8(modulePath);
  CRegistryTransaction transaction;
  for (int i = 0; i < count; ++i) {
    RETURN_IF_FAILED(AMovieSetupRegisterServer(*templates[i].m_ClsID, templates[i].m_Name, widePath));
    if (templates[i].m_pAMovieSetup_Filter != nullptr) {
      RETURN_IF_FAILED(AMovieSetupRegisterFilter2(templates[i].m_pAMovieSetup_Filter, TRUE));
    }
  }
  RegisterCheckBytes();
  for (size_t row = 0; row < std::size(kExtensionRows); ++row) {
    RegisterExtension(kExtensionRows[row], row < kVisoRows ? kSubtypeViso : kSubtypeVism);
  }
  // Nothing above is on disk until here: a file that cannot be written
  // means nothing was registered.
  return HResultFromRegistry(transaction.Commit());
}

HRESULT UnregisterModule(const CFactoryTemplate* templates, int count, const std::string& modulePath) {
  std::string other;
  if (count > 0 && OtherRegisteredCopy(*templates[0].m_ClsID, modulePath, &other)) return S_OK;
  CRegistryTransaction transaction;
  RegDeleteTree(HKEY_CLASSES_ROOT, MediaTypeKeyPath(kSubtypeViso).c_str());
  for (size_t row = 0; row < kVisoRows; ++row) {
    RegDeleteTree(HKEY_CLASSES_ROOT, ExtensionKeyPath(kExtensionRows[row].extension).c_str());
    RegDeleteTree(HKEY_CLASSES_ROOT, kExtensionRows[row].extension);
  }
  const ExtensionRow& manifest = kExtensionRows[kVisoRows];
  RegDeleteTree(HKEY_CLASSES_ROOT, MediaTypeKeyPath(kSubtypeVism).c_str());
  RegDeleteTree(HKEY_CLASSES_ROOT, ExtensionKeyPath(manifest.extension).c_str());
  RegDeleteTree(HKEY_CLASSES_ROOT, manifest.extension);
  RegDeleteTree(HKEY_LOCAL_MACHINE, kSettingsPath);
  RegDeleteTree(HKEY_CURRENT_USER, kSettingsPath);
  for (int i = 0; i < count; ++i) {
    if (templates[i].m_pAMovieSetup_Filter != nullptr) {
      AMovieSetupRegisterFilter2(templates[i].m_pAMovieSetup_Filter, FALSE);
    }
    AMovieSetupUnregisterServer(*templates[i].m_ClsID);
  }
  return S_OK;
}
