// isodmx boxes, run as a process: exit status, streams and document shape;
// and what every command says of a damaged file.
#include "support/box_builder.h"
#include "support/temporary_file.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(BoxesCommandTest, SampleListsItsTracksAndSucceeds) {
  const ToolRun run = RunTool(std::string("boxes --json file://") + ISODMX_SAMPLES + "/sample.mp4", " 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.rfind("{\"input\":", 0), 0u) << run.out;
  for (const char* word : {"\"result\":\"0x00000000\"", "{\"type\":\"stsd\",\"offset\":", "{\"type\":\"mp4a\""}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
}

// Every command names the parse result in its document and its message;
// boxes prints the tree so far.
TEST(DamagedFileTest, EveryCommandFailsWithTheParseResult) {
  BoxBuilder b;
  b.Box("ftyp").Box("moov", [&] { b.Box(BoxSize::Forced(300), "trak"); });
  const TemporaryFile file(b.Data());
  const std::pair<const char*, const char*> rows[] = {
      {"boxes", "\"type\":\"trak\""}, {"info", "\"pins\":[]"}, {"play", "\"pins\":[]"}, {"samples", "\"tracks\":[]"}};
  for (const auto& [command, word] : rows) {
    const ToolRun run = RunTool(std::string(command) + " --json " + file.Path(), " 2>&1");
    EXPECT_EQ(run.status, 1) << command;
    for (const char* expected : {"\"result\":\"0x8004022F\"", "0x8004022F VFW_E_INVALID_FILE_FORMAT", word}) {
      EXPECT_NE(run.out.find(expected), std::string::npos) << command << ": no " << expected << " in\n" << run.out;
    }
  }
  const ToolRun run = RunTool("boxes " + file.Path(), " 2>&1");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("ftyp offset=0 header=8 payload=0\nmoov offset=8", 0), 0u) << run.out;
}

}  // namespace
