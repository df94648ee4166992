// The track box: track and media headers, the media kind, the handler, and
// how the sample entry is created at the end of the "minf" walk.
#include "support/box_builder.h"
#include "support/movie_builder.h"

#include "container/trak_box.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Records what the track asked the factory for.
struct FactoryCall {
  DWORD mediaKind = 0xFFFF;
  DWORD type = 0;
  LONGLONG size = -1;
};
FactoryCall g_lastFactoryCall;

SampleEntry* RecordingFactory(DWORD mediaKind, const Box& header, trakBox* track) {
  g_lastFactoryCall = {mediaKind, header.type, header.size};
  return CreatePlainSampleEntry(mediaKind, header, track);
}

class TrakBoxTest : public ::testing::Test {
 protected:
  // A "moov" with one "trak" made of `body`.
  ParsedMovie ParseTrack(const BoxBuilder::Body& body, DWORD wantedTrackId = 0,
                         SampleEntryFactory factory = CreatePlainSampleEntry) {
    b.Box("moov", [&] { b.Box("trak", body); });
    return ParseMovie(b, wantedTrackId, factory);
  }

  void TrackHeader(uint8_t version, uint32_t trackId) {
    b.FullBox("tkhd", version, 7, [&] {
      if (version == 1) {
        b.U64(1).U64(2).U32(trackId).U32(0).U64(3);
      } else {
        b.U32(1).U32(2).U32(trackId).U32(0).U32(3);
      }
      b.Zeros(16);
      for (uint32_t value : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u}) b.U32(value);
      b.U32(320 << 16).U32(240 << 16);
    });
  }

  void Media(const BoxBuilder::Body& body) { b.Box("mdia", body); }

  void MediaHeader(uint8_t version, uint32_t timescale, uint64_t duration, uint16_t language) {
    b.FullBox("mdhd", version, 0, [&] {
      if (version == 1) {
        b.U64(0).U64(0).U32(timescale).U64(duration);
      } else {
        b.U32(0).U32(0).U32(timescale).U32(static_cast<uint32_t>(duration));
      }
      b.U16(language).U16(0);
    });
  }

  void MinimalTables(const char (&format)[5]) {
    b.Box("stbl", [&] {
      b.FullBox("stsd", 0, 0, [&] {
        b.U32(1);
        b.Box(format, [&] { b.Zeros(6).U16(1).Zeros(12); });
      });
    });
  }

  BoxBuilder b;
};

TEST_F(TrakBoxTest, TrackIdFollowsTheTimesOfEachHeaderVersion) {
  for (uint8_t version : {0, 1}) {
    b = BoxBuilder();
    const ParsedMovie movie = ParseTrack([&] { TrackHeader(version, 42); });
    ASSERT_EQ(movie.result, S_OK) << int(version);
    ASSERT_EQ(movie.source->TrackCount(), 1u);
    EXPECT_EQ(movie.Track(0).trackId, 42u) << int(version);
    EXPECT_EQ(movie.Track(0).matrix[8], 9u) << int(version);
  }
}

TEST_F(TrakBoxTest, MediaHeaderGivesTimescaleDurationAndLanguage) {
  struct Case {
    uint8_t version;
    uint64_t duration;
    uint16_t language;
    const char* letters;
  };
  const Case cases[] = {
      {0, 1800, 0x55C4, "und"},
      {1, 0x100000000ull, 0x15C7, "eng"},
      // The pad bit is ignored; a code of 0 is three backquotes.
      {0, 5, 0x0000, "```"},
  };
  for (const Case& c : cases) {
    b = BoxBuilder();
    const ParsedMovie movie = ParseTrack([&] {
      TrackHeader(0, 1);
      Media([&] { MediaHeader(c.version, 48000, c.duration, c.language); });
    });
    ASSERT_EQ(movie.result, S_OK);
    const trakBox& track = movie.Track(0);
    EXPECT_EQ(track.timescale, 48000u);
    EXPECT_EQ(track.mediaDuration, c.duration);
    EXPECT_STREQ(track.language, c.letters);
  }
}

TEST_F(TrakBoxTest, TrackWithoutMediaHeaderKeepsTimescaleOne) {
  const ParsedMovie movie = ParseTrack([&] { TrackHeader(0, 1); });
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.Track(0).timescale, 1u);
  EXPECT_EQ(movie.Track(0).mediaDuration, 0u);
}

TEST_F(TrakBoxTest, LastMediaHeaderBoxDecidesTheKind) {
  const ParsedMovie movie = ParseTrack([&] {
    TrackHeader(0, 1);
    Media([&] {
      b.Box("minf", [&] {
        b.Box("vmhd", [&] { b.Zeros(8); });
        b.Box("smhd", [&] { b.Zeros(8); });
      });
    });
  });
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.Track(0).mediaKind, static_cast<DWORD>(kMediaKindSound));
}

TEST_F(TrakBoxTest, ShortHandlerFailsTheWholeParse) {
  const ParsedMovie movie = ParseTrack([&] {
    TrackHeader(0, 1);
    Media([&] { b.FullBox("hdlr", 0, 0, [&] { b.U32(0).U16(0x7669); }); });
  });
  EXPECT_EQ(movie.result, STG_E_INVALIDHEADER);
  EXPECT_EQ(movie.source->TrackCount(), 0u);
}

TEST_F(TrakBoxTest, HandlerTypeIsKeptAndItsNameSkipped) {
  const ParsedMovie movie = ParseTrack([&] {
    TrackHeader(0, 1);
    Media([&] {
      b.FullBox("hdlr", 0, 0, [&] { b.U32(0).FourCC("soun").Zeros(12).Text("SoundHandler").U8(0); });
      MediaHeader(0, 44100, 10, 0x55C4);
    });
  });
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.Track(0).handlerType, FourCC("soun"));
  EXPECT_EQ(movie.Track(0).timescale, 44100u);
}

TEST_F(TrakBoxTest, UnwantedTrackIsDroppedWithoutError) {
  const ParsedMovie movie = ParseTrack([&] { TrackHeader(0, 7); }, 3);
  EXPECT_EQ(movie.result, S_OK);
  EXPECT_EQ(movie.source->TrackCount(), 0u);
}

TEST_F(TrakBoxTest, SampleEntryIsBuiltForTheMediaKindAndLearnsTheTimescale) {
  // "mdhd" after "minf": the timescale reaches the entry after the walk.
  const ParsedMovie movie = ParseTrack(
      [&] {
        TrackHeader(0, 1);
        Media([&] {
          b.Box("minf", [&] {
            b.Box("smhd", [&] { b.Zeros(8); });
            MinimalTables("mp4a");
          });
          MediaHeader(0, 22050, 10, 0x55C4);
        });
      },
      0, RecordingFactory);
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(g_lastFactoryCall.mediaKind, static_cast<DWORD>(kMediaKindSound));
  EXPECT_EQ(g_lastFactoryCall.type, FourCC("mp4a"));
  EXPECT_EQ(g_lastFactoryCall.size, 20);
  const trakBox& track = movie.Track(0);
  ASSERT_TRUE(track.sampleEntry);
  EXPECT_EQ(track.sampleEntry->track, &track);
  EXPECT_EQ(track.sampleEntry->mediaTimescale, 22050u);
  EXPECT_EQ(track.FormatFourCC(), FourCC("mp4a"));
  EXPECT_EQ(track.sampleEntry->payload.Length(), 12);
}

TEST_F(TrakBoxTest, SampleEntryCutShortFailsTheParse) {
  const ParsedMovie movie = ParseTrack([&] {
    TrackHeader(0, 1);
    Media([&] {
      b.Box("minf", [&] {
        b.Box("stbl", [&] {
          b.FullBox("stsd", 0, 0, [&] {
            b.U32(1);
            b.Box("avc1", [&] { b.Zeros(4); });
          });
        });
      });
    });
  });
  EXPECT_EQ(movie.result, STG_E_INVALIDHEADER);
}

TEST_F(TrakBoxTest, TrackWithoutSampleDescriptionIsKeptWithoutEntry) {
  const ParsedMovie movie = ParseTrack([&] {
    TrackHeader(0, 1);
    Media([&] { b.Box("minf", [&] { b.Box("vmhd", [&] { b.Zeros(8); }); }); });
  });
  ASSERT_EQ(movie.result, S_OK);
  ASSERT_EQ(movie.source->TrackCount(), 1u);
  EXPECT_FALSE(movie.Track(0).sampleEntry);
  EXPECT_EQ(movie.Track(0).FormatFourCC(), 0u);
}

}  // namespace
