// How the tool opens its INPUT: a local path, a "file://" location, an
// http, https or ftp URL, or a ".ism" manifest given by any of these. Every
// command's input handling goes through here.
#pragma once

#include "platform/async_reader.h"
#include "platform/guid.h"

#include <string>
#include <vector>

// A media file to parse: the input itself, or one a manifest names.
struct InputMedia {
  std::string location;
  DWORD trackId = 0;  // 0 keeps every track
};

bool IsUrlInput(const std::string& input);
// A name ending in ".ism", any letter case.
bool IsManifestInput(const std::string& input);

// The source filter for the graph (the URL source for a URL, the file
// source otherwise) and the name it loads.
CLSID SourceFilterClassFor(const std::string& input);
std::wstring SourceFilterNameFor(const std::string& input);

// The media files behind INPUT: a manifest's video then audio selection, or
// INPUT itself.
HRESULT ListInputMedia(const std::string& input, std::vector<InputMedia>* media);

// OpenInput of tool_common.h is defined here too: a URL opens as a URL, and
// a manifest opens its first media file.
