// isodmx boxes, run as a process: exit status, streams and document shape.
#include "support/box_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ToolRun {
  int status;
  std::string out;
};

// Runs the tool with stderr folded into the output after stdout's text.
ToolRun RunTool(const std::string& arguments) {
  const std::string command = std::string(ISODMX_TOOL) + " " + arguments + " 2>&1";
  ToolRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string WriteTemporary(const std::vector<uint8_t>& bytes) {
  std::string path = testing::TempDir() + "boxes_command_test_" + std::to_string(getpid()) + ".mp4";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(BoxesCommandTest, SampleListsItsTracksAndSucceeds) {
  const ToolRun run = RunTool(std::string("boxes --json file://") + ISODMX_SAMPLES + "/sample.mp4");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.rfind("{\"input\":", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\"result\":\"0x00000000\""), std::string::npos);
  EXPECT_NE(run.out.find("{\"type\":\"stsd\",\"offset\":"), std::string::npos);
  EXPECT_NE(run.out.find("{\"type\":\"mp4a\""), std::string::npos);
}

TEST(BoxesCommandTest, MalformedFilePrintsTheTreeSoFarAndFailsWithTheCode) {
  BoxBuilder b;
  b.Box("ftyp").Box("moov", [&] { b.Box(BoxSize::Forced(300), "trak"); });
  const std::string path = WriteTemporary(b.Data());
  ToolRun run = RunTool("boxes --json " + path);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("\"result\":\"0x8004022F\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"type\":\"trak\""), std::string::npos);
  EXPECT_NE(run.out.find("0x8004022F VFW_E_INVALID_FILE_FORMAT"), std::string::npos) << run.out;

  run = RunTool("boxes " + path);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("ftyp offset=0 header=8 payload=0\nmoov offset=8", 0), 0u) << run.out;
  std::remove(path.c_str());
}

TEST(BoxesCommandTest, MissingInputAndUsageErrorsAreReported) {
  EXPECT_EQ(RunTool("boxes /nonexistent/input.mp4").status, 1);
  EXPECT_EQ(RunTool("boxes").status, 2);
  EXPECT_EQ(RunTool("boxes --frobnicate x.mp4").status, 2);
}

}  // namespace
