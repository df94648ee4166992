// isodmx register [MODULE] / isodmx unregister [MODULE]: runs a module's
// DllRegisterServer or DllUnregisterServer (by default the module this tool
// runs with) and says what the registry holds afterwards.
#include "commands.h"
#include "tool_common.h"

#include "daredo/dar_edo.h"
#include "daredo/module_entry.h"
#include "platform/class_table.h"
#include "platform/code_page.h"
#include "platform/dll_setup.h"
#include "platform/registry.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

std::string RegisteredModule() {
  std::wstring path;
  if (!RegisteredServerPath(CLSID_DarEdo, &path)) return {};
  return Utf8FromWide(path);
}

// A registry file that does not parse is named with its line.
void PrintRegistryProblem(const char* command) {
  HKEY probe = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, L"", 0, KEY_READ, &probe) == ERROR_SUCCESS) {
    RegCloseKey(probe);
    return;
  }
  std::fprintf(stderr, "isodmx %s: %s\n", command, RegistryFileError().c_str());
}

int RunEntryPoint(int argc, char** argv, bool doRegister) {
  const char* command = doRegister ? "register" : "unregister";
  ToolArguments arguments;
  if (!ParseToolArguments(argc, argv, command, &arguments)) return kExitUsage;
  std::string module = ThisModulePath();
  if (!arguments.positional.empty()) {
    char* resolved = ::realpath(arguments.positional.front().c_str(), nullptr);
    if (resolved == nullptr) {
      PrintFailure(command, arguments.positional.front(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
      return kExitFailure;
    }
    module = resolved;
    std::free(resolved);
  }
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* symbol = doRegister ? "DllRegisterServer" : "DllUnregisterServer";
  const auto entry = handle != nullptr ? reinterpret_cast<LPFNREGISTERSERVER>(::dlsym(handle, symbol)) : nullptr;
  if (entry == nullptr) {
    std::fprintf(stderr, "isodmx %s: %s: not a module (%s)\n", command, module.c_str(),
                 handle == nullptr ? ::dlerror() : "no entry point");
    if (handle != nullptr) ::dlclose(handle);
    return kExitFailure;
  }
  const HRESULT hr = entry();
  ::dlclose(handle);
  if (FAILED(hr)) {
    PrintFailure(command, module, hr);
    PrintRegistryProblem(command);
    return kExitFailure;
  }
  const std::string registered = RegisteredModule();
  if (doRegister && !SameFile(registered, module)) {
    std::printf("not registered: a newer copy is registered: %s\n", registered.c_str());
  } else if (doRegister) {
    std::printf("registered %s\n", module.c_str());
  } else if (!registered.empty()) {
    std::printf("not unregistered: another copy is registered: %s\n", registered.c_str());
  } else {
    std::printf("unregistered %s\n", module.c_str());
  }
  std::printf("registry: %s\n", RegistryFilePath().c_str());
  return kExitSuccess;
}

}  // namespace

int RunRegisterCommand(int argc, char** argv) { return RunEntryPoint(argc, argv, true); }

int RunUnregisterCommand(int argc, char** argv) { return RunEntryPoint(argc, argv, false); }
