// isodmx boxes, run as a process: exit status, streams and document shape;
// and what every command says of a damaged file.
#include "support/tool_process.h"
#include "support/box_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Standard error follows standard output's text.
ToolRun RunToolWithErrors(const std::string& arguments) { return RunTool(arguments, " 2>&1"); }


std::string WriteTemporary(const std::vector<uint8_t>& bytes) {
  std::string path = testing::TempDir() + "boxes_command_test_" + std::to_string(getpid()) + ".mp4";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(BoxesCommandTest, SampleListsItsTracksAndSucceeds) {
  const ToolRun run = RunToolWithErrors(std::string("boxes --json file://") + ISODMX_SAMPLES + "/sample.mp4");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.rfind("{\"input\":", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\"result\":\"0x00000000\""), std::string::npos);
  EXPECT_NE(run.out.find("{\"type\":\"stsd\",\"offset\":"), std::string::npos);
  EXPECT_NE(run.out.find("{\"type\":\"mp4a\""), std::string::npos);
}

// Every command names the parse result in its document and its message;
// boxes prints the tree so far.
TEST(DamagedFileTest, EveryCommandFailsWithTheParseResult) {
  BoxBuilder b;
  b.Box("ftyp").Box("moov", [&] { b.Box(BoxSize::Forced(300), "trak"); });
  const std::string path = WriteTemporary(b.Data());
  const std::pair<const char*, const char*> rows[] = {
      {"boxes", "\"type\":\"trak\""}, {"info", "\"pins\":[]"}, {"play", "\"pins\":[]"}, {"samples", "\"tracks\":[]"}};
  for (const auto& [command, word] : rows) {
    const ToolRun run = RunToolWithErrors(std::string(command) + " --json " + path);
    EXPECT_EQ(run.status, 1) << command;
    for (const char* expected : {"\"result\":\"0x8004022F\"", "0x8004022F VFW_E_INVALID_FILE_FORMAT", word}) {
      EXPECT_NE(run.out.find(expected), std::string::npos) << command << ": no " << expected << " in\n" << run.out;
    }
  }

  const ToolRun run = RunToolWithErrors("boxes " + path);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("ftyp offset=0 header=8 payload=0\nmoov offset=8", 0), 0u) << run.out;
  std::remove(path.c_str());
}

}  // namespace
