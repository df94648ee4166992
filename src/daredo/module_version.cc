#include "daredo/module_version.h"

extern "C" __attribute__((visibility("default"))) void IsodmxModuleVersion(WORD version[4]) {
  version[0] = ISODMX_VERSION_MAJOR;
  version[1] = ISODMX_VERSION_MINOR;
  version[2] = ISODMX_VERSION_PATCH;
  version[3] = 0;
}
