#include "tool_common.h"

#include "command_table.h"

#include "platform/file_byte_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kFileScheme[] = "file://";

bool ParseCount(const std::string& text, LONGLONG minimum, LONGLONG* value) {
  if (text.empty() || text.size() > 18) return false;
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 10);
  return end != nullptr && *end == '\0' && *value >= minimum;
}

bool ValueAllowed(ValueKind kind, const std::string& text) {
  double number = 0;
  LONGLONG count = 0;
  switch (kind) {
    case ValueKind::kPosition:
      return ParseDecimal(text, &number) && number >= 0;
    case ValueKind::kRate:
      return ParseDecimal(text, &number) && std::fabs(number) >= kMinRateMagnitude &&
             std::fabs(number) <= kMaxRateMagnitude;
    case ValueKind::kPinNumber:
      return ParseCount(text, 1, &count);
    case ValueKind::kIndex:
      return ParseCount(text, 0, &count);
    case ValueKind::kFolder:
      return !text.empty();
    case ValueKind::kFlag:
      break;
  }
  return false;
}

std::string OptionList(const CommandSpec& command) {
  std::string list;
  const auto add = [&](const char* name) { list += (list.empty() ? "" : ", ") + std::string(name); };
  for (const char* name : command.options) add(name);
  for (const char* name : command.required) add(name);
  return list.empty() ? "no options" : list;
}

size_t MaxOperands(const CommandSpec& command) { return *command.operands == '\0' ? 0 : 1; }
size_t MinOperands(const CommandSpec& command) { return command.operands[0] == '\0' || command.operands[0] == '[' ? 0 : 1; }

}  // namespace

bool ToolArguments::Has(const std::string& flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

bool ParseDecimal(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end != nullptr && *end == '\0' && std::isfinite(*value);
}

bool ParseToolArguments(int argc, char** argv, const char* commandName, ToolArguments* out) {
  *out = ToolArguments{};
  const CommandSpec& command = *FindCommand(commandName);
  const auto usage = [&](const std::string& message) {
    PrintUsageError(command.name, message);
    return false;
  };
  for (int i = 0; i < argc; ++i) {
    std::string argument = argv[i];
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
    const OptionSpec* option = FindOption(argument);
    if (option == nullptr || !TakesOption(command, argument)) {
      return usage("unknown option " + argument + "; " + command.name + " takes " + OptionList(command));
    }
    if (option->kind == ValueKind::kFlag) {
      if (inlineValue) return usage(argument + " takes no value");
      if (argument == "--json") out->json = true;
      out->flags.push_back(argument);
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) return usage(argument + " needs a value: " + AllowedValues(option->kind));
      value = argv[++i];
    }
    if (!ValueAllowed(option->kind, value)) {
      return usage(argument + " " + value + ": not allowed; " + option->value + " is " + AllowedValues(option->kind));
    }
    out->values[argument] = value;
  }
  for (const char* required : command.required) {
    if (out->values.count(required) == 0) {
      return usage(std::string("needs ") + required + " " + FindOption(required)->value + ": " +
                   AllowedValues(FindOption(required)->kind));
    }
  }
  if (out->positional.size() < MinOperands(command) || out->positional.size() > MaxOperands(command)) {
    return usage(MaxOperands(command) == 0 ? std::string("takes no operands")
                                           : std::string("expected one ") + command.operands + ", got " +
                                                 std::to_string(out->positional.size()));
  }
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
