// The tool's commands and options as tables. Dispatch, help and argument
// checking all read them, so a command or an option is one entry here.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>

// What an option's value may be; the argument parser checks it.
enum class ValueKind {
  kFlag,       // no value
  kPosition,   // seconds from 0, or a frame number from 0 with --frames
  kRate,       // a non-zero decimal within the tool's rate range
  kPinNumber,  // an output pin number from 1
  kIndex,      // a 0-based index
  kFolder,     // a folder path
};

struct OptionSpec {
  const char* name;   // "--start"
  const char* value;  // "T"; nullptr for a flag
  ValueKind kind;
  const char* help;
};

struct CommandSpec {
  const char* name;
  // Takes the arguments after the command's name; returns the exit status.
  // nullptr for a command this build does not carry.
  int (*run)(int argc, char** argv);
  std::span<const char* const> options;
  // Options the command cannot do without ("-o" of extract).
  std::span<const char* const> required;
  // The positional arguments: "INPUT", "[MODULE]", or "" for none.
  const char* operands;
  const char* summary;
  const char* example;
};

// The rates the tool lets through to the filter. Stream times are divided by
// the rate: beyond these, times collapse to 0 or overflow on long inputs.
inline constexpr double kMinRateMagnitude = 0.001;
inline constexpr double kMaxRateMagnitude = 1000.0;

std::span<const CommandSpec> Commands();
const CommandSpec* FindCommand(std::string_view name);
const OptionSpec* FindOption(std::string_view name);
bool TakesOption(const CommandSpec& command, std::string_view option);
bool RequiresOption(const CommandSpec& command, std::string_view option);

// "play [--json] [--start T] ... INPUT".
std::string UsageLine(const CommandSpec& command);
// What a value of this kind may be, in words ("a time in seconds from 0 ...").
const char* AllowedValues(ValueKind kind);

void PrintToolHelp(FILE* to);
void PrintCommandHelp(const CommandSpec& command, FILE* to);
void PrintVersion(FILE* to);
