// The tool as a user meets it: bad invocations (exit status and the words
// the one-line message must hold), help and version, what play and dump
// report, and the warnings for damaged input that every command gives.
#include "support/temporary_file.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string kSample = std::string(ISODMX_SAMPLES) + "/sample.mp4";
const std::string kAudioOnly = std::string(ISODMX_TEST_DATA) + "/aac_only.m4a";
const std::string kBframes = std::string(ISODMX_TEST_DATA) + "/h264_bframes.mp4";

struct Invocation {
  std::string arguments;
  int status;
  std::vector<std::string> words;
};

void PrintTo(const Invocation& invocation, std::ostream* out) { *out << invocation.arguments; }

class ToolInvocationTest : public testing::TestWithParam<Invocation> {};

// The arguments before the first path, as an identifier: "3_play_start_1_".
std::string InvocationName(const testing::TestParamInfo<Invocation>& info) {
  std::string name = std::to_string(info.index) + "_";
  for (char c : info.param.arguments.substr(0, info.param.arguments.find('/'))) {
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  return name;
}

TEST_P(ToolInvocationTest, ExitsWithItsStatusAndSaysWhy) {
  const Invocation& invocation = GetParam();
  const ToolRun run = RunTool(invocation.arguments, " 2>&1");
  EXPECT_EQ(run.status, invocation.status) << invocation.arguments << "\n" << run.out;
  for (const std::string& word : invocation.words) {
    EXPECT_NE(run.out.find(word), std::string::npos) << invocation.arguments << ": no '" << word << "' in\n" << run.out;
  }
  // A usage error is one line.
  if (invocation.status == 2) {
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    BadInvocations, ToolInvocationTest,
    testing::Values(
        Invocation{"play --start -1 " + kSample, 2, {"isodmx play: --start -1", "seconds from 0"}},
        Invocation{"play --start inf " + kSample, 2, {"--start inf: not allowed"}},
        Invocation{"play --start 1.5 --stop 0.5 " + kSample, 2, {"--stop 0.5", "before --start 1.5"}},
        Invocation{"play --rate 0 " + kSample, 2, {"--rate 0", "from 0.001 to 1000"}},
        Invocation{"play --rate nan " + kSample, 2, {"--rate nan"}},
        Invocation{"play --rate=-inf " + kSample, 2, {"--rate -inf"}},
        Invocation{"play --rate 1e308 " + kSample, 2, {"--rate 1e308"}},
        Invocation{"dump --pin 99 " + kSample, 2, {"--pin 99", "2 output pins"}},
        Invocation{"dump --pin 0 " + kSample, 2, {"--pin 0", "from 1"}},
        Invocation{"play --frames " + kAudioOnly, 2, {"--frames", "no video"}},
        Invocation{"play --frames --start 1.5 " + kSample, 2, {"--start 1.5", "whole frame number"}},
        Invocation{"play --frob " + kSample, 2, {"unknown option --frob", "--rate"}},
        Invocation{"boxes --pin 1 " + kSample, 2, {"unknown option --pin", "boxes takes --json"}},
        Invocation{"play", 2, {"expected one INPUT"}},
        Invocation{"play " + kSample + " " + kSample, 2, {"expected one INPUT, got 2"}},
        Invocation{"play " + kSample + " --start", 2, {"--start needs a value"}},
        Invocation{"play --json=yes " + kSample, 2, {"--json takes no value"}},
        Invocation{"extract " + kSample, 2, {"needs -o DIR"}},
        Invocation{"frobnicate", 2, {"unknown command 'frobnicate'"}},
        Invocation{"play /nonexistent/clip.mp4", 1,
                   {"isodmx play: /nonexistent/clip.mp4: no such file (0x80070002 ERROR_FILE_NOT_FOUND)"}},
        Invocation{"info " + std::string(ISODMX_TEST_DATA), 1, {"is a directory (0x80070005"}},
        Invocation{"extract " + kSample + " -o /proc/version/tracks", 1,
                   {"isodmx extract: /proc/version/tracks: cannot create the output folder"}},
        Invocation{"boxes " + std::string(ISODMX_TEST_DATA) + "/make.sh", 1,
                   {"does not start like a box-structured file", "VFW_E_INVALID_FILE_FORMAT"}},
        // What a user asks for help and gets.
        Invocation{"help play", 0, {"usage: isodmx play", "--rate R", "example:\n  isodmx play"}},
        Invocation{"dump --help", 0, {"--pin N", "example:"}},
        Invocation{"-h", 0, {"isodmx extract", "isodmx registry", "--media-type N", "Exit status"}},
        Invocation{"--version", 0, {"isodmx 0."}},
        Invocation{"play --start=1 --stop=1.5 " + kSample, 0,
                   {"EC_COMPLETE", "new segment 1.000 s to 1.500 s", "no preroll samples"}}),
    InvocationName);

// What play and dump report per pin (counts, first start, segment, end of
// stream) and of the graph (its completion). Video has key frames every
// 0.5 s, audio frames of 1024 samples at 48 kHz.
INSTANTIATE_TEST_SUITE_P(
    Playback, ToolInvocationTest,
    testing::Values(
        Invocation{"play " + kBframes, 0,
                   {"Output 01 (track 1, Video avc1): 48 samples", "4 sync samples, no preroll samples, 1 discontinuity\n"
                    "  first start 0.000 s (0)", "end-of-stream\n  new segment 0.000 s to 2.021 s at rate 1\nOutput 02",
                    "Output 02 (track 2, Audio mp4a): 95 samples", "95 sync samples, no preroll samples, 1 discontinuity\n"
                    "  first start 0.000 s (0)", "end-of-stream\n  new segment 0.000 s to 2.021 s at rate 1\nevent EC_COMPLETE"}},
        // 1 s at rate 2: video starts a key frame early and audio at the
        // frame holding the start (46), so both are stamped before it, at
        // half their distance.
        Invocation{"play --start 1 --rate 2 " + kBframes, 0,
                   {"Video avc1): 36 samples", "first start -0.250 s (-2500000)",
                    "new segment 1.000 s to 2.021 s at rate 2\nOutput 02", "first start -0.009 s (-93333)",
                    "new segment 1.000 s to 2.021 s at rate 2\nevent"}},
        // Frame 24 is the time of video sample 24: 1 s.
        Invocation{"play --frames --start 24 " + kBframes, 0,
                   {"Video avc1): 36 samples", "new segment 1.000 s to 2.000 s at rate 1\nOutput 02"}},
        // The stop cuts after the first sample that ends past it.
        Invocation{"play --stop 0.5 " + kBframes, 0,
                   {"Video avc1): 13 samples", "new segment 0.000 s to 0.500 s at rate 1\nOutput 02"}},
        // Newest key frame first, each stamped after the one before.
        Invocation{"dump --start 1.9 --rate -1 " + kBframes, 0,
                   {"  1      3583333      4000000         36         37    1",
                    "  1      8583333      9000000         24         25    1",
                    "  1     13583333     14000000         12         13    1",
                    "  1     18583333     19000000          0          1    1", "Video avc1): 4 samples",
                    "new segment 1.900 s to 0.000 s at rate -1\nOutput 02 (track 2, Audio mp4a): no samples",
                    "first start none, last stop none, end-of-stream\nevent EC_COMPLETE"}}),
    InvocationName);

// Cut short in its "mdat": 14 of the 50 video samples and 28 of the 88
// audio samples lie beyond the end. Every command that reads samples warns
// where the file ends; boxes marks the box that runs past it; extract still
// writes what was delivered.
TEST(TruncatedInputTest, EveryCommandWarnsWhereTheFileEnds) {
  const std::string sample = ReadTextFile(kSample).value_or("");
  const TemporaryFile file(std::vector<uint8_t>(sample.begin(), sample.begin() + std::min<size_t>(30000, sample.size())));
  const std::string dir = testing::TempDir() + "truncated_extract_" + std::to_string(getpid());
  for (const std::string command : {"info", "play", "dump", "extract"}) {
    const JsonValue document = RunJson(command + " --json " + file.Path() + (command == "extract" ? " -o " + dir : ""));
    const JsonValue& warnings = document["warnings"];
    ASSERT_EQ(warnings.Size(), 2u) << command;
    EXPECT_NE(warnings[0].String().find("ends at byte 30000, before the end of 14 of the 50 samples of track 1"),
              std::string::npos)
        << warnings[0].String();
    EXPECT_NE(warnings[1].String().find("28 of the 88 samples of track 2"), std::string::npos);
    if (command != "extract") continue;
    for (size_t k = 0; k < 2; ++k) {
      const std::string output = dir + "/output0" + std::to_string(k + 1) + ".bin";
      EXPECT_EQ(static_cast<int64_t>(std::filesystem::exists(output) ? std::filesystem::file_size(output) : 0),
                document["pins"][k]["bytes"].Int());
    }
  }
  std::filesystem::remove_all(dir);

  const ToolRun text = RunTool("play " + file.Path(), " 2>&1");
  EXPECT_NE(text.out.find("isodmx play: warning: the input ends at byte 30000"), std::string::npos) << text.out;
  const ToolRun boxes = RunTool("boxes " + file.Path(), " 2>&1");
  EXPECT_EQ(boxes.status, 0);
  EXPECT_NE(boxes.out.find("mdat offset=2975 header=8 payload=39370  <- runs past the end of the input"),
            std::string::npos)
      << boxes.out;
  EXPECT_EQ(RunJson("boxes --json " + file.Path())["warnings"].Size(), 1u);
}

}  // namespace
