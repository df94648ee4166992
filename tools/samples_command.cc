// isodmx samples [--json] INPUT: every track's samples as the delivery loop
// walks them, without a graph: s = 0, one row per S_OK of GetSampleInfo(s),
// s += the samples the row carries.
#include "commands.h"
#include "json_writer.h"
#include "parsed_input.h"
#include "tool_common.h"

#include "platform/fourcc.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

namespace {


struct SampleRow {
  LONGLONG offset;
  LONGLONG size;
  LONGLONG start;
  LONGLONG end;
  bool sync;
  LONG count;
};

// The walk stops at the first result other than S_OK: S_FALSE is the end
// of the track, a failure ends it early and is reported.
HRESULT WalkSamples(trakBox& track, std::vector<SampleRow>* rows) {
  for (LONGLONG sample = 0;;) {
    // As in the delivery loop, what the fragment loader says does not
    // matter: the tables it left decide whether the sample exists.
    track.LoadFragmentsForSample(sample);
    // A constant-size track's lookup runs on to the end of its chunk table,
    // which a garbage samples-per-chunk value makes endless: the track's own
    // count ends the list.
    if (track.sampleTable && sample >= track.sampleTable->sampleCount) return S_OK;
    SampleRow row{};
    const HRESULT hr = track.GetSampleInfo(sample, &row.start, &row.end, &row.offset, &row.size, &row.count);
    if (hr == S_FALSE) return S_OK;
    if (hr != S_OK) return hr;
    row.sync = track.IsSyncSample(sample) != FALSE;
    rows->push_back(row);
    // A count below 1 cannot come from the lookups; guard the walk anyway.
    sample += row.count > 0 ? row.count : 1;
  }
}

std::string FormatText(DWORD format) { return format != 0 ? FourCCText(format) : std::string("none"); }

void PrintTrackText(const trakBox& track, const std::vector<SampleRow>& rows) {
  std::printf("track %u handler=%s kind=%u timescale=%u format=%s samples=%zu\n", track.trackId,
              FourCCText(track.handlerType).c_str(), track.mediaKind, track.timescale,
              FormatText(track.FormatFourCC()).c_str(), rows.size());
  if (rows.empty()) return;
  std::printf("  %10s %10s %12s %12s %4s %6s   (start and end in media units, %u per second)\n", "offset", "size",
              "start", "end", "sync", "count", track.timescale);
  for (const SampleRow& row : rows) {
    std::printf("  %10" PRId64 " %10" PRId64 " %12" PRId64 " %12" PRId64 " %4d %6d\n", row.offset, row.size, row.start,
                row.end, row.sync ? 1 : 0, row.count);
  }
}

void WriteTrackJson(JsonWriter& json, const trakBox& track, const std::vector<SampleRow>& rows) {
  json.BeginObject();
  json.Key("trackId").UInt(track.trackId);
  json.Key("handler").String(FourCCText(track.handlerType));
  json.Key("mediaKind").UInt(track.mediaKind);
  json.Key("timescale").UInt(track.timescale);
  json.Key("format");
  if (track.sampleEntry) {
    json.String(FourCCText(track.FormatFourCC()));
  } else {
    json.Null();
  }
  json.Key("samples").BeginArray();
  for (const SampleRow& row : rows) {
    json.BeginArray();
    json.Int(row.offset).Int(row.size).Int(row.start).Int(row.end).Int(row.sync ? 1 : 0).Int(row.count);
    json.EndArray();
  }
  json.EndArray();
  json.EndObject();
}

}  // namespace

int RunSamplesCommand(int argc, char** argv) {
  ToolArguments arguments;
  if (!ParseToolArguments(argc, argv, "samples", &arguments)) return kExitUsage;
  const std::string& input = arguments.positional.front();

  ParsedInput parsed;
  HRESULT hr = OpenParsedInput(input, &parsed);

  JsonWriter json;
  json.BeginObject();
  json.Key("input").String(input);
  JsonWriter sources;
  sources.BeginArray();
  for (const ParsedSource& parsedSource : parsed.sources) {
    const CDarEdoSource& source = *parsedSource.source;
    sources.BeginObject();
    sources.Key("location").String(parsedSource.location);
    sources.Key("wantedTrackId").UInt(source.wantedTrackId);
    sources.Key("fragmented").Bool(source.fragmented != 0);
    sources.Key("tracks").BeginArray();
    if (!arguments.json) {
      std::printf("source %s%s\n", parsedSource.location.c_str(), source.fragmented ? " (fragmented)" : "");
    }
    for (ULONG i = 0; i < source.TrackCount(); ++i) {
      trakBox& track = *source.Track(i);
      std::vector<SampleRow> rows;
      // Only a track with a sample entry has samples to deliver.
      if (track.sampleEntry) {
        const HRESULT walked = WalkSamples(track, &rows);
        if (SUCCEEDED(hr) && FAILED(walked)) hr = walked;
      }
      if (arguments.json) {
        WriteTrackJson(sources, track, rows);
      } else {
        PrintTrackText(track, rows);
      }
    }
    sources.EndArray();
    sources.EndObject();
  }
  sources.EndArray();

  if (arguments.json) {
    json.Key("result").String(HResultHex(hr));
    json.Key("sources").Raw(sources.Text());
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
  }
  if (FAILED(hr)) PrintFailure("samples", input, hr);
  return ExitStatusFor(hr);
}
