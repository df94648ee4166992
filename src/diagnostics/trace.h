// Diagnostic trace lines. Off unless the environment switches them on:
// ISODMX_TRACE=stderr writes to standard error, any other non-empty value is
// a file path that lines are appended to. Tracing never changes a result.
//
// Lines are printf-style, formatted into 2048 characters, and begin with
// "\n" as their callers write them. Use DMX_TRACE so that the arguments are
// not even computed while tracing is off.
#pragma once

#include "platform/hresult.h"

#include <string>

inline constexpr int kTraceLineCapacity = 2048;

bool TraceEnabled();

void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

#define DMX_TRACE(...)                             \
  do {                                             \
    if (TraceEnabled()) TraceLine(__VA_ARGS__);    \
  } while (0)

// A 100-ns time in milliseconds for a trace line; the 64-bit extremes show
// as "MAX_INT64" and "MIN_INT64".
std::string TraceTime(REFERENCE_TIME time);

// An error code as text for a trace line.
inline std::string TraceError(HRESULT hr) { return HResultText(hr); }

// Closes a trace file (the module calls it when it may be unloaded); the next
// line opens it again.
void CloseTraceOutput();

// Tests: send every line to `capture` (appended) instead of the configured
// output, and switch tracing on; null restores the environment's choice.
void SetTraceCaptureForTesting(std::string* capture);
