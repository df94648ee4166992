#include "diagnostics/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct TraceState {
  std::mutex mutex;  // guards everything below; taken last, held only to write
  std::string path;  // empty: standard error
  FILE* file = nullptr;
  std::string* capture = nullptr;
};

TraceState& State() {
  static TraceState state;
  return state;
}

std::atomic<int> enabled{-1};  // -1: environment not read yet

bool ReadEnvironment() {
  const char* setting = std::getenv("ISODMX_TRACE");
  if (setting == nullptr || *setting == '\0') return false;
  TraceState& state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  if (std::strcmp(setting, "stderr") != 0) state.path = setting;
  return true;
}

}  // namespace

bool TraceEnabled() {
  int value = enabled.load(std::memory_order_relaxed);
  if (value < 0) {
    value = ReadEnvironment() ? 1 : 0;
    enabled.store(value, std::memory_order_relaxed);
  }
  return value != 0;
}

void TraceLine(const char* format, ...) {
  if (!TraceEnabled()) return;
  char line[kTraceLineCapacity];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);

  TraceState& state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  if (state.capture != nullptr) {
    state.capture->append(line);
    return;
  }
  if (state.path.empty()) {
    std::fputs(line, stderr);
    return;
  }
  if (state.file == nullptr) state.file = std::fopen(state.path.c_str(), "a");
  if (state.file != nullptr) {
    std::fputs(line, state.file);
    std::fflush(state.file);
  }
}

std::string TraceTime(REFERENCE_TIME time) {
  if (time == INT64_MAX) return "MAX_INT64";
  if (time == INT64_MIN || time == -INT64_MAX) return "MIN_INT64";
  char text[32];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(time / 10000));
  return text;
}

void CloseTraceOutput() {
  TraceState& state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  if (state.file != nullptr) {
    std::fclose(state.file);
    state.file = nullptr;
  }
}

void SetTraceCaptureForTesting(std::string* capture) {
  TraceState& state = State();
  {
    std::lock_guard<std::mutex> hold(state.mutex);
    state.capture = capture;
  }
  enabled.store(capture != nullptr ? 1 : (ReadEnvironment() ? 1 : 0), std::memory_order_relaxed);
}
