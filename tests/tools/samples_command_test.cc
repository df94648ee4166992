// isodmx samples on built files; the real files are compared with ffprobe
// in real_files_test.cc.
#include "support/movie_builder.h"
#include "support/temporary_file.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

namespace {

// A constant-size track's walk ends at its sample count, not where its
// chunk table runs out: spare chunks, and a samples-per-chunk value that
// would list billions of rows.
TEST(SamplesCommandTest, ConstantSizeTrackListsItsSampleCountOnly) {
  for (const uint32_t perChunk : {2u, 0x7FFFFFFFu}) {
    TrackSpec track;
    track.entryBody.assign(70, 0);
    track.stts = {{3, 20}};
    track.stsc = {{1, perChunk, 1}};
    track.constantSize = 10;
    track.constantCount = 3;
    track.chunkOffsets = {0, 100, 200};
    BoxBuilder b;
    WriteMovie(b, {track});
    const TemporaryFile file(b.Data());
    const ToolRun run = RunToolWithin(60, "samples --json " + file.Path());
    ASSERT_EQ(run.status, 0) << perChunk;
    const auto document = JsonValue::Parse(run.out);
    ASSERT_TRUE(document) << run.out;
    EXPECT_EQ((*document)["sources"][0]["tracks"][0]["samples"].Size(), 3u) << perChunk;
  }
}

}  // namespace
