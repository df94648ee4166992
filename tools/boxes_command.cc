// isodmx boxes [--json] INPUT: the box tree as the parser walks it.
#include "commands.h"
#include "json_writer.h"
#include "tool_common.h"

#include "container/box_tree.h"
#include "platform/fourcc.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kUsage[] = "boxes [--json] INPUT";
constexpr int kIndentPerLevel = 2;

void PrintText(const std::vector<BoxNode>& boxes, int depth) {
  for (const BoxNode& box : boxes) {
    std::printf("%*s%s offset=%lld header=%lld payload=%lld\n", depth * kIndentPerLevel, "",
                FourCCText(box.type).c_str(), static_cast<long long>(box.offset),
                static_cast<long long>(box.headerSize), static_cast<long long>(box.payloadSize));
    PrintText(box.children, depth + 1);
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
  if (!ParseToolArguments(argc, argv, kUsage, {}, {}, &arguments)) return 2;
  const std::string& input = arguments.positional.front();

  std::vector<BoxNode> boxes;
  ComPtr<IAsyncReader> source;
  HRESULT hr = OpenInput(input, source.Put());
  if (SUCCEEDED(hr)) hr = ReadBoxTree(source.Get(), &boxes);

  if (arguments.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("input").String(input);
    json.Key("result").String(HResultHex(hr));
    json.Key("boxes");
    WriteJsonBoxes(json, boxes);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
  } else {
    PrintText(boxes, 0);
  }
  if (FAILED(hr)) PrintFailure("boxes", hr);
  return ExitStatusFor(hr);
}
