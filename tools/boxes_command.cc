// isodmx boxes [--json] INPUT: the box tree as the parser walks it, with
// the boxes that run past their parent or the input marked.
#include "commands.h"
#include "damage_warnings.h"
#include "json_writer.h"
#include "tool_common.h"

#include "container/box_tree.h"
#include "platform/fourcc.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr int kIndentPerLevel = 2;
constexpr BYTE kCopyrightSign = 0xA9;

// The boxes a box-structured file starts with. An unknown first box that
// also runs past the input is most likely not a box at all.
constexpr DWORD kLeadingBoxTypes[] = {
    FourCC("ftyp"), FourCC("styp"), FourCC("moov"), FourCC("mdat"), FourCC("free"), FourCC("skip"),
    FourCC("wide"), FourCC("pnot"), FourCC("uuid"), FourCC("moof"), FourCC("sidx"), FourCC("pdin"),
    FourCC("meta"), FourCC("jP  "),
};

LONGLONG EndOf(const BoxNode& box) { return box.offset + box.headerSize + box.payloadSize; }

// What is wrong with where a box ends, or "" when nothing is.
std::string OverrunText(const BoxNode& box, LONGLONG parentEnd, bool topLevel, LONGLONG inputLength) {
  const LONGLONG end = EndOf(box);
  if (!topLevel && end > parentEnd) {
    return "runs past the end of its parent (ends at byte " + std::to_string(end) + ", the parent at " +
           std::to_string(parentEnd) + ")";
  }
  if (end > inputLength) {
    return "runs past the end of the input (ends at byte " + std::to_string(end) + ", the input at " +
           std::to_string(inputLength) + ")";
  }
  return "";
}

void CollectOverruns(const std::vector<BoxNode>& boxes, LONGLONG parentEnd, bool topLevel, LONGLONG inputLength,
                     std::vector<std::string>* warnings) {
  for (const BoxNode& box : boxes) {
    const std::string overrun = OverrunText(box, parentEnd, topLevel, inputLength);
    if (!overrun.empty()) {
      warnings->push_back("box " + FourCCText(box.type) + " at byte " + std::to_string(box.offset) + " " + overrun);
    }
    CollectOverruns(box.children, EndOf(box), false, inputLength, warnings);
  }
}

bool PrintableType(DWORD type) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    const BYTE c = static_cast<BYTE>(type >> shift);
    if ((c < 0x20 || c > 0x7E) && c != kCopyrightSign) return false;
  }
  return true;
}

bool StartsLikeBoxes(const std::vector<BoxNode>& boxes, LONGLONG inputLength) {
  if (boxes.empty()) return inputLength == 0;
  const BoxNode& first = boxes.front();
  if (!PrintableType(first.type)) return false;
  const bool known = std::find(std::begin(kLeadingBoxTypes), std::end(kLeadingBoxTypes), first.type) !=
                     std::end(kLeadingBoxTypes);
  return known || EndOf(first) <= inputLength;
}

void PrintText(const std::vector<BoxNode>& boxes, int depth, LONGLONG parentEnd, LONGLONG inputLength) {
  for (const BoxNode& box : boxes) {
    const std::string overrun = OverrunText(box, parentEnd, depth == 0, inputLength);
    std::printf("%*s%s offset=%lld header=%lld payload=%lld%s%s\n", depth * kIndentPerLevel, "",
                FourCCText(box.type).c_str(), static_cast<long long>(box.offset),
                static_cast<long long>(box.headerSize), static_cast<long long>(box.payloadSize),
                overrun.empty() ? "" : "  <- ", overrun.c_str());
    PrintText(box.children, depth + 1, EndOf(box), inputLength);
  }
}

void WriteJsonBoxes(JsonWriter& json, const std::vector<BoxNode>& boxes) {
  json.BeginArray();
  for (const BoxNode& box : boxes) {
    json.BeginObject();
    json.Key("type").String(FourCCText(box.type));
    json.Key("offset").Int(box.offset);
    json.Key("headerSize").Int(box.headerSize);
    json.Key("payloadSize").Int(box.payloadSize);
    json.Key("children");
    WriteJsonBoxes(json, box.children);
    json.EndObject();
  }
  json.EndArray();
}

}  // namespace

int RunBoxesCommand(int argc, char** argv) {
  ToolArguments arguments;
  if (!ParseToolArguments(argc, argv, "boxes", &arguments)) return kExitUsage;
  const std::string& input = arguments.positional.front();

  std::vector<BoxNode> boxes;
  ComPtr<IAsyncReader> source;
  LONGLONG length = 0, available = 0;
  HRESULT hr = OpenInput(input, source.Put());
  if (SUCCEEDED(hr)) hr = source->Length(&length, &available);
  if (SUCCEEDED(hr)) hr = ReadBoxTree(source.Get(), &boxes);

  std::vector<std::string> warnings;
  const bool opened = source.Get() != nullptr;
  const bool startsLikeBoxes = !opened || StartsLikeBoxes(boxes, length);
  if (!startsLikeBoxes) {
    warnings.push_back("the input does not start like a box-structured file: its first bytes are not a box "
                       "header that fits in it");
    // What follows is noise read as boxes; the walk's word is not the
    // last one.
    if (SUCCEEDED(hr)) hr = VFW_E_INVALID_FILE_FORMAT;
  }
  if (opened) CollectOverruns(boxes, length, true, length, &warnings);

  if (arguments.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("input").String(input);
    json.Key("result").String(HResultHex(hr));
    WriteWarningsJson(json, warnings);
    json.Key("boxes");
    WriteJsonBoxes(json, boxes);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
  } else {
    PrintText(boxes, 0, length, length);
    // The overruns are marked in the tree itself.
    if (!startsLikeBoxes) PrintWarnings("boxes", {warnings.front()});
  }
  if (FAILED(hr)) PrintFailure("boxes", input, hr);
  return ExitStatusFor(hr);
}
