#include "tool_common.h"

#include "platform/file_byte_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kFileScheme[] = "file://";

bool Named(std::initializer_list<const char*> names, const std::string& name) {
  return std::any_of(names.begin(), names.end(), [&](const char* candidate) { return name == candidate; });
}

bool UsageError(const char* usage, const std::string& message) {
  std::fprintf(stderr, "isodmx: %s\nusage: isodmx %s\n", message.c_str(), usage);
  return false;
}

}  // namespace

bool ToolArguments::Has(const std::string& flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

bool ParseToolArguments(int argc, char** argv, const char* usage, std::initializer_list<const char*> flags,
                        std::initializer_list<const char*> valued, ToolArguments* out) {
  *out = ToolArguments{};
  for (int i = 0; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--json") {
      out->json = true;
      continue;
    }
    if (argument.size() < 2 || argument[0] != '-') {
      out->positional.push_back(argument);
      continue;
    }
    std::string value;
    const size_t equals = argument.find('=');
    const bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = argument.substr(equals + 1);
      argument.resize(equals);
    }
    if (Named(flags, argument) && !inlineValue) {
      out->flags.push_back(argument);
    } else if (Named(valued, argument)) {
      if (!inlineValue) {
        if (i + 1 >= argc) return UsageError(usage, argument + " needs a value");
        value = argv[++i];
      }
      out->values[argument] = value;
    } else {
      return UsageError(usage, "unknown option '" + argument + "'");
    }
  }
  if (out->positional.size() != 1) return UsageError(usage, "expected one INPUT");
  return true;
}

std::string LocalPathOf(const std::string& input) {
  const size_t schemeLength = std::strlen(kFileScheme);
  if (input.compare(0, schemeLength, kFileScheme) == 0) return input.substr(schemeLength);
  return input;
}

std::string HResultHex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(hr));
  return text;
}

void PrintFailure(const char* command, HRESULT hr) {
  // What the command printed comes first when both streams share a pipe.
  std::fflush(stdout);
  std::fprintf(stderr, "isodmx %s: %s\n", command, HResultText(hr).c_str());
}
