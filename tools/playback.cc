#include "playback.h"

#include "json_writer.h"
#include "tool_common.h"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CommandSpec {
  const char* name;
  const char* usage;
  CStreamSink::Mode mode;
};

CommandSpec SpecOf(PlaybackCommand command) {
  switch (command) {
    case PlaybackCommand::kDump:
      return {"dump", "dump [--json] [--pin N] [--start T] [--stop T] [--rate R] [--frames] [--media-type N] INPUT",
              CStreamSink::Mode::kRecord};
    case PlaybackCommand::kExtract:
      return {"extract", "extract [--start T] [--stop T] [--rate R] [--frames] [--media-type N] INPUT -o DIR",
              CStreamSink::Mode::kWrite};
    default:
      return {"play", "play [--json] [--start T] [--stop T] [--rate R] [--frames] [--media-type N] INPUT",
              CStreamSink::Mode::kCount};
  }
}

// A decimal number, all of the text; no exponent games with inf or nan.
bool ParseDecimal(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end != nullptr && *end == '\0' && std::isfinite(*value);
}

bool ParsePlayOptions(const ToolArguments& arguments, const char* usage, PlayOptions* options) {
  options->frames = arguments.Has("--frames");
  const struct {
    const char* name;
    std::optional<double>* target;
  } positions[] = {{"--start", &options->start}, {"--stop", &options->stop}};
  for (const auto& position : positions) {
    const auto found = arguments.values.find(position.name);
    if (found == arguments.values.end()) continue;
    double value = 0;
    if (!ParseDecimal(found->second, &value)) {
      std::fprintf(stderr, "isodmx: %s needs a number\nusage: isodmx %s\n", position.name, usage);
      return false;
    }
    *position.target = value;
  }
  const auto rate = arguments.values.find("--rate");
  if (rate != arguments.values.end() && (!ParseDecimal(rate->second, &options->rate) || options->rate == 0.0)) {
    std::fprintf(stderr, "isodmx: --rate needs a non-zero number\nusage: isodmx %s\n", usage);
    return false;
  }
  if (const auto type = arguments.values.find("--media-type"); type != arguments.values.end()) {
    char* end = nullptr;
    const long index = std::strtol(type->second.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || type->second.empty() || index < 0 || index > 255) {
      std::fprintf(stderr, "isodmx: --media-type needs a media type number from 0\nusage: isodmx %s\n", usage);
      return false;
    }
    options->mediaType = static_cast<int>(index);
  }
  return true;
}

void WriteOptionalTime(JsonWriter& json, const std::optional<LONGLONG>& value) {
  if (value) {
    json.Int(*value);
  } else {
    json.Null();
  }
}

std::string OptionalTimeText(const std::optional<LONGLONG>& value) {
  if (!value) return "-";
  return std::to_string(*value);
}

void WritePinJson(JsonWriter& json, const PinInfo& pin, bool withSamples) {
  const StreamSummary summary = pin.sink ? pin.sink->Summary() : StreamSummary{};
  json.BeginObject();
  json.Key("name").String(NarrowName(pin.name));
  json.Key("trackId").UInt(pin.trackId);
  json.Key("majortype").String(GuidToString(pin.mediaType.majortype));
  json.Key("subtype").String(GuidToString(pin.mediaType.subtype));
  json.Key("samples").UInt(summary.samples);
  json.Key("bytes").UInt(summary.bytes);
  json.Key("syncSamples").UInt(summary.syncSamples);
  json.Key("preroll").UInt(summary.preroll);
  json.Key("discontinuities").UInt(summary.discontinuities);
  json.Key("firstStart");
  WriteOptionalTime(json, summary.firstStart);
  json.Key("lastStop");
  WriteOptionalTime(json, summary.lastStop);
  json.Key("newSegments").BeginArray();
  for (const StreamSegment& segment : summary.segments) {
    json.BeginArray().Int(segment.start).Int(segment.stop).Double(segment.rate).EndArray();
  }
  json.EndArray();
  json.Key("endOfStream").Bool(summary.endOfStream);
  if (withSamples) {
    json.Key("delivered").BeginArray();
    for (const StreamSample& row : pin.sink->Samples()) {
      json.BeginArray();
      WriteOptionalTime(json, row.start);
      WriteOptionalTime(json, row.stop);
      WriteOptionalTime(json, row.mediaStart);
      WriteOptionalTime(json, row.mediaStop);
      json.Int(row.sync ? 1 : 0).Int(row.preroll ? 1 : 0).Int(row.discontinuity ? 1 : 0);
      json.Int(row.length).UInt(row.crc32);
      json.EndArray();
    }
    json.EndArray();
  }
  json.EndObject();
}

void PrintPinText(const PinInfo& pin, size_t number, bool withSamples) {
  const StreamSummary summary = pin.sink ? pin.sink->Summary() : StreamSummary{};
  std::printf("%s track %u %s %s: %" PRIu64 " samples, %" PRIu64 " bytes, %" PRIu64 " sync, %" PRIu64
              " preroll, %" PRIu64 " discontinuities, first %s, last %s, %s\n",
              NarrowName(pin.name).c_str(), pin.trackId, MajorTypeText(pin.mediaType.majortype).c_str(),
              SubtypeText(pin.mediaType.subtype).c_str(), summary.samples, summary.bytes, summary.syncSamples,
              summary.preroll, summary.discontinuities, OptionalTimeText(summary.firstStart).c_str(),
              OptionalTimeText(summary.lastStop).c_str(), summary.endOfStream ? "end-of-stream" : "no end-of-stream");
  for (const StreamSegment& segment : summary.segments) {
    std::printf("  new segment %" PRId64 " .. %" PRId64 " rate %g\n", segment.start, segment.stop, segment.rate);
  }
  if (!withSamples) return;
  std::printf("  %3s %12s %12s %10s %10s %4s %7s %4s %8s %8s\n", "pin", "start", "stop", "mStart", "mStop", "sync",
              "preroll", "disc", "length", "crc32");
  for (const StreamSample& row : pin.sink->Samples()) {
    std::printf("  %3zu %12s %12s %10s %10s %4d %7d %4d %8d %08x\n", number, OptionalTimeText(row.start).c_str(),
                OptionalTimeText(row.stop).c_str(), OptionalTimeText(row.mediaStart).c_str(),
                OptionalTimeText(row.mediaStop).c_str(), row.sync ? 1 : 0, row.preroll ? 1 : 0,
                row.discontinuity ? 1 : 0, row.length, row.crc32);
  }
}

}  // namespace

int RunPlayback(PlaybackCommand command, int argc, char** argv) {
  const CommandSpec spec = SpecOf(command);
  ToolArguments arguments;
  // Each command's own valued option ("--rate" again for play, which has none).
  const char* extra = command == PlaybackCommand::kDump      ? "--pin"
                      : command == PlaybackCommand::kExtract ? "-o"
                                                             : "--rate";
  if (!ParseToolArguments(argc, argv, spec.usage, {"--frames"}, {"--start", "--stop", "--rate", "--media-type", extra},
                          &arguments)) {
    return 2;
  }
  PlayOptions options;
  if (!ParsePlayOptions(arguments, spec.usage, &options)) return 2;
  long onlyPin = 0;
  if (const auto pin = arguments.values.find("--pin"); pin != arguments.values.end()) {
    char* end = nullptr;
    onlyPin = std::strtol(pin->second.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || onlyPin < 1) {
      std::fprintf(stderr, "isodmx: --pin needs an output pin number from 1\nusage: isodmx %s\n", spec.usage);
      return 2;
    }
  }
  std::string outputDir;
  if (command == PlaybackCommand::kExtract) {
    const auto dir = arguments.values.find("-o");
    if (dir == arguments.values.end()) {
      std::fprintf(stderr, "isodmx: extract needs -o DIR\nusage: isodmx %s\n", spec.usage);
      return 2;
    }
    outputDir = dir->second;
    ::mkdir(outputDir.c_str(), 0777);
  }
  const std::string& input = arguments.positional.front();

  const auto began = std::chrono::steady_clock::now();
  std::vector<GraphEvent> events;
  GraphSession session;
  HRESULT hr = session.Open(input);
  if (SUCCEEDED(hr)) hr = session.ConnectSinks(spec.mode, outputDir, options.mediaType);
  if (SUCCEEDED(hr)) hr = session.ApplyOptions(options);
  if (SUCCEEDED(hr)) hr = session.RunToCompletion(isatty(STDERR_FILENO) != 0, &events);
  const auto elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();

  const bool withSamples = command == PlaybackCommand::kDump;
  const auto shown = [&](size_t index) { return onlyPin == 0 || static_cast<size_t>(onlyPin) == index + 1; };
  std::vector<PinInfo>& pins = session.Pins();
  if (arguments.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("input").String(input);
    json.Key("result").String(HResultHex(hr));
    json.Key("elapsedMs").Int(elapsedMs);
    json.Key("events").BeginArray();
    for (const GraphEvent& event : events) {
      json.BeginObject().Key("code").Int(event.code).Key("param1").Int(event.param1).EndObject();
    }
    json.EndArray();
    json.Key("pins").BeginArray();
    for (size_t k = 0; k < pins.size(); ++k) {
      if (shown(k)) WritePinJson(json, pins[k], withSamples && pins[k].sink);
    }
    json.EndArray();
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
  } else {
    for (size_t k = 0; k < pins.size(); ++k) {
      if (shown(k)) PrintPinText(pins[k], k + 1, withSamples && pins[k].sink);
    }
    for (const GraphEvent& event : events) {
      std::printf("event 0x%02X param1 %s\n", static_cast<unsigned>(event.code),
                  HResultHex(static_cast<HRESULT>(event.param1)).c_str());
    }
    std::printf("result %s, %lld ms\n", HResultText(hr).c_str(), static_cast<long long>(elapsedMs));
  }
  if (FAILED(hr)) PrintFailure(spec.name, hr);
  return ExitStatusFor(hr);
}
