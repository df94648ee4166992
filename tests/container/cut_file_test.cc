// Every real file of tests/data cut short at many offsets: the parse and a
// walk over every sample of every track end with a result, never a crash or
// a hang. Cuts fall on every byte of the movie box and at a stride through
// the rest; both kinds of memory source are used (one fails reads past its
// end, the other returns short reads).
#include "support/memory_source.h"

#include "container/dar_edo_source.h"
#include "container/field_reader.h"
#include "container/read_from_buffer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr size_t kStride = 61;
// More steps than any fixture has samples: a walk that gets here is stuck.
constexpr LONGLONG kMaxSteps = 1000000;

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// Where the top-level "moov" lies, found from the box sizes.
std::pair<size_t, size_t> MovieRange(const std::vector<uint8_t>& bytes) {
  size_t at = 0;
  while (at + 8 <= bytes.size()) {
    uint64_t size = LoadBigEndian32(&bytes[at]);
    const DWORD type = LoadBigEndian32(&bytes[at + 4]);
    if (size == 1 && at + 16 <= bytes.size()) size = LoadBigEndian64(&bytes[at + 8]);
    if (size < 8 || size > bytes.size() - at) size = bytes.size() - at;
    if (type == FourCC("moov")) return {at, at + size};
    at += size;
  }
  return {0, 0};
}

// Parses and walks; returns the parse result. The walk's results only have
// to exist.
HRESULT ParseAndWalk(IAsyncReader* reader) {
  CDarEdoSource source(reader, 0);
  HRESULT hr = E_FAIL;
  try {
    hr = source.ParseFile();
  } catch (const ArrayError& error) {
    return error.Result();
  }
  for (ULONG t = 0; t < source.TrackCount(); ++t) {
    trakBox& track = *source.Track(t);
    track.PreparePcmLayout();
    LONGLONG steps = 0;
    for (LONGLONG s = 0; steps < kMaxSteps; ++steps) {
      LONGLONG start = 0, end = 0, offset = 0, size = 0;
      LONG units = 0;
      if (track.GetSampleInfo(s, &start, &end, &offset, &size, &units) != S_OK) break;
      track.IsSyncSample(s);
      s += units > 0 ? units : 1;
    }
    EXPECT_LT(steps, kMaxSteps);
    track.GetMaxSampleSize();
    track.GetDefaultSampleDuration();
    LONGLONG sync = 0;
    track.PreviousSyncSampleAtTime(track.GetTotalDuration() / 2, &sync);
  }
  return hr;
}

class CutFileTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CutFileTest, EveryCutEndsWithAResult) {
  const std::vector<uint8_t> bytes = ReadFile(std::filesystem::path(ISODMX_TEST_DATA) / GetParam());
  ASSERT_FALSE(bytes.empty());
  const auto [movieStart, movieEnd] = MovieRange(bytes);
  size_t cuts = 0;
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    const bool inMovie = cut >= movieStart && cut <= movieEnd;
    if (!inMovie && cut % kStride != 0 && cut != bytes.size()) continue;
    ++cuts;
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    if (cut % 2 == 0) {
      ComPtr<IAsyncReader> memory = ComPtr<IAsyncReader>::Attach(new CReadFromBuffer);
      static_cast<CReadFromBuffer*>(memory.Get())->Assign(prefix.data(), static_cast<LONG>(prefix.size()));
      ParseAndWalk(memory.Get());
    } else {
      ParseAndWalk(MemorySource::Create(prefix).Get());
    }
  }
  // The whole file parses cleanly.
  EXPECT_EQ(ParseAndWalk(MemorySource::Create(bytes).Get()), S_OK);
  EXPECT_GT(cuts, movieEnd - movieStart);
}

std::vector<std::string> MediaFiles() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ISODMX_TEST_DATA)) {
    const std::string name = entry.path().filename().string();
    const std::string extension = entry.path().extension().string();
    if (extension == ".mp4" || extension == ".mov" || extension == ".m4a" || extension == ".ismv") {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(RealFiles, CutFileTest, ::testing::ValuesIn(MediaFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
