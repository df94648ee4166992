// ParseFile: the top-level walk, the movie header, the compressed movie
// header and which tracks are kept.
#include "support/box_builder.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"

#include "container/dar_edo_source.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace {

TrackSpec SimpleTrack(uint32_t trackId) {
  TrackSpec track;
  track.trackId = trackId;
  track.stts = {{2, 10}};
  track.stsc = {{1, 2, 1}};
  track.sizes = {5, 6};
  track.chunkOffsets = {100};
  return track;
}

std::vector<DWORD> TrackIds(const ParsedMovie& movie) {
  std::vector<DWORD> ids;
  for (ULONG i = 0; i < movie.source->TrackCount(); ++i) ids.push_back(movie.Track(i).trackId);
  return ids;
}

void WriteMovieHeader(BoxBuilder& b, uint8_t version, uint32_t timescale, uint64_t duration, bool withMatrix = true) {
  b.FullBox("mvhd", version, 0, [&] {
    if (version == 1) {
      b.U64(0).U64(0).U32(timescale).U64(duration);
    } else {
      b.U32(0).U32(0).U32(timescale).U32(static_cast<uint32_t>(duration));
    }
    if (!withMatrix) return;
    b.U32(0x00010000).U16(0x0100).Zeros(10);
    for (uint32_t value : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u}) b.U32(value);
    b.Zeros(24).U32(2);
  });
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& bytes) {
  uLongf size = compressBound(bytes.size());
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress(out.data(), &size, bytes.data(), bytes.size()), Z_OK);
  out.resize(size);
  return out;
}

// A "moov" holding only a compressed header of `inner`, inside a file that
// also has an "mdat" before it.
BoxBuilder CompressedMovieFile(const char (&compressor)[5], const std::vector<uint8_t>& compressed,
                               uint32_t expandedSize) {
  BoxBuilder b;
  b.Box("ftyp", [&] { b.FourCC("qt  ").U32(0); });
  b.Box("mdat", [&] { b.Zeros(64); });
  b.Box("moov", [&] {
    b.Box("cmov", [&] {
      b.Box("dcom", [&] { b.FourCC(compressor); });
      b.Box("cmvd", [&] { b.U32(expandedSize).Bytes(compressed); });
    });
  });
  return b;
}

TEST(MovieParserTest, MoovAfterLargeSizedMdatIsFound) {
  BoxBuilder b;
  b.Box("ftyp", [&] { b.FourCC("isom").U32(0); });
  b.Box(BoxSize::Large(), "mdat", [&] { b.Zeros(300); });
  WriteMovie(b, {SimpleTrack(1)});
  const ParsedMovie movie = ParseMovie(b);
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(TrackIds(movie), std::vector<DWORD>{1});
}

TEST(MovieParserTest, FileWithoutMoovParsesToNoTracks) {
  BoxBuilder b;
  b.Box("ftyp", [&] { b.FourCC("isom").U32(0); });
  b.Box("mdat", [&] { b.Zeros(16); });
  const ParsedMovie movie = ParseMovie(MemorySource::Create(b.Data()).Get());
  EXPECT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.source->TrackCount(), 0u);
  EXPECT_FALSE(movie.source->movieBox);
}

TEST(MovieParserTest, MovieHeaderDurationIsConvertedAndTruncated) {
  struct Case {
    uint8_t version;
    uint32_t timescale;
    uint64_t duration;
    LONGLONG durationRef;
  };
  const Case cases[] = {
      {0, 600, 1800, 30000000},
      {1, 90000, 1, 111},
      {1, 1000, 1ull << 40, 10995116277760000},
      // No timescale: no duration instead of a division by zero.
      {0, 0, 1800, 0},
  };
  for (const Case& c : cases) {
    BoxBuilder b;
    b.Box("moov", [&] { WriteMovieHeader(b, c.version, c.timescale, c.duration); });
    const ParsedMovie movie = ParseMovie(b);
    ASSERT_EQ(movie.result, S_OK);
    ASSERT_TRUE(movie.source->movieHeader);
    EXPECT_EQ(movie.source->movieHeader->durationRef, c.durationRef) << "timescale " << c.timescale;
    EXPECT_EQ(movie.source->movieHeader->timescale, c.timescale);
    EXPECT_EQ(movie.source->movieHeader->matrix[8], 9u);
  }
}

TEST(MovieParserTest, MovieHeaderEndingAfterDurationFailsTheParse) {
  BoxBuilder b;
  b.Box("moov", [&] { WriteMovieHeader(b, 0, 600, 1800, false); });
  EXPECT_EQ(ParseMovie(b).result, STG_E_INVALIDHEADER);
}

TEST(MovieParserTest, SecondMovieHeaderIsIgnored) {
  BoxBuilder b;
  b.Box("moov", [&] {
    WriteMovieHeader(b, 0, 600, 1800);
    WriteMovieHeader(b, 0, 1000, 1000);
    WriteTrack(b, SimpleTrack(1));
  });
  const ParsedMovie movie = ParseMovie(b);
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.source->movieHeader->timescale, 600u);
  EXPECT_EQ(TrackIds(movie), std::vector<DWORD>{1});
}

TEST(MovieParserTest, WantedTrackIdKeepsOnlyThatTrack) {
  BoxBuilder b;
  WriteMovie(b, {SimpleTrack(1), SimpleTrack(2), SimpleTrack(3)});
  EXPECT_EQ(TrackIds(ParseMovie(b, 2)), std::vector<DWORD>{2});
  EXPECT_EQ(TrackIds(ParseMovie(b, 0)), (std::vector<DWORD>{1, 2, 3}));
  const ParsedMovie none = ParseMovie(b, 7);
  EXPECT_EQ(none.result, S_OK);
  EXPECT_EQ(none.source->TrackCount(), 0u);
}

TEST(MovieParserTest, TrackLargerThanMoovFailsTheParse) {
  BoxBuilder b;
  b.Box("moov", [&] {
    WriteMovieHeader(b, 0, 600, 1800);
    b.Box(BoxSize::Forced(4000), "trak", [&] { b.Zeros(8); });
  });
  EXPECT_EQ(ParseMovie(b).result, VFW_E_INVALID_FILE_FORMAT);
}

class CompressedMovieTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> InnerMovie() {
    BoxBuilder inner;
    WriteMovie(inner, {SimpleTrack(4), SimpleTrack(5)});
    return inner.Data();
  }
};

TEST_F(CompressedMovieTest, ZlibHeaderYieldsInnerTracksReadingTheFile) {
  const std::vector<uint8_t> inner = InnerMovie();
  const BoxBuilder b = CompressedMovieFile("zlib", Deflate(inner), static_cast<uint32_t>(inner.size()));
  ComPtr<IAsyncReader> file = b.Reader();
  const ParsedMovie movie = ParseMovie(file.Get());
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(TrackIds(movie), (std::vector<DWORD>{4, 5}));
  ASSERT_TRUE(movie.source->compressedHeader);
  EXPECT_TRUE(movie.source->innerMovieBox);
  EXPECT_EQ(movie.source->movieHeader->timescale, 600u);
  // The tracks were parsed from memory but deliver from the file.
  for (ULONG i = 0; i < movie.source->TrackCount(); ++i) EXPECT_EQ(movie.Track(i).Reader(), file.Get());
  EXPECT_EQ(movie.source->reader.Get(), file.Get());
  // The walk resumes in the file, not in the expanded bytes.
  EXPECT_EQ(movie.source->position, static_cast<LONGLONG>(b.Size()));
}

TEST_F(CompressedMovieTest, UnknownCompressorLeavesOuterMovie) {
  const std::vector<uint8_t> inner = InnerMovie();
  const BoxBuilder b = CompressedMovieFile("lzma", Deflate(inner), static_cast<uint32_t>(inner.size()));
  const ParsedMovie movie = ParseMovie(b);
  EXPECT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.source->TrackCount(), 0u);
}

TEST_F(CompressedMovieTest, StreamThatDoesNotInflateIsInvalidArg) {
  const std::vector<uint8_t> inner = InnerMovie();
  std::vector<uint8_t> corrupt = Deflate(inner);
  corrupt.resize(corrupt.size() / 2);
  const BoxBuilder cut = CompressedMovieFile("zlib", corrupt, static_cast<uint32_t>(inner.size()));
  EXPECT_EQ(ParseMovie(cut).result, E_INVALIDARG);
  const BoxBuilder garbage = CompressedMovieFile("zlib", {1, 2, 3, 4, 5, 6, 7, 8}, 64);
  EXPECT_EQ(ParseMovie(garbage).result, E_INVALIDARG);
}

TEST_F(CompressedMovieTest, ExpandedSizeNoStreamCouldReachIsRefusedBeforeReserving) {
  const std::vector<uint8_t> inner = InnerMovie();
  const BoxBuilder b = CompressedMovieFile("zlib", Deflate(inner), 0x7FFFFFF0);
  EXPECT_EQ(ParseMovie(b).result, E_INVALIDARG);
}

TEST_F(CompressedMovieTest, CompressedHeaderInsideExpandedOneIsNotExpandedAgain) {
  const std::vector<uint8_t> innermost = InnerMovie();
  BoxBuilder middle;
  middle.Box("moov", [&] {
    middle.Box("cmov", [&] {
      middle.Box("dcom", [&] { middle.FourCC("zlib"); });
      middle.Box("cmvd", [&] { middle.U32(static_cast<uint32_t>(innermost.size())).Bytes(Deflate(innermost)); });
    });
    WriteTrack(middle, SimpleTrack(9));
  });
  const BoxBuilder b = CompressedMovieFile("zlib", Deflate(middle.Data()), static_cast<uint32_t>(middle.Size()));
  const ParsedMovie movie = ParseMovie(b);
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(TrackIds(movie), std::vector<DWORD>{9});
}

}  // namespace
