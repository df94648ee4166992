#include "support/temporary_registry.h"

#include "daredo/dar_edo.h"
#include "daredo/module_entry.h"
#include "platform/class_table.h"
#include "platform/dll_setup.h"
#include "platform/filter_graph.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>

namespace {

using isotest::TemporaryRegistry;

constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const std::wstring kVisoKey = L"Media Type\\{E436EB83-524F-11CE-9F53-0020AF0BA770}\\" +
                              GuidToWideString(FourCCSubtype(FourCC("VISO")));

// A copy of the module in another folder, loaded as a registered server
// would be, with its entry points.
struct ModuleCopy {
  explicit ModuleCopy(const std::string& path) : handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    EXPECT_NE(handle, nullptr) << ::dlerror();
  }
  ~ModuleCopy() {
    if (handle != nullptr) ::dlclose(handle);
  }
  template <class F>
  F Entry(const char* name) const {
    return handle != nullptr ? reinterpret_cast<F>(::dlsym(handle, name)) : nullptr;
  }
  HRESULT Register() const { return Entry<LPFNREGISTERSERVER>("DllRegisterServer")(); }
  HRESULT Unregister() const { return Entry<LPFNREGISTERSERVER>("DllUnregisterServer")(); }
  void* handle;
};

std::wstring ReadText(HKEY root, const std::wstring& path, const std::wstring& name) {
  std::wstring text;
  RegReadString(root, path, name, &text);
  return text;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  wchar_t name[64];
  DWORD length = 64;
  for (DWORD i = 0; RegEnumValue(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
    names.emplace_back(name);
    length = 64;
  }
  RegCloseKey(key);
  return names;
}

DWORD UsageCount() {
  HKEY key = nullptr;
  DWORD count = 0, size = sizeof count;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, kVisoKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  RegQueryValueEx(key, L"Usage Count", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
  RegCloseKey(key);
  return count;
}

void WriteText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetString(key, name, text);
  RegCloseKey(key);
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

const std::wstring kServerKey = L"CLSID\\" + GuidToWideString(CLSID_DarEdo) + L"\\InprocServer32";

TEST(RegistrationTest, RegisteringTwiceKeepsOnePatternSetAndCountsBoth) {
  TemporaryRegistry registry;
  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(UsageCount(), 2u);
  EXPECT_EQ(ValueNames(HKEY_CLASSES_ROOT, kVisoKey),
            (std::vector<std::wstring>{L"Usage Count", L"Source Filter", L"0", L"1", L"2", L"3"}));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kVisoKey, L"3"), L"4,4,,6a502020");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kServerKey, L""), Wide(ThisModulePath()));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kServerKey, L"ThreadingModel"), L"Both");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L"Media Type\\Extensions\\.ism", L"Subtype"),
            GuidToWideString(FourCCSubtype(FourCC("VISM"))));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L".mj2\\ShellEx\\{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}", L""),
            L"{c5a40261-cd64-4ccf-84cb-c394da41d590}");
}

// Another copy's registration is left alone: a newer one's until its file
// is gone, any copy's by an unregistration from this one.
TEST(RegistrationTest, AnotherCopysRegistrationIsLeftAloneWhileItExists) {
  TemporaryRegistry registry;
  const std::string newer = registry.CopyIn(ISODMX_NEWER_MODULE, "newer.so");
  WriteText(HKEY_CLASSES_ROOT, kServerKey, nullptr, Wide(newer));
  std::string before = registry.Text();
  EXPECT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(registry.Text(), before);
  std::filesystem::remove(newer);
  EXPECT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kServerKey, L""), Wide(ThisModulePath()));
  EXPECT_EQ(UsageCount(), 1u);

  TemporaryRegistry other;
  const ModuleCopy copy(other.CopyIn(ISODMX_MODULE, "copy.so"));
  ASSERT_EQ(copy.Register(), S_OK);
  before = other.Text();
  EXPECT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(other.Text(), before);
  EXPECT_EQ(copy.Unregister(), S_OK);
  EXPECT_TRUE(ReadText(HKEY_CLASSES_ROOT, kServerKey, L"").empty());
}

TEST(RegistrationTest, UnregisteringDeletesWholeKeysWithOtherSoftwaresEntries) {
  TemporaryRegistry registry;
  ASSERT_EQ(DllRegisterServer(), S_OK);
  WriteText(HKEY_CLASSES_ROOT, L".mp4\\OpenWithProgids", L"OtherPlayer.mp4", L"");
  WriteText(HKEY_CLASSES_ROOT, L"Media Type\\Extensions\\.ism", L"Other", L"x");
  WriteText(HKEY_CURRENT_USER, L"SOFTWARE\\Verdant Media Works\\DShow\\Filters\\VMDarEdo\\Sub", L"Setting", L"1");
  WriteText(HKEY_CLASSES_ROOT, L".txt", L"", L"unrelated");
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  for (const wchar_t* gone : {L".mp4", L"Media Type\\Extensions\\.ism", L"CLSID\\{D4E5A1B2-7C3F-4E8A-9B61-2F0C8D3E5A74}",
                              kVisoKey.c_str()}) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, gone, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND) << gone;
  }
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, L"SOFTWARE\\Verdant Media Works\\DShow\\Filters\\VMDarEdo", 0, KEY_READ,
                         &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, L".txt", L""), L"unrelated");
}

TEST(RegistrationTest, MediaPlayerListsGetEachNewPatternAfterTheLargestNumber) {
  const std::wstring types = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types";
  const std::wstring descriptions = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Descriptions";
  TemporaryRegistry registry;
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_TRUE(ValueNames(HKEY_LOCAL_MACHINE, types).empty()) << "no list, no entries";

  TemporaryRegistry listed;
  WriteText(HKEY_LOCAL_MACHINE, types, L"7", L"*.mp4");
  WriteText(HKEY_LOCAL_MACHINE, types, L"x", L"*.wmv");
  WriteText(HKEY_LOCAL_MACHINE, descriptions, L"7", L"theirs");
  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::vector<std::wstring> names = ValueNames(HKEY_LOCAL_MACHINE, types);
  ASSERT_EQ(names.size(), 13u) << "eleven new patterns, once each";
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, types, L"8"), L"*.avc");
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, types, L"18"), L"*.ism");
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, descriptions, L"8"), L"AVC/H.264 Format (*.avc)");
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, descriptions, L"7"), L"theirs");
}

TEST(ClassFactoryTest, EntryPointResults) {
  const CLSID other = FourCCSubtype(FourCC("none"));
  const struct {
    const CLSID* clsid;
    const IID* iid;
    HRESULT result;
  } kCases[] = {
      {&CLSID_DarEdo, &IID_IClassFactory, S_OK},
      {&CLSID_DarEdo, &IID_IUnknown, S_OK},
      {&CLSID_DarEdo, &IID_IDispatch, E_NOINTERFACE},
      {&other, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
  };
  for (const auto& c : kCases) {
    void* out = &out;
    EXPECT_EQ(DllGetClassObject(*c.clsid, *c.iid, &out), c.result);
    EXPECT_EQ(out == nullptr, FAILED(c.result)) << "out is cleared first";
    if (out != nullptr) static_cast<IUnknown*>(out)->Release();
  }

  // A copy of its own has no objects alive but those made here.
  TemporaryRegistry registry;
  const ModuleCopy copy(registry.CopyIn(ISODMX_MODULE, "copy.so"));
  const auto canUnload = copy.Entry<LPFNCANUNLOADNOW>("DllCanUnloadNow");
  const auto getClassObject = copy.Entry<LPFNGETCLASSOBJECT>("DllGetClassObject");
  ASSERT_EQ(canUnload(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(CLSID_DarEdo, IID_IClassFactory, factory.PutVoid()), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE) << "the factory is alive";
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, filter.PutVoid()), S_OK);
  ComPtr<IUnknown> aggregated;
  EXPECT_EQ(factory->CreateInstance(filter.Get(), IID_IBaseFilter, aggregated.PutVoid()), E_NOINTERFACE);
  factory->LockServer(TRUE);
  factory.Reset();
  filter.Reset();
  EXPECT_EQ(canUnload(), S_FALSE) << "the server is locked";
  ASSERT_EQ(getClassObject(CLSID_DarEdo, IID_IClassFactory, factory.PutVoid()), S_OK);
  factory->LockServer(FALSE);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_OK);
}

TEST(RegistrationTest, RenderFileLoadsTheRegisteredCopyAndPlaysByCheckBytes) {
  TemporaryRegistry registry;
  const std::string module = registry.CopyIn(ISODMX_MODULE, "libisodmx_filter.so");
  // No ".mp4": only the check bytes say what it is.
  const std::string clip = registry.CopyIn(std::string(ISODMX_SAMPLES) + "/sample.mp4", "clip.bin");
  {
    const ModuleCopy copy(module);
    ASSERT_EQ(copy.Register(), S_OK);
  }
  {
    ComPtr<IMediaControl> control;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaControl,
                               control.PutVoid()),
              S_OK);
    std::wstring name = Wide(clip);
    ASSERT_EQ(control->RenderFile(name.data()), S_OK);
    ComPtr<IFilterGraph> graph;
    ASSERT_EQ(control.As(IID_IFilterGraph, graph), S_OK);
    ComPtr<IBaseFilter> demux;
    ASSERT_EQ(graph->FindFilterByName(kDarEdoName, demux.Put()), S_OK);
    EXPECT_EQ(ClassModulePath(CLSID_DarEdo), std::filesystem::canonical(module).string());
    // The filter's code, not just its factory, is the copy's.
    EXPECT_EQ(ModulePathOfAddress(*reinterpret_cast<void**>(demux.Get())), ClassModulePath(CLSID_DarEdo));

    ComPtr<IMediaEventEx> events;
    ASSERT_EQ(control.As(IID_IMediaEventEx, events), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    LONG code = 0;
    EXPECT_EQ(events->WaitForCompletion(60000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    control->Stop();
    // The filters hold references to each other through their connections.
    ComPtr<IEnumFilters> filters;
    std::vector<ComPtr<IBaseFilter>> all;
    graph->EnumFilters(filters.Put());
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) all.push_back(ComPtr<IBaseFilter>::Attach(filter));
    for (const auto& each : all) graph->RemoveFilter(each.Get());
  }
  CoFreeUnusedLibraries();
}

}  // namespace
