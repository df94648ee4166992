// Every real file of tests/data whole and cut short at many offsets. Whole,
// its top-level boxes tile it and it parses cleanly. Cut, the box tree, the
// parse and a walk over every sample of every track end with a result, never
// a crash or a hang. Cuts fall on every byte of the movie box and at a
// stride through the rest; both kinds of memory source are used (one fails
// reads past its end, the other returns short reads).
#include "support/box_builder.h"
#include "support/json_value.h"
#include "support/memory_source.h"

#include "container/box_tree.h"
#include "container/dar_edo_source.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr size_t kStride = 61;
// More steps than any fixture has samples: a walk that gets here is stuck.
constexpr LONGLONG kMaxSteps = 1000000;

// Parses and walks; returns the parse result. The walk's results only have
// to exist.
HRESULT ParseAndWalk(IAsyncReader* reader, bool readLeafBodies = false) {
  std::vector<BoxNode> boxes;
  ReadBoxTree(reader, &boxes, {.readLeafBodies = readLeafBodies});
  CDarEdoSource source(reader, 0);
  const HRESULT hr = source.ParseFile();
  for (ULONG t = 0; t < source.TrackCount(); ++t) {
    trakBox& track = *source.Track(t);
    track.PreparePcmLayout();
    LONGLONG steps = 0;
    LONGLONG start = 0, end = 0, offset = 0, size = 0;
    LONG units = 0;
    for (LONGLONG s = 0; steps < kMaxSteps && track.GetSampleInfo(s, &start, &end, &offset, &size, &units) == S_OK;
         ++steps) {
      track.IsSyncSample(s);
      s += units > 0 ? units : 1;
    }
    EXPECT_LT(steps, kMaxSteps);
    track.GetMaxSampleSize();
    track.PreviousSyncSampleAtTime(track.GetTotalDuration() / 2, &start);
  }
  return hr;
}

TEST(CutFileTest, RealFilesTileAndEveryCutEndsWithAResult) {
  size_t files = 0;
  for (const char* folder : {ISODMX_TEST_DATA, ISODMX_SAMPLES}) {
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
      const std::string extension = file.path().extension().string();
      if (extension != ".mp4" && extension != ".mov" && extension != ".m4a" && extension != ".ismv") continue;
      ++files;
      SCOPED_TRACE(file.path().string());
      const std::string text = ReadTextFile(file.path().string()).value();
      const std::vector<uint8_t> bytes(text.begin(), text.end());
      std::vector<BoxNode> boxes;
      ASSERT_EQ(ReadBoxTree(MemorySource::Create(bytes).Get(), &boxes), S_OK);
      LONGLONG end = 0, movieStart = 0, movieEnd = 0;
      for (const BoxNode& box : boxes) {
        EXPECT_EQ(box.offset, end);
        end = box.offset + box.headerSize + box.payloadSize;
        if (box.type == FourCC("moov")) movieStart = box.offset, movieEnd = end;
      }
      EXPECT_EQ(end, static_cast<LONGLONG>(bytes.size()));
      ASSERT_NE(movieEnd, 0);
      EXPECT_EQ(ParseAndWalk(MemorySource::Create(bytes).Get()), S_OK);
      for (size_t cut = 0; cut < bytes.size(); ++cut) {
        const bool inMovie = static_cast<LONGLONG>(cut) >= movieStart && static_cast<LONGLONG>(cut) <= movieEnd;
        if (!inMovie && cut % kStride != 0) continue;
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        ParseAndWalk(cut % 2 == 0 ? MakeMemoryReader(prefix).Get() : MemorySource::Create(prefix).Get(), !inMovie);
      }
    }
  }
  EXPECT_GT(files, 10u);
}

}  // namespace
