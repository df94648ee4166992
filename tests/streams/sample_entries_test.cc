// The sound and visual sample entries: the sound description versions and
// QuickTime's "wave" extension, the visual fields, and the picture size and
// aspect an "mp4v" entry takes from its video object layer header.
#include "sample_entry_fixtures.h"

#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

#include <bit>

namespace {

using Bytes = std::vector<uint8_t>;

// Sound description version 2 after the common fields.
void WriteSoundV2(BoxBuilder& b, double rate, uint32_t channels) {
  b.U16(2).Zeros(6).U16(3).U16(16).U16(0xFFFE).U16(0).U32(65536).U32(72);
  b.U64(std::bit_cast<uint64_t>(rate)).U32(channels).U32(0x7F000000).U32(24).U32(0x9).U32(6).U32(1);
}

// A movie with one "mp4a" entry holding what `body` writes.
ParsedMovie SoundMovie(const std::function<void(BoxBuilder&)>& body) {
  BoxBuilder b;
  body(b);
  return ParseMediaTypeMovie({.handler = "soun", .mediaHeader = "smhd", .format = "mp4a", .entryBody = b.Data()});
}

const AudioSampleEntry& Audio(const ParsedMovie& movie) {
  return dynamic_cast<const AudioSampleEntry&>(EntryOf(movie));
}

TEST(AudioSampleEntryTest, EsdsInsideWaveIsFoundAndLaterChildrenAreNotExamined) {
  const ParsedMovie movie = SoundMovie([&](BoxBuilder& b) {
    WriteSoundV0(b, 2, 16, 44100u << 16, 1);
    b.U32(1024).U32(0).U32(4).U32(2).Box("wave", [&] {
      b.Box("frma", [&] { b.FourCC("mp4a"); }).Box("mp4a", [&] { b.U32(0); });
      b.Bytes(EsdsBox({0x40, {0x11, 0x90}, true})).U32(8).U32(0);  // terminator
    });
    b.Bytes(EsdsBox({0x6B, {0xEE, 0xEE}}));
  });
  ASSERT_EQ(movie.result, S_OK);
  EXPECT_EQ(EntryOf(movie).objectTypeIndication, 0x40u);
  EXPECT_EQ(Slice(EntryOf(movie).codecConfig), Bytes({0x11, 0x90}));
  // A malformed child of "wave" ends the walk quietly.
  const ParsedMovie malformed = SoundMovie([](BoxBuilder& b) {
    WriteSoundV0(b, 1, 16, 8000u << 16);
    b.Box("wave", [&] { b.Box(BoxSize::Forced(200), "esds", [&] { b.Zeros(12); }); });
  });
  ASSERT_EQ(malformed.result, S_OK);
  EXPECT_EQ(EntryOf(malformed).objectTypeIndication, SampleEntry::kNoObjectType);
}

TEST(AudioSampleEntryTest, SoundDescriptionVersionsReadTheirOwnFields) {
  // Version 2 rates past 65535 survive; the channel count keeps its low 16
  // bits; rates no DWORD holds (negative, NaN, huge) become 0, not undefined
  // behaviour. The depth is constBitsPerChannel (24, not the always-16
  // field), with the flags and bytes per packet; the payload starts at "chan".
  const std::tuple<double, uint32_t, DWORD, WORD> rows[] = {
      {192000.0, 8, 192000, 8}, {44100.75, 1, 44100, 1}, {22050.0, 0x00010002, 22050, 2},
      {-1.0, 2, 0, 2},          {1e12, 2, 0, 2},          {std::bit_cast<double>(0x7FF8000000000000ull), 2, 0, 2},
  };
  for (const auto& [rate, channels, expectedRate, expectedChannels] : rows) {
    const ParsedMovie movie = SoundMovie([&](BoxBuilder& b) {
      WriteSoundV2(b, rate, channels);
      b.Box("chan", [&] { b.Zeros(12); });
    });
    ASSERT_EQ(movie.result, S_OK) << rate;
    const AudioSampleEntry& a = Audio(movie);
    EXPECT_EQ(std::make_tuple(a.soundVersion, a.channelCount, a.sampleSize, a.sampleRate, a.payload.Length(),
                              a.lpcmFlags, a.bytesPerPacket),
              std::make_tuple(WORD{2}, expectedChannels, WORD{24}, expectedRate, LONG{20}, DWORD{9}, DWORD{6}))
        << rate;
  }
  // Version 1 skips its sixteen extra bytes.
  const ParsedMovie v1 = SoundMovie([](BoxBuilder& b) {
    WriteSoundV0(b, 2, 16, 0xAC440000, 1);
    b.U32(1).U32(2).U32(4).U32(2).Box("wfex", [&] { b.Bytes({0x01, 0x00, 0x02, 0x00}); });
  });
  ASSERT_EQ(v1.result, S_OK);
  EXPECT_EQ(Audio(v1).sampleRate, 44100u);
  EXPECT_EQ(Slice(Audio(v1).codecConfig), Bytes({0x01, 0x00, 0x02, 0x00}));
}

TEST(AudioSampleEntryTest, SoundDescriptionsCutShortAreInvalidHeader) {
  // Bytes after the common fields: v0 needs 20, v1 36, v2 56.
  const std::pair<uint16_t, size_t> rows[] = {{0, 0}, {0, 19}, {1, 20}, {1, 35}, {2, 20}, {2, 27}, {2, 35}, {2, 55}};
  for (const auto& [version, kept] : rows) {
    BoxBuilder full;
    if (version == 2) WriteSoundV2(full, 48000.0, 2);
    if (version != 2) WriteSoundV0(full, 2, 16, 44100u << 16, version);
    full.Zeros(version == 1 ? 16 : 0);
    const Bytes cut(full.Data().begin(), full.Data().begin() + kept);
    EXPECT_EQ(SoundMovie([&](BoxBuilder& b) { b.Bytes(cut); }).result, STG_E_INVALIDHEADER) << version << "/" << kept;
  }
}

TEST(VideoSampleEntryTest, FixedFieldsCutShortAreInvalidHeader) {
  const Bytes full = VisualEntryBody(64, 64);
  for (size_t kept : {0u, 20u, 41u, 69u}) {
    EXPECT_EQ(ParseMediaTypeMovie({.entryBody = Bytes(full.begin(), full.begin() + kept)}).result, STG_E_INVALIDHEADER)
        << kept;
  }
}

TEST(VideoSampleEntryTest, SizeAndAspectFromTheMp4vLayerHeaderAndPasp) {
  // ffmpeg's MPEG-4 Simple Profile configuration (tests/data/mpeg4_part2.mp4):
  // visual object sequence, visual object, video object, then the 176x144 layer.
  const Bytes config = {0x00, 0x00, 0x01, 0xb0, 0x01, 0x00, 0x00, 0x01, 0xb5, 0x89, 0x13, 0x00, 0x00, 0x01, 0x00,
                        0x00, 0x00, 0x01, 0x20, 0x00, 0xc4, 0x8d, 0x88, 0x00, 0xc5, 0x05, 0x84, 0x12, 0x14, 0x63};
  Bytes aspect10To11 = config, nonRectangular = config;
  aspect10To11[21] = static_cast<uint8_t>((aspect10To11[21] & 0x87) | (3 << 3));  // aspect_ratio_info 3
  nonRectangular[22] |= 0x20;                                                     // video_object_layer_shape
  const Bytes shortPasp = {0, 0, 0, 14, 'p', 'a', 's', 'p', 0, 0, 0, 4, 0, 3};
  // Format ("s263" has no layer header to read), configuration and other
  // children; then the entry's last result, size and aspect.
  const std::tuple<const char*, Bytes, Bytes, HRESULT, std::vector<DWORD>> rows[] = {
      {"mp4v", config, {}, S_OK, {176, 144, 0, 1, 1}},
      {"mp4v", aspect10To11, {}, S_OK, {176, 144, 1, 10, 11}},
      {"mp4v", nonRectangular, {}, E_FAIL, {352, 288, 0, 1, 1}},
      {"s263", config, shortPasp, S_OK, {352, 288, 0, 1, 1}},
  };
  for (const auto& [format, layer, others, lastResult, fields] : rows) {
    const Bytes children = Concat(EsdsBox({0x20, layer, true}), others);
    const ParsedMovie movie = ParseMediaTypeMovie({.format = format, .entryBody = VisualEntryBody(352, 288, children)});
    ASSERT_EQ(movie.result, S_OK);
    const auto& v = dynamic_cast<const VideoSampleEntry&>(EntryOf(movie));
    EXPECT_EQ(std::make_tuple(Slice(v.codecConfig), v.lastResult), std::make_tuple(layer, lastResult));
    EXPECT_EQ(std::vector<DWORD>({v.width, v.height, v.hasPixelAspect, v.pixelAspectH, v.pixelAspectV}), fields);
  }
}

}  // namespace
