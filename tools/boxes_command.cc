#include "commands.h"

#include <cstdio>

int RunBoxesCommand(int, char**) {
  std::fprintf(stderr, "isodmx boxes: not built yet\n");
  return 1;
}
