// The warnings about damaged input that `info`, `play`, `dump` and `extract`
// print and carry in their documents' "warnings": a file that ends before
// the samples its tables describe. Computed here once for all of them.
#pragma once

#include "json_writer.h"

#include "container/dar_edo_source.h"

#include <string>
#include <vector>

// One warning per track with samples beyond the end of its source: where
// the source ends, and how many of the track's samples lie past it. Walks
// the tables loaded now (for a fragmented track, those of the movie box and
// the fragments loaded so far) and loads nothing; call it while no stream
// runs.
std::vector<std::string> TruncationWarnings(const CDarEdoSource& source);

// The documents' "warnings": a list of texts, empty when nothing is wrong.
void WriteWarningsJson(JsonWriter& json, const std::vector<std::string>& warnings);

// Text output: "isodmx COMMAND: warning: ..." on standard error, one line each.
void PrintWarnings(const char* command, const std::vector<std::string>& warnings);
