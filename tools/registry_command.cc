// isodmx registry [--json]: what the registry holds for this system: the
// demultiplexer's class and filter record (merit, pins, media types), the
// check bytes files are recognised by, and the file extensions.
#include "commands.h"
#include "graph_session.h"
#include "json_writer.h"
#include "tool_common.h"

#include "daredo/dar_edo.h"
#include "platform/code_page.h"
#include "platform/dll_setup.h"
#include "platform/filter_mapper.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/registry.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

struct CheckBytesEntry {
  GUID subtype;
  std::optional<DWORD> usageCount;
  std::string sourceFilter;
  std::vector<std::string> patterns;
};

struct ExtensionEntry {
  std::string extension;
  std::string majortype;
  std::string subtype;
  std::string sourceFilter;
};

struct RegistryReport {
  LONG result = ERROR_SUCCESS;
  std::optional<RegisteredFilter> filter;
  std::string module;
  std::vector<CheckBytesEntry> checkBytes;
  std::vector<ExtensionEntry> extensions;
};

std::string ReadString(HKEY key, const wchar_t* name) {
  std::wstring text;
  return RegReadString(key, L"", name, &text) ? Utf8FromWide(text) : std::string();
}

std::optional<CheckBytesEntry> ReadCheckBytes(REFGUID subtype) {
  const std::wstring path = L"Media Type\\" + GuidToWideString(MEDIATYPE_Stream) + L"\\" + GuidToWideString(subtype);
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  CheckBytesEntry entry{subtype, std::nullopt, ReadString(key, L"Source Filter"), {}};
  DWORD count = 0, type = 0, size = sizeof count;
  if (RegQueryValueEx(key, L"Usage Count", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof count) {
    entry.usageCount = count;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[64];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    wchar_t data[256] = {};
    DWORD dataSize = sizeof data - sizeof(WCHAR);
    const LONG hr = RegEnumValue(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
    if (hr == ERROR_NO_MORE_ITEMS || (hr != ERROR_SUCCESS && hr != ERROR_MORE_DATA)) break;
    if (hr == ERROR_SUCCESS && type == REG_SZ && std::wcsspn(name, L"0123456789") == std::wcslen(name) &&
        name[0] != L'\0') {
      entry.patterns.push_back(Utf8FromWide(data));
    }
  }
  RegCloseKey(key);
  return entry;
}

std::vector<ExtensionEntry> ReadExtensions() {
  std::vector<ExtensionEntry> entries;
  HKEY extensions = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, L"Media Type\\Extensions", 0, KEY_READ, &extensions) != ERROR_SUCCESS) {
    return entries;
  }
  const std::string ours[] = {GuidToString(FourCCSubtype(FourCC("VISO"))), GuidToString(FourCCSubtype(FourCC("VISM")))};
  for (const std::wstring& name : RegSubkeyNames(extensions)) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(extensions, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    ExtensionEntry entry{Utf8FromWide(name), ReadString(key, L"Media Type"), ReadString(key, L"Subtype"),
                         ReadString(key, L"Source Filter")};
    RegCloseKey(key);
    if (entry.subtype == ours[0] || entry.subtype == ours[1]) entries.push_back(std::move(entry));
  }
  RegCloseKey(extensions);
  return entries;
}

RegistryReport ReadReport() {
  RegistryReport report;
  HKEY probe = nullptr;
  report.result = RegOpenKeyEx(HKEY_CLASSES_ROOT, L"", 0, KEY_READ, &probe);
  if (report.result != ERROR_SUCCESS) return report;
  RegCloseKey(probe);
  for (RegisteredFilter& filter : ReadRegisteredFilters()) {
    if (filter.clsid == CLSID_DarEdo) report.filter = std::move(filter);
  }
  std::wstring module;
  if (RegisteredServerPath(CLSID_DarEdo, &module)) report.module = Utf8FromWide(module);
  for (const GUID& subtype : {FourCCSubtype(FourCC("VISO")), FourCCSubtype(FourCC("VISM"))}) {
    if (std::optional<CheckBytesEntry> entry = ReadCheckBytes(subtype)) report.checkBytes.push_back(std::move(*entry));
  }
  report.extensions = ReadExtensions();
  return report;
}

void PrintJson(const RegistryReport& report, HRESULT hr) {
  JsonWriter json;
  json.BeginObject();
  json.Key("registry").String(RegistryFilePath());
  json.Key("result").String(HResultHex(hr));
  json.Key("filter");
  if (report.filter) {
    const RegisteredFilter& filter = *report.filter;
    json.BeginObject();
    json.Key("clsid").String(GuidToString(filter.clsid));
    json.Key("name").String(Utf8FromWide(filter.name));
    json.Key("merit").UInt(filter.merit);
    json.Key("module").String(report.module);
    json.Key("pins").BeginArray();
    for (const RegisteredPin& pin : filter.pins) {
      json.BeginObject();
      json.Key("output").Bool((pin.flags & REG_PINFLAG_B_OUTPUT) != 0);
      json.Key("many").Bool((pin.flags & REG_PINFLAG_B_MANY) != 0);
      json.Key("mediaTypes").BeginArray();
      for (const RegisteredMediaType& type : pin.mediaTypes) {
        json.BeginObject();
        json.Key("majortype").String(GuidToString(type.majortype));
        json.Key("subtype").String(GuidToString(type.subtype));
        json.EndObject();
      }
      json.EndArray().EndObject();
    }
    json.EndArray().EndObject();
  } else {
    json.Null();
  }
  json.Key("checkBytes").BeginArray();
  for (const CheckBytesEntry& entry : report.checkBytes) {
    json.BeginObject();
    json.Key("majortype").String(GuidToString(MEDIATYPE_Stream));
    json.Key("subtype").String(GuidToString(entry.subtype));
    json.Key("usageCount");
    if (entry.usageCount) {
      json.UInt(*entry.usageCount);
    } else {
      json.Null();
    }
    json.Key("sourceFilter").String(entry.sourceFilter);
    json.Key("patterns").BeginArray();
    for (const std::string& pattern : entry.patterns) json.String(pattern);
    json.EndArray().EndObject();
  }
  json.EndArray();
  json.Key("extensions").BeginArray();
  for (const ExtensionEntry& entry : report.extensions) {
    json.BeginObject();
    json.Key("extension").String(entry.extension);
    json.Key("majortype").String(entry.majortype);
    json.Key("subtype").String(entry.subtype);
    json.Key("sourceFilter").String(entry.sourceFilter);
    json.EndObject();
  }
  json.EndArray().EndObject();
  std::printf("%s\n", json.Text().c_str());
}

void PrintText(const RegistryReport& report) {
  std::printf("registry: %s\n", RegistryFilePath().c_str());
  if (!report.filter) {
    std::printf("filter: not registered\n");
  } else {
    const RegisteredFilter& filter = *report.filter;
    std::printf("filter: %s %s merit=0x%08X\n  module: %s\n", Utf8FromWide(filter.name).c_str(),
                GuidToString(filter.clsid).c_str(), filter.merit, report.module.c_str());
    for (size_t p = 0; p < filter.pins.size(); ++p) {
      const RegisteredPin& pin = filter.pins[p];
      std::printf("  pin %zu: %s%s\n", p, (pin.flags & REG_PINFLAG_B_OUTPUT) != 0 ? "output" : "input",
                  (pin.flags & REG_PINFLAG_B_MANY) != 0 ? ", many" : "");
      for (const RegisteredMediaType& type : pin.mediaTypes) {
        std::printf("    %s %s\n", MajorTypeText(type.majortype).c_str(), SubtypeText(type.subtype).c_str());
      }
    }
  }
  for (const CheckBytesEntry& entry : report.checkBytes) {
    std::printf("check bytes %s: usage count %s\n", SubtypeText(entry.subtype).c_str(),
                entry.usageCount ? std::to_string(*entry.usageCount).c_str() : "none");
    for (const std::string& pattern : entry.patterns) std::printf("  %s\n", pattern.c_str());
  }
  for (const ExtensionEntry& entry : report.extensions) {
    const std::optional<GUID> subtype = GuidFromString(entry.subtype);
    std::printf("extension %s: %s\n", entry.extension.c_str(),
                subtype ? SubtypeText(*subtype).c_str() : entry.subtype.c_str());
  }
}

}  // namespace

int RunRegistryCommand(int argc, char** argv) {
  ToolArguments arguments;
  if (!ParseToolArguments(argc, argv, "registry", &arguments)) return kExitUsage;
  const bool json = arguments.json;
  const RegistryReport report = ReadReport();
  const HRESULT hr = report.result == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(report.result));
  if (json) {
    PrintJson(report, hr);
  } else if (SUCCEEDED(hr)) {
    PrintText(report);
  }
  if (FAILED(hr)) {
    PrintFailure("registry", RegistryFilePath(), hr);
    std::fprintf(stderr, "isodmx registry: %s\n", RegistryFileError().c_str());
  }
  return ExitStatusFor(hr);
}
