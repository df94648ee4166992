// isodmx info [--json] INPUT: connects the demultiplexer to the input through
// the graph and prints each of its sources' movie header and, per track, the
// track fields, its sample entry and the media types the track offers, then
// every output pin with its media types. When the connection fails, the
// sources are what a parse without the graph kept, and the result is the
// connection's.
#include "commands.h"
#include "damage_warnings.h"
#include "graph_session.h"
#include "human_format.h"
#include "json_writer.h"
#include "input_location.h"
#include "parsed_input.h"
#include "tool_common.h"

#include "engine/output_pin.h"
#include "platform/class_table.h"
#include "platform/code_page.h"
#include "platform/critical_section.h"
#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/media_type.h"
#include "streams/audio_sample_entry.h"
#include "streams/media_subtypes.h"
#include "streams/media_type_match.h"
#include "streams/video_sample_entry.h"

#include <algorithm>
#include <cstring>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kMatrixSize = 9;
// In a transformation matrix [a b u; c d v; x y w], b and d.
constexpr int kMatrixB = 1;
constexpr int kMatrixD = 4;
// A list of media types is a handful long; a runaway one is cut here.
constexpr int kMaxMediaTypes = 32;
constexpr size_t kIsoLangChars = 3;

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

// Every media type the track offers, in list order, and the result that
// ended the list (VFW_S_NO_MORE_ITEMS when it ran to its end).
struct OfferedTypes {
  std::vector<CMediaType> types;
  HRESULT end = VFW_S_NO_MORE_ITEMS;
};

OfferedTypes TrackMediaTypes(trakBox& track) {
  OfferedTypes offered;
  for (int index = 0; index < kMaxMediaTypes; ++index) {
    CMediaType type;
    const HRESULT hr = track.GetTrackMediaType(index, &type);
    if (hr != S_OK) {
      offered.end = hr;
      break;
    }
    offered.types.push_back(type);
  }
  return offered;
}

// The decoded fields of a media type's format block and where its extra
// bytes start.
struct DecodedFormat {
  enum class Kind { kOther, kVideo, kAudio, kSubtitle } kind = Kind::kOther;
  VideoFormatView video{};
  WAVEFORMATEX audio{};
  std::string isoLang;
  size_t extraOffset = 0;
};

DecodedFormat DecodeFormat(const AM_MEDIA_TYPE& type) {
  DecodedFormat decoded;
  if (GetVideoFormatView(type, &decoded.video)) {
    decoded.kind = DecodedFormat::Kind::kVideo;
    decoded.extraOffset = decoded.video.bitmapOffset + sizeof(BITMAPINFOHEADER);
  } else if (type.formattype == FORMAT_WaveFormatEx && type.cbFormat >= sizeof(WAVEFORMATEX)) {
    decoded.kind = DecodedFormat::Kind::kAudio;
    std::memcpy(&decoded.audio, type.pbFormat, sizeof decoded.audio);
    decoded.extraOffset = sizeof(WAVEFORMATEX);
  } else if (type.formattype == FORMAT_SubtitleInfo && type.cbFormat >= sizeof(SUBTITLEINFO)) {
    decoded.kind = DecodedFormat::Kind::kSubtitle;
    SUBTITLEINFO info;
    std::memcpy(&info, type.pbFormat, sizeof info);
    for (size_t i = 0; i < kIsoLangChars && info.IsoLang[i] != '\0'; ++i) decoded.isoLang += info.IsoLang[i];
    decoded.extraOffset = sizeof(SUBTITLEINFO);
  }
  decoded.extraOffset = std::min<size_t>(decoded.extraOffset, type.cbFormat);
  return decoded;
}

std::string ExtraHex(const AM_MEDIA_TYPE& type, const DecodedFormat& decoded) {
  if (!type.pbFormat) return "";
  return HexBytes(type.pbFormat + decoded.extraOffset, type.cbFormat - decoded.extraOffset);
}

// biCompression is a little-endian FourCC only when all four bytes are
// printable; anything else (0 for BI_RGB, 3 for BI_BITFIELDS) is a number,
// which a dot-filled text would lose.
bool CompressionIsPrintable(DWORD compression) {
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(compression >> (8 * i));
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

std::string CompressionText(DWORD compression) {
  if (CompressionIsPrintable(compression)) return FourCCText(SwapFourCC(compression));
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", compression);
  return hex;
}

void WriteCompressionJson(JsonWriter& json, DWORD compression) {
  if (CompressionIsPrintable(compression)) {
    json.String(FourCCText(SwapFourCC(compression)));
  } else {
    json.UInt(compression);
  }
}

void WriteMediaTypeJson(JsonWriter& json, const CMediaType& type) {
  const DecodedFormat decoded = DecodeFormat(type);
  json.BeginObject();
  json.Key("majortype").String(GuidToString(type.majortype));
  json.Key("subtype").String(GuidToString(type.subtype));
  json.Key("formattype").String(GuidToString(type.formattype));
  json.Key("fixedSizeSamples").Bool(type.bFixedSizeSamples != FALSE);
  json.Key("temporalCompression").Bool(type.bTemporalCompression != FALSE);
  json.Key("sampleSize").UInt(type.lSampleSize);
  json.Key("cbFormat").UInt(type.cbFormat);
  switch (decoded.kind) {
    case DecodedFormat::Kind::kVideo: {
      const VideoFormatView& video = decoded.video;
      json.Key("video").BeginObject();
      json.Key("width").Int(video.bitmap.biWidth);
      json.Key("height").Int(video.bitmap.biHeight);
      json.Key("bitCount").UInt(video.bitmap.biBitCount);
      json.Key("compression");
      WriteCompressionJson(json, video.bitmap.biCompression);
      json.Key("sizeImage").UInt(video.bitmap.biSizeImage);
      json.Key("avgTimePerFrame").Int(video.frameDuration);
      json.Key("bitRate").UInt(video.bitRate);
      json.Key("pictAspectX").UInt(video.aspectX);
      json.Key("pictAspectY").UInt(video.aspectY);
      json.EndObject();
      break;
    }
    case DecodedFormat::Kind::kAudio: {
      const WAVEFORMATEX& audio = decoded.audio;
      json.Key("audio").BeginObject();
      json.Key("formatTag").UInt(audio.wFormatTag);
      json.Key("channels").UInt(audio.nChannels);
      json.Key("samplesPerSec").UInt(audio.nSamplesPerSec);
      json.Key("avgBytesPerSec").UInt(audio.nAvgBytesPerSec);
      json.Key("blockAlign").UInt(audio.nBlockAlign);
      json.Key("bitsPerSample").UInt(audio.wBitsPerSample);
      json.EndObject();
      break;
    }
    case DecodedFormat::Kind::kSubtitle:
      json.Key("subtitle").BeginObject().Key("isoLang").String(decoded.isoLang).EndObject();
      break;
    case DecodedFormat::Kind::kOther:
      break;
  }
  json.Key("extra").String(ExtraHex(type, decoded));
  json.EndObject();
}

struct GuidName {
  const GUID* guid;
  const char* name;
};

constexpr GuidName kGuidNames[] = {
    {&MEDIATYPE_Video, "Video"},       {&MEDIATYPE_Audio, "Audio"},
    {&MEDIATYPE_Subtitle, "Subtitle"}, {&MEDIASUBTYPE_PCM, "PCM"},
    {&MEDIASUBTYPE_UTF8, "UTF8"},      {&MEDIASUBTYPE_RGB1, "RGB1"},
    {&MEDIASUBTYPE_RGB4, "RGB4"},      {&MEDIASUBTYPE_RGB8, "RGB8"},
    {&MEDIASUBTYPE_RGB565, "RGB565"},  {&MEDIASUBTYPE_RGB24, "RGB24"},
    {&MEDIASUBTYPE_RGB32, "RGB32"},    {&FORMAT_VideoInfo, "VideoInfo"},
    {&FORMAT_VideoInfo2, "VideoInfo2"}, {&FORMAT_WaveFormatEx, "WaveFormatEx"},
    {&FORMAT_SubtitleInfo, "SubtitleInfo"},
};

// A readable name: the published name, "FourCC avc1", "WAVE 0x00FF",
// "avc1 ISOMEDIATYPE", or the registry form.
std::string GuidText(REFGUID guid) {
  for (const GuidName& known : kGuidNames) {
    if (*known.guid == guid) return known.name;
  }
  char text[32];
  if (IsFourCCGuid(guid) && guid.Data1 <= 0xFFFF) {
    std::snprintf(text, sizeof text, "WAVE 0x%04X", guid.Data1);
    return text;
  }
  if (IsFourCCGuid(guid)) return "FourCC " + FourCCText(SwapFourCC(guid.Data1));
  if (IsPrivateSubtype(guid)) return FourCCText(SwapFourCC(guid.Data1)) + " ISOMEDIATYPE";
  return GuidToString(guid);
}

void PrintMediaTypeText(int index, const CMediaType& type) {
  const DecodedFormat decoded = DecodeFormat(type);
  std::printf("  mediaType %d: %s %s %s fixed=%d temporal=%d sampleSize=%u cbFormat=%u\n", index,
              GuidText(type.majortype).c_str(), GuidText(type.subtype).c_str(), GuidText(type.formattype).c_str(),
              type.bFixedSizeSamples != FALSE, type.bTemporalCompression != FALSE, type.lSampleSize, type.cbFormat);
  switch (decoded.kind) {
    case DecodedFormat::Kind::kVideo: {
      const VideoFormatView& video = decoded.video;
      std::printf("    %dx%d bits=%u compression=%s sizeImage=%u avgTimePerFrame=%" PRId64
                  " bitRate=%u pictAspect=%u:%u\n",
                  video.bitmap.biWidth, video.bitmap.biHeight, video.bitmap.biBitCount,
                  CompressionText(video.bitmap.biCompression).c_str(), video.bitmap.biSizeImage, video.frameDuration,
                  video.bitRate, video.aspectX, video.aspectY);
      break;
    }
    case DecodedFormat::Kind::kAudio: {
      const WAVEFORMATEX& audio = decoded.audio;
      std::printf("    tag=0x%04X channels=%u rate=%u avgBytesPerSec=%u blockAlign=%u bits=%u\n", audio.wFormatTag,
                  audio.nChannels, audio.nSamplesPerSec, audio.nAvgBytesPerSec, audio.nBlockAlign,
                  audio.wBitsPerSample);
      break;
    }
    case DecodedFormat::Kind::kSubtitle:
      std::printf("    language=%s\n", decoded.isoLang.c_str());
      break;
    case DecodedFormat::Kind::kOther:
      break;
  }
  std::printf("    extra=%s\n", ExtraHex(type, decoded).c_str());
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
  // First, as the filter asks at connection: the first request may fill in
  // what the entry lacked (an H.265 picture size, an MPEG-2 sequence header).
  const OfferedTypes offered = TrackMediaTypes(track);
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
  json.Key("mediaTypes").BeginArray();
  for (const CMediaType& type : offered.types) WriteMediaTypeJson(json, type);
  json.EndArray();
  // What ended the list: VFW_S_NO_MORE_ITEMS, or the failure that cut it.
  json.Key("mediaTypesResult").String(HResultHex(offered.end));
  json.EndObject();
}

void WriteSourceJson(JsonWriter& json, const std::string& location, const CDarEdoSource& source) {
  json.BeginObject();
  json.Key("location").String(location);
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

void PrintSourceText(const std::string& location, const CDarEdoSource& source) {
  std::printf("source %s%s\n", location.c_str(), source.fragmented ? " (fragmented)" : "");
  if (source.movieHeader) {
    std::printf("movie timescale=%u duration=%s (%" PRId64 " in 100-ns units) matrix=%s\n",
                source.movieHeader->timescale, SecondsText(source.movieHeader->durationRef).c_str(),
                source.movieHeader->durationRef, MatrixText(source.movieHeader->matrix).c_str());
  } else {
    std::printf("movie none\n");
  }
  for (ULONG i = 0; i < source.TrackCount(); ++i) {
    trakBox& track = *source.Track(i);
    const OfferedTypes offered = TrackMediaTypes(track);
    std::printf("track %u handler=%s kind=%u timescale=%u duration=%s (%" PRIu64 " in media units) language=%s "
                "format=%s samples=%u rotation=%d\n",
                track.trackId, FourCCText(track.handlerType).c_str(), track.mediaKind, track.timescale,
                SecondsText(static_cast<int64_t>(track.mediaDuration), track.timescale).c_str(), track.mediaDuration,
                Language(track).c_str(),
                track.sampleEntry ? FourCCText(track.FormatFourCC()).c_str() : "none", SampleCount(track),
                RotationDegrees(track.matrix));
    std::printf("  matrix=%s\n", MatrixText(track.matrix).c_str());
    if (track.sampleEntry) PrintSampleEntryText(*track.sampleEntry);
    for (size_t index = 0; index < offered.types.size(); ++index) {
      PrintMediaTypeText(static_cast<int>(index), offered.types[index]);
    }
    if (offered.end != VFW_S_NO_MORE_ITEMS) std::printf("  mediaTypes end %s\n", HResultHex(offered.end).c_str());
  }
}

// Every media type an output pin offers, in its order.
std::vector<CMediaType> PinMediaTypes(CBaseDmxOutputPin& pin) {
  std::vector<CMediaType> types;
  for (int index = 0; index < kMaxMediaTypes; ++index) {
    CMediaType type;
    if (pin.GetMediaType(index, &type) != S_OK) break;
    types.push_back(type);
  }
  return types;
}

void WritePinJson(JsonWriter& json, const PinInfo& pin) {
  json.BeginObject();
  json.Key("name").String(NarrowName(pin.name));
  json.Key("trackId").UInt(pin.trackId);
  json.Key("mediaTypes").BeginArray();
  for (const CMediaType& type : PinMediaTypes(*pin.pin)) WriteMediaTypeJson(json, type);
  json.EndArray();
  json.EndObject();
}

void PrintPinText(const PinInfo& pin) {
  std::printf("pin %s track %u\n", NarrowName(pin.name).c_str(), pin.trackId);
  const std::vector<CMediaType> types = PinMediaTypes(*pin.pin);
  for (size_t index = 0; index < types.size(); ++index) PrintMediaTypeText(static_cast<int>(index), types[index]);
}

// The sources to show with their locations: the filter's, or those of a
// parse without the graph when the filter has none.
std::vector<std::pair<std::string, const CDarEdoSource*>> SourcesToShow(GraphSession& session,
                                                                         const std::string& input,
                                                                         const ParsedInput& parsed) {
  std::vector<std::pair<std::string, const CDarEdoSource*>> sources;
  CDarEdo* demux = session.Demux();
  if (demux != nullptr && demux->SourceCount() > 0) {
    for (size_t i = 0; i < demux->SourceCount(); ++i) {
      const std::wstring location = demux->SourceLocation(i);
      sources.emplace_back(location.empty() ? input : Utf8FromWide(location), &demux->Source(i));
    }
    return sources;
  }
  for (const ParsedSource& source : parsed.sources) sources.emplace_back(source.location, source.source.get());
  return sources;
}

}  // namespace

int RunInfoCommand(int argc, char** argv) {
  ToolArguments arguments;
  if (!ParseToolArguments(argc, argv, "info", &arguments)) return kExitUsage;
  const std::string& input = arguments.positional.front();

  GraphSession session;
  const HRESULT hr = session.Open(input);
  ParsedInput parsed;
  // A refused connection leaves the filter without sources; a parse of its
  // own shows how far the input got. Its result is the connection's.
  if (FAILED(hr)) OpenParsedInput(input, &parsed);
  const auto sources = SourcesToShow(session, input, parsed);
  std::vector<std::string> warnings;
  for (const auto& [location, source] : sources) {
    for (std::string& warning : TruncationWarnings(*source)) warnings.push_back(std::move(warning));
  }
  // As the filter answers GetDuration, which players show as the length.
  LONGLONG duration = 0;
  const bool hasDuration =
      SUCCEEDED(hr) && session.Demux() != nullptr && session.Demux()->GetDuration(&duration) == S_OK;
  const std::string module = ClassModulePath(CLSID_DarEdo);

  if (arguments.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("input").String(input);
    json.Key("result").String(HResultHex(hr));
    json.Key("module");
    if (module.empty()) {
      json.Null();
    } else {
      json.String(module);
    }
    if (hasDuration) json.Key("duration").Int(duration);
    WriteWarningsJson(json, warnings);
    json.Key("sources").BeginArray();
    for (const auto& [location, source] : sources) WriteSourceJson(json, location, *source);
    json.EndArray();
    json.Key("pins").BeginArray();
    for (const PinInfo& pin : session.Pins()) WritePinJson(json, pin);
    json.EndArray();
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
  } else {
    if (!module.empty()) std::printf("module %s\n", module.c_str());
    if (hasDuration) std::printf("duration %s (%lld in 100-ns units)\n", SecondsText(duration).c_str(), static_cast<long long>(duration));
    for (const auto& [location, source] : sources) PrintSourceText(location, *source);
    for (const PinInfo& pin : session.Pins()) PrintPinText(pin);
  }
  PrintWarnings("info", warnings);
  if (FAILED(hr)) PrintFailure("info", input, hr);
  return ExitStatusFor(hr);
}
