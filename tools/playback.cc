#include "playback.h"

#include "damage_warnings.h"
#include "human_format.h"
#include "json_writer.h"
#include "sample_rows.h"
#include "tool_common.h"

#include "platform/media_guids.h"
#include "platform/win32_error.h"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>

namespace {

// Spooled rows go out in pieces of about this size.
constexpr size_t kJsonFlushBytes = 1 << 16;

struct PlaybackSpec {
  const char* name;
  CStreamSink::Mode mode;
};

PlaybackSpec SpecOf(PlaybackCommand command) {
  switch (command) {
    case PlaybackCommand::kDump:
      return {"dump", CStreamSink::Mode::kRecord};
    case PlaybackCommand::kExtract:
      return {"extract", CStreamSink::Mode::kWrite};
    default:
      return {"play", CStreamSink::Mode::kCount};
  }
}

// The option values were checked by kind when parsed; what is left are the
// rules between them.
bool ParsePlayOptions(const ToolArguments& arguments, const char* command, PlayOptions* options) {
  options->frames = arguments.Has("--frames");
  const struct {
    const char* name;
    std::optional<double>* target;
  } positions[] = {{"--start", &options->start}, {"--stop", &options->stop}};
  for (const auto& position : positions) {
    const auto found = arguments.values.find(position.name);
    if (found == arguments.values.end()) continue;
    double value = 0;
    ParseDecimal(found->second, &value);
    if (options->frames && value != std::floor(value)) {
      PrintUsageError(command, std::string(position.name) + " " + found->second +
                                   ": not allowed; with --frames T is a whole frame number from 0");
      return false;
    }
    *position.target = value;
  }
  if (const auto rate = arguments.values.find("--rate"); rate != arguments.values.end()) {
    ParseDecimal(rate->second, &options->rate);
  }
  // Reverse play runs from the start down to the stop, so only forward play
  // needs the stop after the start.
  if (options->start && options->stop && options->rate > 0 && *options->stop < *options->start) {
    PrintUsageError(command, "--stop " + arguments.values.at("--stop") + ": not allowed before --start " +
                                 arguments.values.at("--start"));
    return false;
  }
  if (const auto type = arguments.values.find("--media-type"); type != arguments.values.end()) {
    // Any index is allowed: a pin without that many types keeps its first.
    options->mediaType = static_cast<int>(std::min<long long>(std::stoll(type->second), INT32_MAX));
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
  if (!value) return "none";
  return SecondsText(*value) + " (" + std::to_string(*value) + ")";
}

void WriteSampleRow(JsonWriter& json, const StreamSample& row) {
  json.BeginArray();
  WriteOptionalTime(json, row.start);
  WriteOptionalTime(json, row.stop);
  WriteOptionalTime(json, row.mediaStart);
  WriteOptionalTime(json, row.mediaStop);
  json.Int(row.sync ? 1 : 0).Int(row.preroll ? 1 : 0).Int(row.discontinuity ? 1 : 0);
  json.Int(row.length).UInt(row.crc32);
  json.EndArray();
}

// `rows`: the pin's spooled rows for `dump`, nullptr otherwise. The text so
// far goes to standard output as the rows are written.
HRESULT WritePinJson(JsonWriter& json, const PinInfo& pin, SampleRowSpool* rows) {
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
  HRESULT hr = S_OK;
  if (rows != nullptr) {
    json.Key("delivered").BeginArray();
    hr = rows->ForEach([&](const StreamSample& row) {
      WriteSampleRow(json, row);
      if (json.Text().size() >= kJsonFlushBytes) json.FlushTo(stdout);
    });
    json.EndArray();
  }
  json.EndObject();
  return hr;
}

void PrintPinText(const PinInfo& pin) {
  const StreamSummary summary = pin.sink ? pin.sink->Summary() : StreamSummary{};
  std::printf("%s (track %u, %s %s): %s, %s, %s, %s, %s\n", NarrowName(pin.name).c_str(), pin.trackId,
              MajorTypeText(pin.mediaType.majortype).c_str(), SubtypeText(pin.mediaType.subtype).c_str(),
              CountText(summary.samples, "sample").c_str(), CountText(summary.bytes, "byte").c_str(),
              CountText(summary.syncSamples, "sync sample").c_str(),
              CountText(summary.preroll, "preroll sample").c_str(),
              CountText(summary.discontinuities, "discontinuity", "discontinuities").c_str());
  std::printf("  first start %s, last stop %s, %s\n", OptionalTimeText(summary.firstStart).c_str(),
              OptionalTimeText(summary.lastStop).c_str(),
              summary.endOfStream ? "end-of-stream" : "no end-of-stream");
  for (const StreamSegment& segment : summary.segments) {
    std::printf("  new segment %s to %s at rate %g\n", SecondsText(segment.start).c_str(),
                SecondsText(segment.stop).c_str(), segment.rate);
  }
}

bool HasVideoPin(const std::vector<PinInfo>& pins) {
  for (const PinInfo& pin : pins) {
    if (pin.mediaType.majortype == MEDIATYPE_Video) return true;
  }
  return false;
}

HRESULT CreateFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return HResultFromErrno(error.value());
  if (!std::filesystem::is_directory(folder, error)) return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
  return S_OK;
}

}  // namespace

int RunPlayback(PlaybackCommand command, int argc, char** argv) {
  const PlaybackSpec spec = SpecOf(command);
  ToolArguments arguments;
  if (!ParseToolArguments(argc, argv, spec.name, &arguments)) return kExitUsage;
  PlayOptions options;
  if (!ParsePlayOptions(arguments, spec.name, &options)) return kExitUsage;
  size_t onlyPin = 0;
  if (const auto pin = arguments.values.find("--pin"); pin != arguments.values.end()) {
    onlyPin = static_cast<size_t>(std::stoull(pin->second));
  }
  const std::string& input = arguments.positional.front();
  std::string outputDir;
  if (command == PlaybackCommand::kExtract) {
    outputDir = arguments.values.at("-o");
    // Before playing: a folder that cannot be made would leave the run
    // with nothing to show for it.
    const HRESULT made = CreateFolder(outputDir);
    if (FAILED(made)) {
      PrintFailure(spec.name, outputDir + ": cannot create the output folder", made);
      return kExitFailure;
    }
  }

  const auto began = std::chrono::steady_clock::now();
  std::vector<GraphEvent> events;
  std::vector<std::string> warnings;
  // Declared before the session: the sinks write into them until the
  // session's end stops the graph.
  std::vector<std::unique_ptr<SampleRowWriter>> rows;
  GraphSession session;
  HRESULT hr = session.Open(input);
  // A file whose tracks all lack a usable sample entry connects, but there
  // is nothing to run: that is a failure of this command, not a success
  // with no output.
  const bool nothingToPlay = SUCCEEDED(hr) && session.Pins().empty();
  if (nothingToPlay) hr = VFW_E_INVALID_FILE_FORMAT;
  if (SUCCEEDED(hr)) {
    const std::vector<PinInfo>& pins = session.Pins();
    if (onlyPin > pins.size()) {
      return PrintUsageError(spec.name, "--pin " + arguments.values.at("--pin") + ": not allowed; the input has " +
                                            CountText(pins.size(), "output pin"));
    }
    if (options.frames && !HasVideoPin(pins)) {
      return PrintUsageError(spec.name, "--frames: not allowed; the input has no video to count frames in");
    }
    warnings = session.DamageWarnings();
  }
  const bool shownAll = onlyPin == 0;
  const auto shown = [&](size_t index) { return shownAll || onlyPin == index + 1; };
  if (SUCCEEDED(hr)) hr = session.ConnectSinks(spec.mode, outputDir, options.mediaType);
  std::vector<PinInfo>& pins = session.Pins();
  const bool withRows = command == PlaybackCommand::kDump;
  rows.resize(pins.size());
  if (SUCCEEDED(hr) && withRows) {
    if (!arguments.json) SampleRowPrinter::PrintHeader();
    for (size_t k = 0; k < pins.size(); ++k) {
      if (!shown(k) || !pins[k].sink) continue;
      if (arguments.json) {
        rows[k] = std::make_unique<SampleRowSpool>();
      } else {
        rows[k] = std::make_unique<SampleRowPrinter>(k + 1);
      }
      pins[k].sink->SetRowWriter(rows[k].get());
    }
  }
  if (SUCCEEDED(hr)) hr = session.ApplyOptions(options);
  if (SUCCEEDED(hr)) hr = session.RunToCompletion(isatty(STDERR_FILENO) != 0, &events);
  const auto elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();

  if (arguments.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("input").String(input);
    json.Key("result").String(HResultHex(hr));
    WriteWarningsJson(json, warnings);
    json.Key("elapsedMs").Int(elapsedMs);
    json.Key("events").BeginArray();
    for (const GraphEvent& event : events) {
      json.BeginObject().Key("code").Int(event.code).Key("param1").Int(event.param1).EndObject();
    }
    json.EndArray();
    json.Key("pins").BeginArray();
    HRESULT spooled = S_OK;
    for (size_t k = 0; k < pins.size(); ++k) {
      if (!shown(k)) continue;
      const HRESULT written = WritePinJson(json, pins[k], static_cast<SampleRowSpool*>(rows[k].get()));
      if (SUCCEEDED(spooled)) spooled = written;
    }
    json.EndArray();
    json.EndObject();
    json.FlushTo(stdout);
    std::fputc('\n', stdout);
    if (SUCCEEDED(hr) && FAILED(spooled)) {
      PrintFailure(spec.name, input, spooled);
      return kExitFailure;
    }
  } else {
    for (size_t k = 0; k < pins.size(); ++k) {
      if (shown(k)) PrintPinText(pins[k]);
    }
    for (const GraphEvent& event : events) {
      std::printf("event %s, param1 %s\n", EventName(event.code).c_str(),
                  HResultHex(static_cast<HRESULT>(event.param1)).c_str());
    }
    std::printf("result %s in %s\n", HResultText(hr).c_str(), SecondsText(elapsedMs, 1000).c_str());
  }
  PrintWarnings(spec.name, warnings);
  if (nothingToPlay) {
    PrintFailure(spec.name, input, "has no playable track", hr);
  } else if (FAILED(hr)) {
    PrintFailure(spec.name, input, hr);
  }
  return ExitStatusFor(hr);
}
