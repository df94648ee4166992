// Runs the isodmx tool as a process, as a user would, and collects what it
// prints on standard output. Header-only: ISODMX_TOOL is defined for test
// targets, not for the support library.
#pragma once

#include "support/json_value.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

struct ToolRun {
  int status = -1;
  std::string out;
};

// A shell command line and what it printed on standard output.
inline ToolRun RunCommand(const std::string& command) {
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// `stderrRedirect` is appended to the command line, e.g. " 2>&1" to fold
// standard error into the output or " 2>/dev/null" to drop it.
inline ToolRun RunTool(const std::string& arguments, const char* stderrRedirect = "") {
  return RunCommand(std::string(ISODMX_TOOL) + " " + arguments + stderrRedirect);
}

// As RunTool with a watchdog: a run that has not ended after `seconds` is
// killed and reported with status 124.
inline ToolRun RunToolWithin(int seconds, const std::string& arguments, const char* stderrRedirect = "") {
  return RunCommand("timeout -k 5 " + std::to_string(seconds) + " " + ISODMX_TOOL + " " + arguments + stderrRedirect);
}

// The document a run prints (standard error dropped); a failed expectation,
// and a null document, when it ends otherwise than with `status` or prints
// no JSON.
inline JsonValue RunJson(const std::string& arguments, int status = 0) {
  const ToolRun run = RunTool(arguments, " 2>/dev/null");
  EXPECT_EQ(run.status, status) << arguments << "\n" << run.out;
  const auto document = JsonValue::Parse(run.out);
  EXPECT_TRUE(document) << arguments << "\n" << run.out;
  return document.value_or(JsonValue{});
}
