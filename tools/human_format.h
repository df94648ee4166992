// Text a person reads in the tool's human output: times in seconds with
// their unit, counts with a noun that agrees, events by name. The JSON
// documents never use these.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>
#include <string>

// "12.345 s", or "1:02:03.456" from a minute up; negative times keep their
// sign. `units` per second (10,000,000 for reference time).
std::string SecondsText(int64_t value, int64_t units = 10000000);

// "1 sample", "2 samples", "no samples"; `plural` defaults to noun + "s".
std::string CountText(uint64_t count, const char* noun, const char* plural = nullptr);

// "1,234,567".
std::string GroupedNumber(uint64_t value);

// "EC_COMPLETE", or "event 0x1234" for a code without a name.
std::string EventName(LONG code);
