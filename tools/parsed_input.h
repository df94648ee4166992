// Opening and parsing an input the way the filter will: the path or
// "file://" location as a byte source behind the block cache, one
// CDarEdoSource over it, ParseFile with the streams layer's sample entries
// and FindMovieFragmentRandomAccess, then the PCM layout of every track.
// Shared by the commands that look at the container model without a graph
// (`samples`, `info`).
#pragma once

#include "container/dar_edo_source.h"

#include <memory>
#include <string>
#include <vector>

struct ParsedSource {
  // The location the source was opened from.
  std::string location;
  std::unique_ptr<CDarEdoSource> source;
};

struct ParsedInput {
  // Every source opened, also when its parse failed (its tracks are then
  // whatever was kept before the failure).
  std::vector<ParsedSource> sources;
};

// Opens and parses INPUT. Returns the first failure of opening or parsing
// (an out-of-memory raised by the model included); *out holds what was
// opened either way.
HRESULT OpenParsedInput(const std::string& input, ParsedInput* out);
