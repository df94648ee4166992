// isodmx: the command-line tool. Each command lives in its own file and is
// listed in the table below.
#include "commands.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* usage;
};

constexpr Command kCommands[] = {
    {"boxes", RunBoxesCommand, "boxes [--json] INPUT"},
    {"samples", RunSamplesCommand, "samples [--json] INPUT"},
    {"info", RunInfoCommand, "info [--json] INPUT"},
    {"play", RunPlayCommand, "play [--json] [--start T] [--stop T] [--rate R] [--frames] INPUT"},
    {"dump", RunDumpCommand, "dump [--json] [--pin N] [--start T] [--stop T] [--rate R] [--frames] INPUT"},
    {"extract", RunExtractCommand, "extract [--start T] [--stop T] [--rate R] [--frames] INPUT -o DIR"},
    {"register", RunRegisterCommand, "register [MODULE]"},
    {"unregister", RunUnregisterCommand, "unregister [MODULE]"},
    {"registry", RunRegistryCommand, "registry [--json]"},
};

void PrintUsage(FILE* to) {
  std::fprintf(to, "usage: isodmx COMMAND [OPTIONS] INPUT\ncommands:\n");
  for (const Command& command : kCommands) std::fprintf(to, "  isodmx %s\n", command.usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "isodmx: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
