// The media types of sound tracks: the subtype list per format, the
// WAVEFORMATEX a decoder reads (channels, rate, block values, extra bytes),
// the AudioSpecificConfig and MPEG audio frame header readers, and the
// corrections some formats make to the entry's fields.
#include "media_type_movie.h"

#include "platform/media_guids.h"
#include "streams/audio_sample_entry.h"
#include "streams/mpeg_audio_header.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

namespace {

// Bits written most significant first.
class Bits {
 public:
  Bits& Put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    return *this;
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> bytes((bits_.size() + 7) / 8);
    for (size_t i = 0; i < bits_.size(); ++i) bytes[i / 8] |= static_cast<uint8_t>(bits_[i] << (7 - i % 8));
    return bytes;
  }

 private:
  std::vector<bool> bits_;
};

std::vector<uint8_t> AudioSpecificConfig(uint32_t objectType, uint32_t frequencyIndex, uint32_t channels) {
  return Bits().Put(objectType, 5).Put(frequencyIndex, 4).Put(channels, 4).Put(0, 3).Bytes();
}

std::vector<uint8_t> EsdsBox(uint8_t objectType, const std::vector<uint8_t>& specificInfo) {
  EsDescriptorSpec spec;
  spec.objectType = objectType;
  spec.decoderSpecificInfo = specificInfo;
  BoxBuilder b;
  WriteEsds(b, spec);
  return b.Data();
}

MediaTypeTrack SoundTrack(const char* format, uint16_t channels, uint16_t bits, uint32_t rate,
                          const std::vector<uint8_t>& children = {}) {
  MediaTypeTrack track;
  track.handler = "soun";
  track.mediaHeader = "smhd";
  track.format = format;
  track.entryBody = SoundEntryBody(channels, bits, rate, children);
  track.timescale = rate;
  track.sampleDelta = 1024;
  return track;
}

class AudioMediaTypeTest : public ::testing::Test {};

TEST_F(AudioMediaTypeTest, AacOffersThreeTypesAllWithTheConfigsChannelsAndRate) {
  // AAC-LC, 48 kHz, mono, in an entry that claims stereo at 44.1 kHz.
  const std::vector<uint8_t> config = AudioSpecificConfig(2, 3, 1);
  const std::vector<uint8_t> children = EsdsBox(0x40, config);
  MediaTypeTrack track = SoundTrack("mp4a", 2, 16, 44100, children);
  track.samples = {std::vector<uint8_t>(300), std::vector<uint8_t>(100)};
  const ParsedMovie movie = ParseMediaTypeMovie(track);
  ASSERT_EQ(movie.result, S_OK);
  struct Row {
    const char* subtype;
    std::vector<uint8_t> extra;
  };
  const Row rows[] = {
      {"{6134706D-5349-4D4F-4544-494154595045}", children},
      {"{6134706D-0000-0010-8000-00AA00389B71}", config},
      {"{000000FF-0000-0010-8000-00AA00389B71}", config},
  };
  for (int index = 0; index < 3; ++index) {
    CMediaType type;
    ASSERT_EQ(TrackType(movie, index, &type), S_OK) << index;
    EXPECT_EQ(type.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(GuidToString(type.subtype), rows[index].subtype) << index;
    EXPECT_EQ(type.formattype, FORMAT_WaveFormatEx);
    ASSERT_EQ(type.cbFormat, sizeof(WAVEFORMATEX) + rows[index].extra.size()) << index;
    const WAVEFORMATEX wfx = FormatBlock<WAVEFORMATEX>(type);
    EXPECT_EQ(wfx.wFormatTag, 0x00FF) << index;
    EXPECT_EQ(wfx.nChannels, 1) << index;
    EXPECT_EQ(wfx.nSamplesPerSec, 48000u) << index;
    EXPECT_EQ(wfx.nBlockAlign, 1) << index;
    // 400 bytes over 2048 / 44100 s.
    EXPECT_EQ(wfx.nAvgBytesPerSec, 8613u) << index;
    EXPECT_EQ(wfx.cbSize, rows[index].extra.size()) << index;
    EXPECT_EQ(BlockTail(type, sizeof(WAVEFORMATEX)), rows[index].extra) << index;
  }
  CMediaType type;
  EXPECT_EQ(TrackType(movie, 3, &type), VFW_S_NO_MORE_ITEMS);
}

TEST_F(AudioMediaTypeTest, AudioSpecificConfigSetsChannelsAndRateOnlyWhenItCan) {
  struct Row {
    const char* name;
    std::vector<uint8_t> config;
    WORD channels;
    DWORD rate;
  };
  const Row rows[] = {
      {"configuration 7 is 7.1", AudioSpecificConfig(2, 3, 7), 8, 48000},
      {"configuration 0 keeps the channels", AudioSpecificConfig(2, 8, 0), 6, 16000},
      {"explicit rate", Bits().Put(2, 5).Put(15, 4).Put(12345, 24).Put(1, 4).Bytes(), 1, 12345},
      {"escaped object type 32 is not listed", Bits().Put(31, 5).Put(0, 6).Put(3, 4).Put(1, 4).Bytes(), 6, 22050},
      {"SBR object type is not listed", AudioSpecificConfig(5, 3, 2), 6, 22050},
      {"reserved frequency index 13", AudioSpecificConfig(2, 13, 2), 6, 22050},
      {"one byte is too short", {0x12}, 6, 22050},
      {"explicit rate cut short", Bits().Put(2, 5).Put(15, 4).Put(0, 8).Bytes(), 6, 22050},
  };
  for (const Row& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(SoundTrack("mp4a", 6, 16, 22050, EsdsBox(0x40, row.config)));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK) << row.name;
    const WAVEFORMATEX wfx = FormatBlock<WAVEFORMATEX>(type);
    EXPECT_EQ(wfx.nChannels, row.channels) << row.name;
    EXPECT_EQ(wfx.nSamplesPerSec, row.rate) << row.name;
  }
}

// An MPEG audio track whose first sample is `first`.
MediaTypeTrack MpegAudioTrack(uint8_t objectType, std::vector<uint8_t> first) {
  MediaTypeTrack track = SoundTrack("mp4a", 2, 16, 44100, EsdsBox(objectType, {}));
  track.samples = {std::move(first), std::vector<uint8_t>(64)};
  return track;
}

TEST_F(AudioMediaTypeTest, MpegAudioFramesAreDescribedByTheirFirstHeader) {
  struct Row {
    const char* name;
    uint8_t objectType;
    std::vector<uint8_t> header;
    WORD channels;
    DWORD rate, bytesPerSecond;
    WORD blockAlign;
  };
  const Row rows[] = {
      // MPEG-1 layer III, 128 kbit/s, 44100 Hz, joint stereo.
      {"MPEG-1 audio", 0x6B, {0xFF, 0xFB, 0x90, 0x64, 0x55}, 2, 44100, 16000, 417},
      // MPEG-2 layer III at 24 kHz, mono; the MPEG-1 table reads index 4 as 56k.
      {"MPEG-2 audio", 0x69, {0xFF, 0xF3, 0x44, 0xC4, 0x55}, 1, 24000, 7000, 336},
  };
  for (const Row& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(MpegAudioTrack(row.objectType, row.header));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 1, &type), S_OK) << row.name;
    EXPECT_EQ(GuidToString(type.subtype), "{00000055-0000-0010-8000-00AA00389B71}") << row.name;
    ASSERT_EQ(type.cbFormat, 30u) << row.name;
    const MPEGLAYER3WAVEFORMAT format = FormatBlock<MPEGLAYER3WAVEFORMAT>(type);
    EXPECT_EQ(format.wfx.wFormatTag, 0x55) << row.name;
    EXPECT_EQ(format.wfx.nChannels, row.channels) << row.name;
    EXPECT_EQ(format.wfx.nSamplesPerSec, row.rate) << row.name;
    EXPECT_EQ(format.wfx.nAvgBytesPerSec, row.bytesPerSecond) << row.name;
    EXPECT_EQ(format.wfx.nBlockAlign, row.blockAlign) << row.name;
    EXPECT_EQ(format.wfx.wBitsPerSample, 0) << row.name;
    EXPECT_EQ(format.wfx.cbSize, 12) << row.name;
    EXPECT_EQ(format.wID, 1) << row.name;
    EXPECT_EQ(format.fdwFlags, 2u) << row.name;
    EXPECT_EQ(format.nBlockSize, 1152) << row.name;
    EXPECT_EQ(format.nFramesPerBlock, 1) << row.name;
    EXPECT_EQ(format.nCodecDelay, 1393) << row.name;
    EXPECT_EQ(TrackType(movie, 2, &type), VFW_S_NO_MORE_ITEMS) << row.name;
  }
}

TEST_F(AudioMediaTypeTest, LayerOneAndTwoHeadersGiveTheMpeg1Format) {
  struct Row {
    const char* name;
    std::vector<uint8_t> header;
    WORD channels;
    DWORD rate, bitRate;
    WORD blockAlign, layer, mode, modeExt, emphasis, flags;
  };
  const Row rows[] = {
      // 192 kbit/s, 48 kHz, stereo, private, copyright, emphasis 1, no CRC.
      {"layer II", {0xFF, 0xFD, 0xA5, 0x09}, 2, 48000, 192000, 576, 2, 1, 1, 1, 0x1B},
      // 32 kbit/s, 44.1 kHz, single channel, mode extension 2, original, CRC.
      {"layer I", {0xFF, 0xFE, 0x10, 0xE4}, 1, 44100, 32000, 32, 1, 8, 4, 0, 0x14},
      // Free format: no bit rate, so no frame size.
      {"free format", {0xFF, 0xFD, 0x08, 0x40}, 2, 32000, 0, 1, 2, 2, 1, 0, 0x18},
  };
  for (const Row& row : rows) {
    MpegAudioFormat format;
    ASSERT_EQ(ParseMpegAudioHeader(row.header.data(), row.header.size(), &format), S_OK) << row.name;
    ASSERT_EQ(format.size, sizeof(MPEG1WAVEFORMAT)) << row.name;
    const MPEG1WAVEFORMAT& mpeg1 = format.mpeg1;
    EXPECT_EQ(mpeg1.wfx.wFormatTag, 0x50) << row.name;
    EXPECT_EQ(mpeg1.wfx.cbSize, 22) << row.name;
    EXPECT_EQ(mpeg1.wfx.nChannels, row.channels) << row.name;
    EXPECT_EQ(mpeg1.wfx.nSamplesPerSec, row.rate) << row.name;
    EXPECT_EQ(mpeg1.wfx.nAvgBytesPerSec, row.bitRate / 8) << row.name;
    EXPECT_EQ(mpeg1.wfx.nBlockAlign, row.blockAlign) << row.name;
    EXPECT_EQ(mpeg1.fwHeadLayer, row.layer) << row.name;
    EXPECT_EQ(mpeg1.dwHeadBitrate, row.bitRate) << row.name;
    EXPECT_EQ(mpeg1.fwHeadMode, row.mode) << row.name;
    EXPECT_EQ(mpeg1.fwHeadModeExt, row.modeExt) << row.name;
    EXPECT_EQ(mpeg1.wHeadEmphasis, row.emphasis) << row.name;
    EXPECT_EQ(mpeg1.fwHeadFlags, row.flags) << row.name;
  }
}

TEST_F(AudioMediaTypeTest, UnreadableFrameHeaderFailsTheRequest) {
  struct Row {
    const char* name;
    std::vector<uint8_t> first;
    HRESULT result;
  };
  const Row rows[] = {
      {"layer field 0", {0xFF, 0xF9, 0x90, 0x64}, E_FAIL},
      {"one byte", {0xFF}, E_FAIL},
      {"sync bits only", {0xFF, 0xF0}, E_FAIL},
  };
  for (const Row& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(MpegAudioTrack(0x6B, row.first));
    CMediaType type;
    EXPECT_EQ(TrackType(movie, 1, &type), row.result) << row.name;
  }
  const ParsedMovie movie = ParseMediaTypeMovie(MpegAudioTrack(0x6B, {0xFF, 0xFB, 0x90, 0x64}));
  ComPtr<MemorySource> failing = MemorySource::Create({});
  failing->FailReadsFrom(0, E_ABORT);
  movie.Track(0).SetReader(failing.Get());
  CMediaType type;
  EXPECT_EQ(TrackType(movie, 1, &type), E_ABORT);
}

TEST_F(AudioMediaTypeTest, FormatsWithFixedFieldsTheEntryGetsWrong) {
  struct Row {
    const char* format;
    uint16_t channels, bits;
    uint32_t rate;
    const char* subtype;
    WORD tag, offeredChannels;
    DWORD offeredRate;
    WORD offeredBits, blockAlign;
    // 0: the track's own bytes per second.
    DWORD bytesPerSecond;
  };
  const Row rows[] = {
      {"twos", 2, 16, 44100, "{00000001-0000-0010-8000-00AA00389B71}", 1, 2, 44100, 16, 4, 176400},
      {"raw ", 2, 8, 22050, "{00000001-0000-0010-8000-00AA00389B71}", 1, 2, 22050, 8, 2, 44100},
      {"ulaw", 1, 16, 8000, "{00000007-0000-0010-8000-00AA00389B71}", 7, 1, 8000, 8, 1, 0},
      {"alaw", 1, 16, 8000, "{00000006-0000-0010-8000-00AA00389B71}", 6, 1, 8000, 8, 1, 0},
      {"samr", 2, 8, 44100, "{726D6173-5349-4D4F-4544-494154595045}", 0, 1, 8000, 16, 1, 0},
      {"sawb", 2, 8, 44100, "{62776173-5349-4D4F-4544-494154595045}", 0, 1, 16000, 16, 1, 0},
  };
  for (const Row& row : rows) {
    const ParsedMovie movie = ParseMediaTypeMovie(SoundTrack(row.format, row.channels, row.bits, row.rate));
    CMediaType type;
    ASSERT_EQ(TrackType(movie, 0, &type), S_OK) << row.format;
    EXPECT_EQ(GuidToString(type.subtype), row.subtype) << row.format;
    ASSERT_EQ(type.cbFormat, sizeof(WAVEFORMATEX)) << row.format;
    const WAVEFORMATEX wfx = FormatBlock<WAVEFORMATEX>(type);
    EXPECT_EQ(wfx.wFormatTag, row.tag) << row.format;
    EXPECT_EQ(wfx.nChannels, row.offeredChannels) << row.format;
    EXPECT_EQ(wfx.nSamplesPerSec, row.offeredRate) << row.format;
    EXPECT_EQ(wfx.wBitsPerSample, row.offeredBits) << row.format;
    EXPECT_EQ(wfx.nBlockAlign, row.blockAlign) << row.format;
    if (row.bytesPerSecond != 0) {
      EXPECT_EQ(wfx.nAvgBytesPerSec, row.bytesPerSecond) << row.format;
    }
    EXPECT_EQ(TrackType(movie, 1, &type), VFW_S_NO_MORE_ITEMS) << row.format;
  }
}

TEST_F(AudioMediaTypeTest, WmaHandsOnTheStoredWaveFormat) {
  // Tag 0x161, stereo 44.1 kHz, 16000 bytes/s, 10 extra bytes.
  const std::vector<uint8_t> stored = {0x61, 0x01, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x80, 0x3E,
                                       0x00, 0x00, 0x9D, 0x0B, 0x10, 0x00, 0x0A, 0x00, 0x00, 0x88,
                                       0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};
  BoxBuilder wfex;
  wfex.Box("wfex", [&] { wfex.Bytes(stored); });
  const ParsedMovie movie = ParseMediaTypeMovie(SoundTrack("wma ", 2, 16, 44100, wfex.Data()));
  CMediaType type;
  ASSERT_EQ(movie.Track(0).sampleEntry->GetMediaType(0, &type, nullptr), S_OK);
  EXPECT_EQ(GuidToString(type.subtype), "{00000161-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(BlockTail(type, 0), stored);
  EXPECT_TRUE(type.bFixedSizeSamples);
  EXPECT_EQ(type.lSampleSize, 16000u);

  // Too short to be a WAVEFORMATEX: nothing to hand on.
  BoxBuilder cut;
  cut.Box("wfex", [&] { cut.Bytes({0x61, 0x01, 0x02, 0x00}); });
  EXPECT_EQ(TrackType(ParseMediaTypeMovie(SoundTrack("wma ", 2, 16, 44100, cut.Data())), 0, &type),
            VFW_S_NO_MORE_ITEMS);
}

}  // namespace
