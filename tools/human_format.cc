#include "human_format.h"

#include "platform/graph_interfaces.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kMillisecondsPerSecond = 1000;

struct NamedEvent {
  LONG code;
  const char* name;
};

#define EVENT(code) {code, #code}
constexpr NamedEvent kEvents[] = {
    EVENT(EC_COMPLETE),          EVENT(EC_USERABORT),           EVENT(EC_ERRORABORT),
    EVENT(EC_TIME),              EVENT(EC_REPAINT),             EVENT(EC_STREAM_ERROR_STOPPED),
    EVENT(EC_STREAM_ERROR_STILLPLAYING), EVENT(EC_ERROR_STILLPLAYING), EVENT(EC_PALETTE_CHANGED),
    EVENT(EC_VIDEO_SIZE_CHANGED), EVENT(EC_QUALITY_CHANGE),     EVENT(EC_SHUTTING_DOWN),
    EVENT(EC_CLOCK_CHANGED),     EVENT(EC_PAUSED),              EVENT(EC_OPENING_FILE),
    EVENT(EC_BUFFERING_DATA),    EVENT(EC_NEED_RESTART),        EVENT(EC_STARVATION),
    EVENT(EC_STREAM_CONTROL_STOPPED), EVENT(EC_STREAM_CONTROL_STARTED), EVENT(EC_END_OF_SEGMENT),
    EVENT(EC_SEGMENT_STARTED),   EVENT(EC_LENGTH_CHANGED),      EVENT(EC_STEP_COMPLETE),
};
#undef EVENT

}  // namespace

std::string SecondsText(int64_t value, int64_t units) {
  if (units <= 0) return std::to_string(value);
  const bool negative = value < 0;
  // The magnitude of INT64_MIN does not fit in int64_t.
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const uint64_t whole = magnitude / static_cast<uint64_t>(units);
  const uint64_t rest = magnitude % static_cast<uint64_t>(units);
  // Rounded down to the millisecond, so a time never reads later than it is.
  const uint64_t millis =
      static_cast<uint64_t>(static_cast<long double>(rest) * kMillisecondsPerSecond / static_cast<long double>(units));
  char text[64];
  if (whole < static_cast<uint64_t>(kSecondsPerMinute)) {
    std::snprintf(text, sizeof text, "%s%" PRIu64 ".%03" PRIu64 " s", negative ? "-" : "", whole, millis);
  } else {
    std::snprintf(text, sizeof text, "%s%" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64, negative ? "-" : "",
                  whole / kSecondsPerHour, whole / kSecondsPerMinute % kSecondsPerMinute, whole % kSecondsPerMinute,
                  millis);
  }
  return text;
}

std::string CountText(uint64_t count, const char* noun, const char* plural) {
  const std::string many = plural != nullptr ? plural : std::string(noun) + "s";
  if (count == 0) return "no " + many;
  return GroupedNumber(count) + " " + (count == 1 ? std::string(noun) : many);
}

std::string GroupedNumber(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

std::string EventName(LONG code) {
  for (const NamedEvent& event : kEvents) {
    if (event.code == code) return event.name;
  }
  char text[32];
  std::snprintf(text, sizeof text, "event 0x%04X", static_cast<unsigned>(code));
  return text;
}
