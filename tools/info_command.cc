// isodmx info [--json] INPUT: each source's movie header and, per track, the
// track fields and its sample entry, read with the container model alone.
// The media types that the output pins offer are filled in once the graph
// runs behind this command; until then "mediaTypes" and "pins" are empty.
#include "commands.h"
#include "json_writer.h"
#include "parsed_input.h"
#include "tool_common.h"

#include "platform/critical_section.h"
#include "platform/fourcc.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

namespace {

constexpr char kUsage[] = "info [--json] INPUT";
constexpr int kMatrixSize = 9;
// In a transformation matrix [a b u; c d v; x y w], b and d.
constexpr int kMatrixB = 1;
constexpr int kMatrixD = 4;

// The display rotation a track header's matrix asks for, in degrees
// clockwise; only the four right-angle cases are recognised.
int RotationDegrees(const DWORD (&matrix)[kMatrixSize]) {
  const LONG b = static_cast<LONG>(matrix[kMatrixB]);
  const LONG d = static_cast<LONG>(matrix[kMatrixD]);
  if (b > 0 && d == 0) return 90;
  if (b < 0 && d == 0) return 270;
  if (b == 0 && d < 0) return 180;
  return 0;
}

// The samples of the table set loaded now (for a fragmented track, the ones
// in the movie box).
DWORD SampleCount(trakBox& track) {
  CAutoLock lock(&track.tableLock);
  return track.sampleTable ? track.sampleTable->sampleCount : 0;
}

std::string Language(const trakBox& track) {
  std::string text;
  for (char c : track.language) {
    if (c == '\0') break;
    text += c;
  }
  return text;
}

// The stored name is a length byte and up to 31 characters; anything that
// is not printable ASCII shows as '.'.
std::string CompressorName(const VideoSampleEntry& video) {
  const size_t length = std::min<size_t>(video.compressorName[0], VideoSampleEntry::kCompressorNameSize - 1);
  std::string name;
  for (size_t i = 1; i <= length; ++i) {
    const BYTE c = video.compressorName[i];
    name += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  }
  return name;
}

std::string Hex(const CBuffer& buffer) {
  return HexBytes(buffer.Data(), static_cast<size_t>(buffer.Length()));
}

void WriteMatrix(JsonWriter& json, const DWORD (&matrix)[kMatrixSize]) {
  json.BeginArray();
  for (DWORD value : matrix) json.UInt(value);
  json.EndArray();
}

std::string MatrixText(const DWORD (&matrix)[kMatrixSize]) {
  std::string text = "[";
  for (int i = 0; i < kMatrixSize; ++i) {
    char value[16];
    std::snprintf(value, sizeof value, "%s0x%08X", i > 0 ? " " : "", matrix[i]);
    text += value;
  }
  return text + "]";
}

void WriteSampleEntryJson(JsonWriter& json, const SampleEntry& entry) {
  json.BeginObject();
  json.Key("entryKind").UInt(entry.entryKind);
  json.Key("dataReferenceIndex").UInt(entry.dataReferenceIndex);
  json.Key("objectTypeIndication");
  if (entry.objectTypeIndication == SampleEntry::kNoObjectType) {
    json.Null();
  } else {
    json.UInt(entry.objectTypeIndication);
  }
  json.Key("lastResult").String(HResultHex(entry.lastResult));
  if (const auto* video = dynamic_cast<const VideoSampleEntry*>(&entry)) {
    json.Key("width").UInt(video->width);
    json.Key("height").UInt(video->height);
    json.Key("horizResolution").UInt(video->horizResolution);
    json.Key("vertResolution").UInt(video->vertResolution);
    json.Key("frameCount").UInt(video->frameCount);
    json.Key("compressorName").String(CompressorName(*video));
    json.Key("depth").UInt(video->depth);
    json.Key("hasPixelAspect").Bool(video->hasPixelAspect != 0);
    json.Key("pixelAspectH").UInt(video->pixelAspectH);
    json.Key("pixelAspectV").UInt(video->pixelAspectV);
  } else if (const auto* audio = dynamic_cast<const AudioSampleEntry*>(&entry)) {
    json.Key("soundVersion").UInt(audio->soundVersion);
    json.Key("channelCount").UInt(audio->channelCount);
    json.Key("sampleSize").UInt(audio->sampleSize);
    json.Key("sampleRate").UInt(audio->sampleRate);
  }
  json.Key("codecConfig").String(Hex(entry.codecConfig));
  json.Key("payload").String(Hex(entry.payload));
  json.EndObject();
}

void WriteTrackJson(JsonWriter& json, trakBox& track) {
  json.BeginObject();
  json.Key("trackId").UInt(track.trackId);
  json.Key("handler").String(FourCCText(track.handlerType));
  json.Key("mediaKind").UInt(track.mediaKind);
  json.Key("timescale").UInt(track.timescale);
  json.Key("mediaDuration").UInt(track.mediaDuration);
  json.Key("language").String(Language(track));
  json.Key("matrix");
  WriteMatrix(json, track.matrix);
  json.Key("format");
  if (track.sampleEntry) {
    json.String(FourCCText(track.FormatFourCC()));
  } else {
    json.Null();
  }
  json.Key("sampleCount").UInt(SampleCount(track));
  json.Key("rotation").Int(RotationDegrees(track.matrix));
  json.Key("sampleEntry");
  if (track.sampleEntry) {
    WriteSampleEntryJson(json, *track.sampleEntry);
  } else {
    json.Null();
  }
  json.Key("mediaTypes").BeginArray().EndArray();
  json.EndObject();
}

void WriteSourceJson(JsonWriter& json, const ParsedSource& parsed) {
  const CDarEdoSource& source = *parsed.source;
  json.BeginObject();
  json.Key("location").String(parsed.location);
  json.Key("wantedTrackId").UInt(source.wantedTrackId);
  json.Key("fragmented").Bool(source.fragmented != 0);
  json.Key("movie");
  if (source.movieHeader) {
    json.BeginObject();
    json.Key("timescale").UInt(source.movieHeader->timescale);
    json.Key("duration").Int(source.movieHeader->durationRef);
    json.Key("matrix");
    WriteMatrix(json, source.movieHeader->matrix);
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("tracks").BeginArray();
  for (ULONG i = 0; i < source.TrackCount(); ++i) WriteTrackJson(json, *source.Track(i));
  json.EndArray();
  json.EndObject();
}

void PrintSampleEntryText(const SampleEntry& entry) {
  std::printf("  entry %s kind=%u dataReferenceIndex=%u", FourCCText(entry.Format()).c_str(), entry.entryKind,
              entry.dataReferenceIndex);
  if (entry.objectTypeIndication != SampleEntry::kNoObjectType) {
    std::printf(" objectType=0x%02X", entry.objectTypeIndication);
  }
  if (entry.lastResult != S_OK) std::printf(" lastResult=%s", HResultHex(entry.lastResult).c_str());
  std::printf("\n");
  if (const auto* video = dynamic_cast<const VideoSampleEntry*>(&entry)) {
    std::printf("    %ux%u depth=%u frames=%u resolution=%.2fx%.2f compressor=\"%s\"", video->width, video->height,
                video->depth, video->frameCount, video->horizResolution / 65536.0,
                video->vertResolution / 65536.0, CompressorName(*video).c_str());
    if (video->hasPixelAspect) std::printf(" pixelAspect=%u:%u", video->pixelAspectH, video->pixelAspectV);
    std::printf("\n");
  } else if (const auto* audio = dynamic_cast<const AudioSampleEntry*>(&entry)) {
    std::printf("    version=%u channels=%u bits=%u rate=%u\n", audio->soundVersion, audio->channelCount,
                audio->sampleSize, audio->sampleRate);
  }
  std::printf("    codecConfig=%s\n    payload=%d bytes\n", Hex(entry.codecConfig).c_str(), entry.payload.Length());
}

void PrintSourceText(const ParsedSource& parsed) {
  const CDarEdoSource& source = *parsed.source;
  std::printf("source %s%s\n", parsed.location.c_str(), source.fragmented ? " (fragmented)" : "");
  if (source.movieHeader) {
    std::printf("movie timescale=%u duration=%" PRId64 " (100 ns) matrix=%s\n", source.movieHeader->timescale,
                source.movieHeader->durationRef, MatrixText(source.movieHeader->matrix).c_str());
  } else {
    std::printf("movie none\n");
  }
  for (ULONG i = 0; i < source.TrackCount(); ++i) {
    trakBox& track = *source.Track(i);
    std::printf("track %u handler=%s kind=%u timescale=%u duration=%" PRIu64 " language=%s format=%s samples=%u "
                "rotation=%d\n",
                track.trackId, FourCCText(track.handlerType).c_str(), track.mediaKind, track.timescale,
                track.mediaDuration, Language(track).c_str(),
                track.sampleEntry ? FourCCText(track.FormatFourCC()).c_str() : "none", SampleCount(track),
                RotationDegrees(track.matrix));
    std::printf("  matrix=%s\n", MatrixText(track.matrix).c_str());
    if (track.sampleEntry) PrintSampleEntryText(*track.sampleEntry);
  }
}

}  // namespace

int RunInfoCommand(int argc, char** argv) {
  ToolArguments arguments;
  if (!ParseToolArguments(argc, argv, kUsage, {}, {}, &arguments)) return 2;
  const std::string& input = arguments.positional.front();

  ParsedInput parsed;
  const HRESULT hr = OpenParsedInput(input, &parsed);

  if (arguments.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("input").String(input);
    json.Key("result").String(HResultHex(hr));
    json.Key("sources").BeginArray();
    for (const ParsedSource& source : parsed.sources) WriteSourceJson(json, source);
    json.EndArray();
    json.Key("pins").BeginArray().EndArray();
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
  } else {
    for (const ParsedSource& source : parsed.sources) PrintSourceText(source);
  }
  if (FAILED(hr)) PrintFailure("info", hr);
  return ExitStatusFor(hr);
}
