// The media types of sound tracks: the subtype list per format, the
// WAVEFORMATEX a decoder reads (channels, rate, block values, extra bytes),
// the AudioSpecificConfig and MPEG audio frame header readers, and the
// corrections some formats make to the entry's fields.
#include "sample_entry_fixtures.h"

#include "platform/media_guids.h"
#include "streams/audio_sample_entry.h"
#include "streams/mpeg_audio_header.h"
#include "streams/pcm_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes AudioSpecificConfig(uint32_t objectType, uint32_t frequencyIndex, uint32_t channels) {
  return BitWriter().Bits(objectType, 5).Bits(frequencyIndex, 4).Bits(channels, 4).Bits(0, 3).Bytes();
}

Bytes Esds(uint8_t objectType, const Bytes& specificInfo = {}) { return EsdsBox({objectType, specificInfo}); }

// By default one second of 1024-byte samples, each 1024 ticks at the entry's rate.
ParsedMovie SoundMovie(const char* format, uint16_t channels, uint16_t bits, uint32_t rate,
                       const Bytes& children = {}, std::vector<Bytes> samples = {}) {
  BoxBuilder b;
  WriteSoundV0(b, channels, bits, rate << 16);
  if (samples.empty()) samples.assign(rate / 1024, Bytes(1024));
  return ParseMediaTypeMovie({.handler = "soun", .mediaHeader = "smhd", .format = format,
                              .entryBody = b.Bytes(children).Data(), .samples = samples, .timescale = rate,
                              .sampleDelta = 1024});
}

// Type `index` as its subtype and whole format block.
std::pair<std::string, Bytes> TypeOf(const ParsedMovie& movie, int index) {
  CMediaType type;
  const HRESULT hr = TrackType(movie, index, &type);
  if (hr != S_OK) return {HResultName(hr), {}};
  if (type.majortype != MEDIATYPE_Audio || type.formattype != FORMAT_WaveFormatEx) return {"not audio", {}};
  return {GuidToString(type.subtype), BlockTail(type, 0)};
}

TEST(AudioMediaTypeTest, AacOffersThreeTypesAllWithTheConfigsChannelsAndRate) {
  // AAC-LC, 48 kHz, mono, in an entry that claims stereo at 44.1 kHz;
  // 400 bytes over 2048 / 44100 s.
  const Bytes config = AudioSpecificConfig(2, 3, 1), children = Esds(0x40, config);
  const ParsedMovie movie = SoundMovie("mp4a", 2, 16, 44100, children, {Bytes(300), Bytes(100)});
  const std::pair<std::string, Bytes> rows[] = {{"{6134706D-5349-4D4F-4544-494154595045}", children},
                                                {"{6134706D-0000-0010-8000-00AA00389B71}", config},
                                                {"{000000FF-0000-0010-8000-00AA00389B71}", config}};
  for (int i = 0; i < 3; ++i) {
    const WAVEFORMATEX wave = {0x00FF, 1, 48000, 8613, 1, 16, WORD(rows[i].second.size())};
    EXPECT_EQ(TypeOf(movie, i), std::make_pair(rows[i].first, BytesOf(wave, rows[i].second))) << i;
  }
  EXPECT_EQ(TypeOf(movie, 3).first, "VFW_S_NO_MORE_ITEMS");
  EXPECT_EQ(TypeOf(movie, -1).first, "E_INVALIDARG");
}

TEST(AudioMediaTypeTest, AudioSpecificConfigSetsChannelsAndRateOnlyWhenItCan) {
  // The entry says 6 channels at 22050 Hz. Configuration 7 is 7.1; 0 keeps
  // the channels; then an explicit rate. The escaped object type 32 and SBR
  // are no AAC; frequency index 13 is reserved; the last two are cut short.
  const std::tuple<Bytes, WORD, DWORD> rows[] = {
      {AudioSpecificConfig(2, 3, 7), 8, 48000},
      {AudioSpecificConfig(2, 8, 0), 6, 16000},
      {BitWriter().Bits(2, 5).Bits(15, 4).Bits(12345, 24).Bits(1, 4).Bytes(), 1, 12345},
      {BitWriter().Bits(31, 5).Bits(0, 6).Bits(3, 4).Bits(1, 4).Bytes(), 6, 22050},
      {AudioSpecificConfig(5, 3, 2), 6, 22050},
      {AudioSpecificConfig(2, 13, 2), 6, 22050},
      {{0x12}, 6, 22050},
      {BitWriter().Bits(2, 5).Bits(15, 4).Bits(0, 8).Bytes(), 6, 22050},
  };
  for (const auto& [config, channels, rate] : rows) {
    CMediaType type;
    ASSERT_EQ(TrackType(SoundMovie("mp4a", 6, 16, 22050, Esds(0x40, config)), 1, &type), S_OK);
    const WAVEFORMATEX wfx = FormatBlock<WAVEFORMATEX>(type);
    EXPECT_EQ(std::make_pair(wfx.nChannels, wfx.nSamplesPerSec), std::make_pair(channels, rate)) << int(config[0]);
  }
}

TEST(AudioMediaTypeTest, MpegAudioIsDescribedByItsFirstFrameHeaderWhenOneCanBeRead) {
  // MPEG-1 layer III, 128 kbit/s, 44100 Hz, joint stereo; MPEG-2 layer III
  // mono at 24 kHz (index 4 is 32k, not MPEG-1's 56k) and at 16 kHz 24k;
  // MPEG-2.5 at 8 kHz 32k. Low-rate layer III frames are 72 × rate / Hz.
  const std::tuple<uint8_t, Bytes, MPEGLAYER3WAVEFORMAT> tracks[] = {
      {0x6B, {0xFF, 0xFB, 0x90, 0x64, 0x55}, {{0x55, 2, 44100, 16000, 417, 0, 12}, 1, 2, 1152, 1, 1393}},
      {0x69, {0xFF, 0xF3, 0x44, 0xC4}, {{0x55, 1, 24000, 4000, 96, 0, 12}, 1, 2, 1152, 1, 1393}},
      {0x6B, {0xFF, 0xF3, 0x38, 0xC4}, {{0x55, 1, 16000, 3000, 108, 0, 12}, 1, 2, 1152, 1, 1393}},
      {0x69, {0xFF, 0xE3, 0x48, 0xC4}, {{0x55, 1, 8000, 4000, 288, 0, 12}, 1, 2, 1152, 1, 1393}}};
  for (const auto& [objectType, header, block] : tracks) {
    const ParsedMovie movie = SoundMovie("mp4a", 2, 16, 44100, Esds(objectType), {header, Bytes(64)});
    EXPECT_EQ(TypeOf(movie, 1), std::make_pair(std::string("{00000055-0000-0010-8000-00AA00389B71}"), BytesOf(block)));
    EXPECT_EQ(TypeOf(movie, 2).first, "VFW_S_NO_MORE_ITEMS");
  }
  // Layer II 192 kbit/s 48 kHz stereo, private, copyright, emphasis 1, no
  // CRC; layer I 32 kbit/s 44.1 kHz single channel, mode extension 2,
  // original, CRC; free format, so no frame size.
  const std::pair<Bytes, MPEG1WAVEFORMAT> layers[] = {
      {{0xFF, 0xFD, 0xA5, 0x09}, {{0x50, 2, 48000, 24000, 576, 0, 22}, 2, 192000, 1, 1, 1, 0x1B, 0, 0}},
      {{0xFF, 0xFE, 0x10, 0xE4}, {{0x50, 1, 44100, 4000, 32, 0, 22}, 1, 32000, 8, 4, 0, 0x14, 0, 0}},
      {{0xFF, 0xFD, 0x08, 0x40}, {{0x50, 2, 32000, 0, 1, 0, 22}, 2, 0, 2, 1, 0, 0x18, 0, 0}},
  };
  for (const auto& [header, block] : layers) {
    MpegAudioFormat format;
    ASSERT_EQ(ParseMpegAudioHeader(header.data(), header.size(), &format), S_OK);
    EXPECT_EQ(Bytes(format.Bytes(), format.Bytes() + format.size), BytesOf(block));
  }
  // A header that cannot be read fails the request: layer field 0, one
  // byte, the sync bits only, the reserved version; the private type at
  // index 0 still keeps the track. Then a failed read.
  for (const Bytes& first :
       {Bytes{0xFF, 0xF9, 0x90, 0x64}, Bytes{0xFF}, Bytes{0xFF, 0xF0}, Bytes{0xFF, 0xEB, 0x90, 0x64}}) {
    const ParsedMovie movie = SoundMovie("mp4a", 2, 16, 44100, Esds(0x6B), {first, Bytes(64)});
    EXPECT_EQ(TypeOf(movie, 1).first, "E_FAIL");
    EXPECT_EQ(TypeOf(movie, 0).first, "{6134706D-5349-4D4F-4544-494154595045}");
  }
  const ParsedMovie movie = SoundMovie("mp4a", 2, 16, 44100, Esds(0x6B));
  ComPtr<MemorySource> failing = MemorySource::Create({});
  failing->FailReadsFrom(0, E_ABORT);
  movie.Track(0).SetReader(failing.Get());
  EXPECT_EQ(TypeOf(movie, 1).first, "E_ABORT");
}

// A "wma " entry's stored format becomes the block as it is, or padded to a
// whole WAVEFORMATEX when the writer stored a WAVEFORMAT without cbSize.
TEST(AudioMediaTypeTest, WmaBlockIsTheStoredFormatAtLeastAWaveFormatEx) {
  const Bytes whole = BytesOf(WAVEFORMATEX{0x0161, 2, 44100, 16000, 2973, 16, 10}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  const std::pair<Bytes, Bytes> rows[] = {
      {whole, whole},
      {Bytes(whole.begin(), whole.begin() + 16), BytesOf(WAVEFORMATEX{0x0161, 2, 44100, 16000, 2973, 16, 0})},
  };
  for (const auto& [stored, block] : rows) {
    BoxBuilder wfex;
    wfex.Box("wfex", [&] { wfex.Bytes(stored); });
    const ParsedMovie movie = SoundMovie("wma ", 2, 16, 44100, wfex.Data());
    EXPECT_EQ(TypeOf(movie, 0), std::make_pair(std::string("{00000161-0000-0010-8000-00AA00389B71}"), block))
        << stored.size();
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK);
    EXPECT_EQ(type.lSampleSize, 16000u);
  }
}

// A sound description of version 0 (`flags` unused), or of version 2 with
// constBitsPerChannel `bits`, `flags` and bytes per packet `packet`.
ParsedMovie PcmMovie(const char* format, uint16_t channels, uint16_t bits, int version = 0, uint32_t flags = 0,
                     uint32_t packet = 0, const Bytes& children = {}) {
  BoxBuilder b;
  if (version == 2) WriteSoundV2(b, 44100.0, channels, bits, flags, packet);
  if (version != 2) WriteSoundV0(b, channels, bits, 44100u << 16);
  return ParseMediaTypeMovie({.handler = "soun", .mediaHeader = "smhd", .format = format,
                              .entryBody = b.Bytes(children).Data(), .samples = {Bytes(64)}, .timescale = 44100});
}

// The subtype of type `index` ("private" for the private rule) and what its
// WAVEFORMATEX says; the result's name when there is none.
std::string Describe(const ParsedMovie& movie, int index) {
  CMediaType type;
  const HRESULT hr = TrackType(movie, index, &type);
  if (hr != S_OK) return HResultName(hr);
  std::string subtype = GuidToString(type.subtype);
  if (subtype.find("-5349-4D4F-4544-494154595045}") != std::string::npos) subtype = "private";
  const WAVEFORMATEX w = FormatBlock<WAVEFORMATEX>(type);
  return subtype + " tag " + std::to_string(w.wFormatTag) + " " + std::to_string(w.nChannels) + "ch " +
         std::to_string(w.nSamplesPerSec) + "Hz " + std::to_string(w.wBitsPerSample) + " bits, block " +
         std::to_string(w.nBlockAlign) + ", " + std::to_string(w.nAvgBytesPerSec) + "/s";
}

// Fixed-depth and companded formats have their depth whatever the entry
// says; AMR has one rate and channel; "lpcm" is read by its flags. Where
// the layout does not fix the byte rate it is the track's: 64 bytes in 20 ticks.
TEST(AudioMediaTypeTest, UncompressedSoundIsOfferedAsPcmOnlyWhereItsLayoutIsDelivered) {
  const std::string pcm = "{00000001-0000-0010-8000-00AA00389B71} tag 1 ";
  const std::string fl = "{00000003-0000-0010-8000-00AA00389B71} tag 3 ";
  const std::string none = "VFW_S_NO_MORE_ITEMS";
  BoxBuilder wave;
  wave.Box("wave", [&] { wave.Box("enda", [&] { wave.U16(1); }); });
  const Bytes enda = wave.Data();
  // The movie; types 0 and 1 (private ones by subtype alone); the delivery's conversion.
  const std::tuple<ParsedMovie, std::string, std::string, PcmByteOp> rows[] = {
      {PcmMovie("twos", 2, 16), pcm + "2ch 44100Hz 16 bits, block 4, 176400/s", none, PcmByteOp::kReverse2},
      {PcmMovie("twos", 1, 8), pcm + "1ch 44100Hz 8 bits, block 1, 44100/s", none, PcmByteOp::kBiasSigned8},
      {PcmMovie("sowt", 1, 8), pcm + "1ch 44100Hz 8 bits, block 1, 44100/s", none, PcmByteOp::kBiasSigned8},
      {PcmMovie("twos", 1, 24), pcm + "1ch 44100Hz 24 bits, block 3, 132300/s", none, PcmByteOp::kReverse3},
      {PcmMovie("raw ", 2, 8), pcm + "2ch 44100Hz 8 bits, block 2, 88200/s", none, PcmByteOp::kNone},
      {PcmMovie("twos", 1, 12), "private", none, PcmByteOp::kNone},
      {PcmMovie("raw ", 1, 24), "private", none, PcmByteOp::kNone},
      {PcmMovie("in24", 2, 16), pcm + "2ch 44100Hz 24 bits, block 6, 264600/s", "private", PcmByteOp::kReverse3},
      {PcmMovie("in24", 2, 16, 0, 0, 0, enda), pcm + "2ch 44100Hz 24 bits, block 6, 264600/s", "private",
       PcmByteOp::kNone},
      {PcmMovie("fl64", 1, 16), fl + "1ch 44100Hz 64 bits, block 8, 352800/s", "private", PcmByteOp::kReverse8},
      {PcmMovie("ulaw", 1, 16), "{00000007-0000-0010-8000-00AA00389B71} tag 7 1ch 44100Hz 8 bits, block 1, 141120/s",
       none, PcmByteOp::kNone},
      {PcmMovie("samr", 2, 8), "private tag 0 1ch 8000Hz 16 bits, block 1, 141120/s", none, PcmByteOp::kNone},
      // Big-endian signed packed integers, little-endian floats, and bytes
      // per packet that do not fit the depth.
      {PcmMovie("lpcm", 2, 24, 2, 0x0E, 6), pcm + "2ch 44100Hz 24 bits, block 6, 264600/s", "private",
       PcmByteOp::kReverse3},
      {PcmMovie("lpcm", 2, 32, 2, 0x09, 8), fl + "2ch 44100Hz 32 bits, block 8, 352800/s", "private", PcmByteOp::kNone},
      {PcmMovie("lpcm", 2, 24, 2, 0x0E, 5), "private", none, PcmByteOp::kNone},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& [movie, first, second, op] = rows[i];
    EXPECT_EQ(Describe(movie, 0).substr(0, first.size()), first) << i;
    EXPECT_EQ(Describe(movie, 1).substr(0, second.size()), second) << i;
    EXPECT_EQ(LinearPcmLayout(dynamic_cast<const AudioSampleEntry&>(EntryOf(movie))).delivery, op) << i;
  }
  Bytes samples = {1, 2, 3, 4, 5, 6, 7};
  ApplyPcmByteOp(PcmByteOp::kReverse3, samples.data(), static_cast<LONG>(samples.size()));
  EXPECT_EQ(samples, (Bytes{3, 2, 1, 6, 5, 4, 7}));
}

}  // namespace
