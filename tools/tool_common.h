// What every command of the tool shares: its arguments and opening an input.
#pragma once

#include "failure_report.h"

#include "platform/async_reader.h"

#include <map>
#include <string>
#include <vector>

struct ToolArguments {
  bool json = false;
  // Flags that were given ("--frames").
  std::vector<std::string> flags;
  // Options with a value ("--start" -> "12.5"), each checked against what
  // its kind allows.
  std::map<std::string, std::string> values;
  std::vector<std::string> positional;

  bool Has(const std::string& flag) const;
};

// Parses the arguments of `command` (a name in the command table): its
// flags and valued options, as "--name value" or "--name=value", and its
// operands. On a usage error prints one line naming the option and what it
// allows, and returns false (the command exits with kExitUsage).
bool ParseToolArguments(int argc, char** argv, const char* command, ToolArguments* out);

// A decimal number, all of the text, finite.
bool ParseDecimal(const std::string& text, double* value);

// The local path of a path or "file://" location.
std::string LocalPathOf(const std::string& input);

// Opens INPUT as a byte source (*out holds one reference).
HRESULT OpenInput(const std::string& input, IAsyncReader** out);

// "0x%08X", as the JSON documents show results.
std::string HResultHex(HRESULT hr);
