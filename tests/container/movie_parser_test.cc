// ParseFile: the top-level walk, the movie header, the compressed movie
// header, which tracks are kept, and the track box with its headers and the
// sample entry made at the end of the "minf" walk.
#include "support/box_builder.h"
#include "support/movie_builder.h"

#include "container/dar_edo_source.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;

TrackSpec SimpleTrack(uint32_t trackId) {
  TrackSpec track;
  track.trackId = trackId;
  return track;
}

std::vector<DWORD> TrackIds(const ParsedMovie& movie) {
  std::vector<DWORD> ids;
  for (ULONG i = 0; i < movie.source->TrackCount(); ++i) ids.push_back(movie.Track(i).trackId);
  return ids;
}

// Version 1 headers have 64-bit times and duration.
void WriteTimes(BoxBuilder& b, uint8_t version, uint32_t timescale, uint64_t duration) {
  version == 1 ? b.U64(1).U64(2).U32(timescale).U64(duration)
               : b.U32(1).U32(2).U32(timescale).U32(static_cast<uint32_t>(duration));
}

TEST(MovieParserTest, MovieHeaderDurationIsConvertedAndTruncated) {
  // {version, timescale, duration, in 100-ns units}; no timescale gives no
  // duration instead of a division by zero.
  const std::tuple<uint8_t, uint32_t, uint64_t, LONGLONG> cases[] = {
      {0, 600, 1800, 30000000}, {1, 90000, 1, 111}, {1, 1000, 1ull << 40, 10995116277760000}, {0, 0, 1800, 0}};
  for (const auto& [version, timescale, duration, durationRef] : cases) {
    BoxBuilder b;
    b.Box("moov", [&] {
      for (const uint32_t scale : {timescale, 1000u}) {  // the second header is ignored
        b.FullBox("mvhd", version, 0, [&] {
          WriteTimes(b, version, scale, duration);
          b.U32(0x00010000).U16(0x0100).Zeros(10);
          for (uint32_t value : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u}) b.U32(value);
          b.Zeros(24).U32(2);
        });
      }
    });
    const ParsedMovie movie = ParseMovie(b);
    ASSERT_EQ(movie.result, S_OK);
    const mvhdBox& header = *movie.source->movieHeader;
    EXPECT_EQ(std::make_tuple(header.durationRef, header.timescale, header.matrix[8]),
              std::make_tuple(durationRef, timescale, 9u));
  }
}

class TrakBoxTest : public ::testing::Test {
 protected:
  // A "moov" with one "trak": a "tkhd" (track 42) of `version`, then `media`
  // as the "mdia".
  ParsedMovie ParseTrack(const BoxBuilder::Body& media, uint8_t version = 0) {
    b = BoxBuilder();
    b.Box("moov", [&] {
      b.Box("trak", [&] {
        b.FullBox("tkhd", version, 7, [&] {
          version == 1 ? b.U64(1).U64(2).U32(42).U32(0).U64(3) : b.U32(1).U32(2).U32(42).U32(0).U32(3);
          b.Zeros(16);
          for (uint32_t value : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u}) b.U32(value);
          b.U32(320 << 16).U32(240 << 16);
        });
        if (media) b.Box("mdia", media);
      });
    });
    return ParseMovie(b, 0, [](DWORD kind, const Box& header, trakBox* track) {
      factoryCall = {kind, header.type, header.size};
      return CreatePlainSampleEntry(kind, header, track);
    });
  }

  BoxBuilder b;
  // What the track last asked the entry factory for: kind, type, size.
  static inline std::tuple<DWORD, DWORD, LONGLONG> factoryCall;
};

// Version 1 headers (real files have version 0). "mdhd" after "minf": the
// timescale reaches the entry after the walk. The last media header box
// decides the kind; the handler's name is skipped.
TEST_F(TrakBoxTest, HeadersGiveTheTrackAndTheSampleEntryIsBuiltForItsKind) {
  const ParsedMovie movie = ParseTrack(
      [&] {
        b.FullBox("hdlr", 0, 0, [&] { b.U32(0).FourCC("soun").Zeros(12).Text("SoundHandler").U8(0); });
        b.Box("minf", [&] {
          b.Box("vmhd", [&] { b.Zeros(8); }).Box("smhd", [&] { b.Zeros(8); });
          b.Box("stbl", [&] {
            b.FullBox("stsd", 0, 0, [&] { b.U32(1).Box("mp4a", [&] { b.Zeros(6).U16(1).Zeros(12); }); });
          });
        });
        b.FullBox("mdhd", 1, 0, [&] { WriteTimes(b, 1, 22050, 0x100000000ull); b.U16(0x15C7).U16(0); });
      },
      1);
  ASSERT_EQ(movie.result, S_OK);
  const trakBox& track = movie.Track(0);
  EXPECT_EQ(std::make_tuple(track.trackId, track.matrix[8], track.timescale, track.mediaDuration, track.handlerType),
            std::make_tuple(42u, 9u, 22050u, 0x100000000ull, FourCC("soun")));
  EXPECT_STREQ(track.language, "eng");
  EXPECT_EQ(factoryCall, std::make_tuple(DWORD{kMediaKindSound}, FourCC("mp4a"), 20ll));
  ASSERT_TRUE(track.sampleEntry);
  EXPECT_EQ(track.sampleEntry->track, &track);
  EXPECT_EQ(std::make_tuple(track.sampleEntry->mediaTimescale, track.sampleEntry->dataReferenceIndex,
                            track.sampleEntry->payload.Length()),
            std::make_tuple(22050u, WORD{1}, 12));
  // Without a sample description the track is kept without an entry.
  const ParsedMovie bare = ParseTrack([&] { b.Box("minf", [&] { b.Box("vmhd", [&] { b.Zeros(8); }); }); });
  ASSERT_EQ(bare.source->TrackCount(), 1u);
  EXPECT_EQ(bare.Track(0).FormatFourCC(), 0u);
}

TEST_F(TrakBoxTest, MalformedTrackOrMovieHeaderFailsTheWholeParse) {
  const std::pair<BoxBuilder::Body, HRESULT> cases[] = {
      {[&] { b.FullBox("hdlr", 0, 0, [&] { b.U32(0).U16(0x7669); }); }, STG_E_INVALIDHEADER},
      {[&] {
         b.Box("minf", [&] {
           b.Box("stbl", [&] { b.FullBox("stsd", 0, 0, [&] { b.U32(1).Box("avc1", [&] { b.Zeros(4); }); }); });
         });
       },
       STG_E_INVALIDHEADER},
  };
  for (const auto& [media, result] : cases) {
    const ParsedMovie movie = ParseTrack(media);
    EXPECT_EQ(std::make_tuple(movie.result, movie.source->TrackCount()), std::make_tuple(result, 0u));
  }
  BoxBuilder bigTrack, shortHeader;
  bigTrack.Box("moov", [&] { bigTrack.Box(BoxSize::Forced(4000), "trak", [&] { bigTrack.Zeros(8); }); });
  EXPECT_EQ(ParseMovie(bigTrack).result, VFW_E_INVALID_FILE_FORMAT);
  shortHeader.Box("moov", [&] { shortHeader.FullBox("mvhd", 0, 0, [&] { WriteTimes(shortHeader, 0, 600, 1); }); });
  EXPECT_EQ(ParseMovie(shortHeader).result, STG_E_INVALIDHEADER) << "movie header ending after the duration";
}

Bytes Deflate(const Bytes& bytes) {
  uLongf size = compressBound(bytes.size());
  Bytes out(size);
  EXPECT_EQ(compress(out.data(), &size, bytes.data(), bytes.size()), Z_OK);
  out.resize(size);
  return out;
}

// A "moov" holding only a compressed header, after an "mdat".
BoxBuilder CompressedMovieFile(const char (&compressor)[5], const Bytes& compressed, size_t expandedSize) {
  BoxBuilder b;
  b.Box("ftyp", [&] { b.FourCC("qt  ").U32(0); }).Box("mdat", [&] { b.Zeros(64); });
  b.Box("moov", [&] {
    b.Box("cmov", [&] {
      b.Box("dcom", [&] { b.FourCC(compressor); });
      b.Box("cmvd", [&] { b.U32(static_cast<uint32_t>(expandedSize)).Bytes(compressed); });
    });
  });
  return b;
}

// An unknown compressor leaves the outer movie; an expanded size no stream
// could reach is refused before a buffer of that size is reserved; a
// compressed header inside an expanded one is not expanded again, as each
// level could multiply the memory by the deflate ratio.
TEST(CompressedMovieTest, ZlibHeaderYieldsTheInnerTracksAndBadOnesTheirResult) {
  BoxBuilder inner, middle;
  WriteMovie(inner, {SimpleTrack(4), SimpleTrack(5)});
  const Bytes deflated = Deflate(inner.Data());
  const Bytes cut(deflated.begin(), deflated.begin() + deflated.size() / 2);
  middle.Box("moov", [&] {
    middle.Box("cmov", [&] {
      middle.Box("dcom", [&] { middle.FourCC("zlib"); });
      middle.Box("cmvd", [&] { middle.U32(static_cast<uint32_t>(inner.Size())).Bytes(deflated); });
    });
    WriteTrack(middle, SimpleTrack(9));
  });
  const std::tuple<BoxBuilder, HRESULT, std::vector<DWORD>> cases[] = {
      {CompressedMovieFile("zlib", deflated, inner.Size()), S_OK, {4, 5}},
      {CompressedMovieFile("lzma", deflated, inner.Size()), S_OK, {}},
      {CompressedMovieFile("zlib", cut, inner.Size()), E_INVALIDARG, {}},
      {CompressedMovieFile("zlib", {1, 2, 3, 4, 5, 6, 7, 8}, 64), E_INVALIDARG, {}},
      {CompressedMovieFile("zlib", deflated, 0x7FFFFFF0), E_INVALIDARG, {}},
      {CompressedMovieFile("zlib", Deflate(middle.Data()), middle.Size()), S_OK, {9}},
  };
  // A wanted track keeps only itself.
  EXPECT_EQ(TrackIds(ParseMovie(std::get<0>(cases[0]), 5)), std::vector<DWORD>{5});
  for (const auto& [file, result, trackIds] : cases) {
    ComPtr<IAsyncReader> reader = file.Reader();
    const ParsedMovie movie = ParseMovie(reader.Get());
    EXPECT_EQ(std::make_tuple(movie.result, TrackIds(movie)), std::make_tuple(result, trackIds));
    // Parsed from memory, the tracks deliver from the file, and the walk
    // resumes in the file.
    for (ULONG i = 0; i < movie.source->TrackCount(); ++i) EXPECT_EQ(movie.Track(i).Reader(), reader.Get());
    EXPECT_EQ(movie.source->reader.Get(), reader.Get());
    if (result == S_OK) {
      EXPECT_EQ(movie.source->position, static_cast<LONGLONG>(file.Size()));
    }
  }
}

}  // namespace
