#include "command_table.h"

#include "commands.h"

#include "daredo/module_version.h"

#include <algorithm>
#include <array>

namespace {

constexpr OptionSpec kOptions[] = {
    {"--json", nullptr, ValueKind::kFlag, "print one JSON document instead of text"},
    {"--start", "T", ValueKind::kPosition, "start at T seconds (at frame T with --frames)"},
    {"--stop", "T", ValueKind::kPosition, "stop at T seconds (at frame T with --frames)"},
    {"--rate", "R", ValueKind::kRate, "play at rate R, negative for reverse (video key frames backwards)"},
    {"--frames", nullptr, ValueKind::kFlag, "T is a 0-based video frame number instead of seconds"},
    {"--media-type", "N", ValueKind::kIndex, "each pin's sink accepts only the pin's media type N (from 0)"},
    {"--pin", "N", ValueKind::kPinNumber, "show output pin N only (1 for \"Output 01\")"},
    {"-o", "DIR", ValueKind::kFolder, "write each pin's bytes to DIR/outputNN.bin (DIR is created)"},
};

constexpr std::array<const char*, 1> kJsonOnly = {"--json"};
constexpr std::array<const char*, 0> kNone = {};
constexpr std::array<const char*, 6> kPlayOptions = {"--json", "--start", "--stop", "--rate", "--frames",
                                                     "--media-type"};
constexpr std::array<const char*, 7> kDumpOptions = {"--json",   "--pin",       "--start", "--stop",
                                                     "--rate",   "--frames",    "--media-type"};
constexpr std::array<const char*, 1> kOutputFolder = {"-o"};

constexpr CommandSpec kCommands[] = {
    {"boxes", RunBoxesCommand, kJsonOnly, kNone, "INPUT",
     "The box tree: type, offset, header and payload size of every box the parser walks; marks boxes "
     "that run past their parent or the input",
     "isodmx boxes clip.mp4"},
    {"samples", RunSamplesCommand, kJsonOnly, kNone, "INPUT",
     "Every track's samples as the delivery loop walks them, without the graph: offset, size, start "
     "and end in the track's media units, sync, count",
     "isodmx samples --json clip.mp4"},
    {"info", RunInfoCommand, kJsonOnly, kNone, "INPUT",
     "Connects the demultiplexer through the graph and shows each source, the movie header, every "
     "track with its sample entry, and each output pin's media types",
     "isodmx info clip.mp4"},
    {"play", RunPlayCommand, kPlayOptions, kNone, "INPUT",
     "Plays the input through the graph to its end and reports per output pin: samples, bytes, "
     "marks, first and last time, segments, end-of-stream; then the events, result and elapsed time",
     "isodmx play --start 1.5 --stop 2 clip.mp4"},
    {"dump", RunDumpCommand, kDumpOptions, kNone, "INPUT",
     "As play, with one row per delivered sample: stream and media times, sync, preroll, "
     "discontinuity, length, CRC-32 of the bytes",
     "isodmx dump --pin 1 clip.mp4"},
    {"extract", RunExtractCommand, kPlayOptions, kOutputFolder, "INPUT",
     "As play, writing each pin's delivered bytes to DIR/output01.bin, output02.bin ...",
     "isodmx extract clip.mp4 -o tracks"},
    {"register", RunRegisterCommand, kNone, kNone, "[MODULE]",
     "Registers the demultiplexer module (by default the one this tool uses) through its entry point",
     "isodmx register"},
    {"unregister", RunUnregisterCommand, kNone, kNone, "[MODULE]",
     "Removes the module's registration through its entry point", "isodmx unregister"},
    {"registry", RunRegistryCommand, kJsonOnly, kNone, "",
     "What is registered: the filter, its merit, media types, check bytes and extensions, and the "
     "registry file's path",
     "isodmx registry --json"},
};

std::string OptionWithValue(const OptionSpec& option) {
  return option.value != nullptr ? std::string(option.name) + " " + option.value : std::string(option.name);
}

bool Listed(std::span<const char* const> names, std::string_view name) {
  return std::any_of(names.begin(), names.end(), [&](const char* listed) { return name == listed; });
}

}  // namespace

std::span<const CommandSpec> Commands() { return kCommands; }

const CommandSpec* FindCommand(std::string_view name) {
  for (const CommandSpec& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

bool TakesOption(const CommandSpec& command, std::string_view option) {
  return Listed(command.options, option) || Listed(command.required, option);
}

bool RequiresOption(const CommandSpec& command, std::string_view option) { return Listed(command.required, option); }

std::string UsageLine(const CommandSpec& command) {
  std::string line = command.name;
  for (const char* name : command.options) line += " [" + OptionWithValue(*FindOption(name)) + "]";
  if (*command.operands != '\0') line += std::string(" ") + command.operands;
  for (const char* name : command.required) line += " " + OptionWithValue(*FindOption(name));
  return line;
}

const char* AllowedValues(ValueKind kind) {
  switch (kind) {
    case ValueKind::kPosition:
      return "a time in seconds from 0 such as 12.5, or a frame number from 0 with --frames";
    case ValueKind::kRate:
      return "a rate from 0.001 to 1000, negative for reverse, such as 2 or -1";
    case ValueKind::kPinNumber:
      return "an output pin number from 1";
    case ValueKind::kIndex:
      return "a number from 0";
    case ValueKind::kFolder:
      return "a folder path";
    case ValueKind::kFlag:
      break;
  }
  return "no value";
}

void PrintToolHelp(FILE* to) {
  std::fprintf(to,
               "usage: isodmx COMMAND [OPTIONS] INPUT\n"
               "       isodmx help COMMAND | isodmx COMMAND --help | isodmx --version\n\ncommands:\n");
  for (const CommandSpec& command : kCommands) std::fprintf(to, "  isodmx %s\n", UsageLine(command).c_str());
  std::fprintf(to,
               "\nINPUT is a file path, a file:// location, an http(s) or ftp URL, or a .ism manifest.\n"
               "Options take their value as --option VALUE or --option=VALUE.\n"
               "Exit status: 0 success, 1 the work failed, 2 a usage error.\n");
}

void PrintCommandHelp(const CommandSpec& command, FILE* to) {
  std::fprintf(to, "usage: isodmx %s\n\n%s.\n", UsageLine(command).c_str(), command.summary);
  if (!command.options.empty() || !command.required.empty()) std::fprintf(to, "\noptions:\n");
  const auto printOption = [&](const char* name) {
    const OptionSpec& option = *FindOption(name);
    std::fprintf(to, "  %-16s %s\n", OptionWithValue(option).c_str(), option.help);
  };
  for (const char* name : command.options) printOption(name);
  for (const char* name : command.required) printOption(name);
  std::fprintf(to, "\nexample:\n  %s\n", command.example);
}

void PrintVersion(FILE* to) {
  WORD module[4] = {};
  IsodmxModuleVersion(module);
  std::fprintf(to, "isodmx %s (module %u.%u.%u.%u)\n", ISODMX_VERSION, module[0], module[1], module[2], module[3]);
}
