// The module's version, four 16-bit numbers, most significant first. The
// registration's version gate reads it from another copy of the module.
#pragma once

#include "platform/wintypes.h"

extern "C" void IsodmxModuleVersion(WORD version[4]);

inline constexpr const char* kModuleVersionSymbol = "IsodmxModuleVersion";
