#include "damage_warnings.h"

#include "human_format.h"

#include "container/trak_box.h"
#include "platform/fourcc.h"

#include <cstdio>

namespace {

// A table may claim billions of samples; the warning settles for the first
// ones rather than holding the command up for minutes.
constexpr ULONGLONG kMaxSamplesWalked = 1ull << 26;

struct Overrun {
  ULONGLONG samples = 0;
  ULONGLONG beyond = 0;
  bool cut = false;  // the walk stopped at kMaxSamplesWalked
};

Overrun CountSamplesBeyond(trakBox& track, LONGLONG length) {
  Overrun overrun;
  for (LONGLONG sample = 0;;) {
    if (overrun.samples >= kMaxSamplesWalked) {
      overrun.cut = true;
      break;
    }
    LONGLONG start = 0, end = 0, offset = 0, size = 0;
    LONG count = 0;
    if (track.GetSampleInfo(sample, &start, &end, &offset, &size, &count) != S_OK) break;
    // A count below 1 cannot come from the lookups; guard the walk anyway.
    const LONG carried = count > 0 ? count : 1;
    overrun.samples += static_cast<ULONGLONG>(carried);
    if (offset < 0 || offset > length || size > length - offset) overrun.beyond += static_cast<ULONGLONG>(carried);
    sample += carried;
  }
  return overrun;
}

}  // namespace

std::vector<std::string> TruncationWarnings(const CDarEdoSource& source) {
  std::vector<std::string> warnings;
  LONGLONG length = 0, available = 0;
  if (!source.reader || FAILED(source.reader->Length(&length, &available))) return warnings;
  for (ULONG i = 0; i < source.TrackCount(); ++i) {
    trakBox& track = *source.Track(i);
    if (!track.sampleEntry || track.SamplesEndWithin(length)) continue;
    const Overrun overrun = CountSamplesBeyond(track, length);
    if (overrun.beyond == 0) continue;
    char text[256];
    std::snprintf(text, sizeof text,
                  "the input ends at byte %lld, before the end of %llu of the %s%s of track %u (%s): the file is "
                  "truncated",
                  static_cast<long long>(length), static_cast<unsigned long long>(overrun.beyond),
                  overrun.cut ? "first " : "", CountText(overrun.samples, "sample").c_str(), track.trackId, FourCCText(track.handlerType).c_str());
    warnings.emplace_back(text);
  }
  return warnings;
}

void PrintWarnings(const char* command, const std::vector<std::string>& warnings) {
  std::fflush(stdout);
  for (const std::string& warning : warnings) std::fprintf(stderr, "isodmx %s: warning: %s\n", command, warning.c_str());
}

void WriteWarningsJson(JsonWriter& json, const std::vector<std::string>& warnings) {
  json.Key("warnings").BeginArray();
  for (const std::string& warning : warnings) json.String(warning);
  json.EndArray();
}
