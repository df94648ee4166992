// Reports a version above any this project will reach.
#include "platform/wintypes.h"

extern "C" __attribute__((visibility("default"))) void IsodmxModuleVersion(WORD version[4]) {
  version[0] = 0x7FFF;
  version[1] = 0;
  version[2] = 0;
  version[3] = 0;
}
