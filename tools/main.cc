// isodmx: the command-line tool. Each command lives in its own file and is
// listed in the command table.
#include "command_table.h"
#include "tool_common.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsHelp(const char* argument) { return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintToolHelp(stderr);
    return 2;
  }
  const char* first = argv[1];
  if (IsHelp(first) || (std::strcmp(first, "help") == 0 && argc == 2)) {
    PrintToolHelp(stdout);
    return 0;
  }
  if (std::strcmp(first, "--version") == 0) {
    PrintVersion(stdout);
    return 0;
  }
  if (std::strcmp(first, "help") == 0) {
    const CommandSpec* command = FindCommand(argv[2]);
    if (command == nullptr) return PrintUsageError("help", std::string("unknown command '") + argv[2] + "'");
    PrintCommandHelp(*command, stdout);
    return 0;
  }
  const CommandSpec* command = FindCommand(first);
  if (command == nullptr) return PrintUsageError(nullptr, std::string("unknown command '") + first + "'");
  for (int i = 2; i < argc; ++i) {
    if (IsHelp(argv[i])) {
      PrintCommandHelp(*command, stdout);
      return 0;
    }
  }
  if (command->run == nullptr) return PrintUsageError(command->name, "not available in this build");
  return command->run(argc - 2, argv + 2);
}
