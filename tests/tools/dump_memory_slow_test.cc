// dump on an input of a million samples: the rows stream out as they are
// delivered, so the tool's peak memory stays flat (a few MB) instead of
// growing with the sample count.
#include "support/box_builder.h"
#include "support/movie_builder.h"
#include "support/temporary_file.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/resource.h>

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

TEST(DumpMemoryTest, AMillionRowsStreamOutInFlatMemory) {
  const TemporaryFile file(MillionSampleFile());
  for (const char* format : {"--json ", ""}) {
    EXPECT_EQ(RunTool(std::string("dump ") + format + file.Path(), " >/dev/null 2>&1").status, 0) << format;
    // The largest peak resident size of the processes run so far.
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_GT(usage.ru_maxrss, 0) << format;
    EXPECT_LT(usage.ru_maxrss, kPeakLimitKilobytes) << format;
  }
}

}  // namespace
