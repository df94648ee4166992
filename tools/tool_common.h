// What every command of the tool shares: its arguments, opening an input,
// and reporting a result.
#pragma once

#include "platform/async_reader.h"

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

struct ToolArguments {
  bool json = false;
  // Flags named by the command that were given ("--frames").
  std::vector<std::string> flags;
  // Options with a value ("--start" -> "12.5").
  std::map<std::string, std::string> values;
  std::vector<std::string> positional;

  bool Has(const std::string& flag) const;
};

// Parses `--json`, the command's own flags and valued options (as
// "--name value" or "--name=value") and positional arguments. On a usage
// error prints it with `usage` to stderr and returns false.
bool ParseToolArguments(int argc, char** argv, const char* usage, std::initializer_list<const char*> flags,
                        std::initializer_list<const char*> valued, ToolArguments* out);

// The local path of a path or "file://" location.
std::string LocalPathOf(const std::string& input);

// Opens INPUT as a byte source (*out holds one reference).
HRESULT OpenInput(const std::string& input, IAsyncReader** out);

// "0x%08X", as the JSON documents show results.
std::string HResultHex(HRESULT hr);

// "isodmx COMMAND: 0x80004005 E_FAIL" on stderr.
void PrintFailure(const char* command, HRESULT hr);

// Exit status for a command's result.
inline int ExitStatusFor(HRESULT hr) { return hr >= 0 ? 0 : 1; }
