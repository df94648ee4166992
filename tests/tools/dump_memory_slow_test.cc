// dump on an input of a million samples: the rows stream out as they are
// delivered, so the tool's peak memory stays flat (a few MB) instead of
// growing with the sample count.
#include "support/box_builder.h"
#include "support/movie_builder.h"
#include "support/temporary_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uint32_t kSamples = 1000000;
constexpr long kPeakLimitKilobytes = 30 * 1024;

// One-byte samples, one chunk, all of them sync samples.
std::vector<uint8_t> MillionSampleFile() {
  TrackSpec track;
  track.format = "jpeg";
  track.entryBody = VisualEntryBody(16, 16);
  track.timescale = 1000;
  track.mediaDuration = kSamples;
  track.stts = {{kSamples, 1}};
  track.stsc = {{1, kSamples, 1}};
  track.constantSize = 1;
  track.constantCount = kSamples;
  track.chunkOffsets = {0};
  const auto build = [&] {
    BoxBuilder b;
    b.Box("ftyp", [&] { b.Bytes({'i', 's', 'o', 'm', 0, 0, 0, 0}); });
    WriteMovie(b, {track});
    return b;
  };
  // The chunk offset's width is fixed: a first pass finds where "mdat"'s
  // payload begins.
  track.chunkOffsets = {build().Size() + 8};
  BoxBuilder b = build();
  b.Box("mdat", [&] { b.Zeros(kSamples); });
  return b.Data();
}

// Runs the tool with standard output and error discarded; the child's peak
// resident size in kilobytes, or -1 when it did not exit with `status`.
long PeakKilobytesOfRun(const std::vector<std::string>& arguments, int status) {
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(ISODMX_TOOL)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(ISODMX_TOOL, argv.data());
    _exit(127);
  }
  int waited = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &waited, 0, &usage) != child) return -1;
  if (!WIFEXITED(waited) || WEXITSTATUS(waited) != status) return -1;
  return usage.ru_maxrss;
}

TEST(DumpMemoryTest, AMillionRowsStreamOutInFlatMemory) {
  const TemporaryFile file(MillionSampleFile());
  for (const char* format : {static_cast<const char*>("--json"), static_cast<const char*>(nullptr)}) {
    std::vector<std::string> arguments{"dump", file.Path()};
    if (format != nullptr) arguments.insert(arguments.begin() + 1, format);
    const long peak = PeakKilobytesOfRun(arguments, 0);
    EXPECT_GT(peak, 0) << (format ? format : "text");
    EXPECT_LT(peak, kPeakLimitKilobytes) << (format ? format : "text");
  }
}

}  // namespace
