#include "sample_entry_reading.h"

#include "streams/audio_sample_entry.h"

#include <gtest/gtest.h>

#include <bit>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAacConfig = {0x11, 0x90};

// Sound description version 2 after the common fields.
void WriteSoundV2(BoxBuilder& b, double rate, uint32_t channels) {
  b.U16(2).Zeros(6).U16(3).U16(16).U16(0xFFFE).U16(0).U32(65536).U32(72);
  b.U64(std::bit_cast<uint64_t>(rate)).U32(channels).U32(0x7F000000).U32(24).U32(0x9).U32(6).U32(1);
}

// A sound entry of `format`: the common fields, then what `body` writes.
ReadEntryResult ReadSound(const char (&format)[5], const std::function<void(BoxBuilder&)>& body) {
  BoxBuilder b;
  b.Box(format, [&] {
    WriteCommonFields(b);
    body(b);
  });
  return ReadEntry(kTestKindSound, b);
}

const AudioSampleEntry& Audio(const ReadEntryResult& read) { return dynamic_cast<AudioSampleEntry&>(*read.entry); }

TEST(AudioSampleEntryTest, EsdsInsideWaveIsFoundAndLaterChildrenAreNotExamined) {
  EsDescriptorSpec inWave;
  inWave.decoderSpecificInfo = kAacConfig;
  inWave.longSizes = true;
  EsDescriptorSpec afterWave;
  afterWave.objectType = 0x6B;
  afterWave.decoderSpecificInfo = {0xEE, 0xEE};
  const ReadEntryResult read = ReadSound("mp4a", [&](BoxBuilder& b) {
    WriteSoundV0(b, 2, 16, 44100u << 16, 1);
    b.U32(1024).U32(0).U32(4).U32(2);
    b.Box("wave", [&] {
      b.Box("frma", [&] { b.FourCC("mp4a"); }).Box("mp4a", [&] { b.U32(0); });
      b.Bytes(EsdsBox(inWave)).U32(8).U32(0);  // terminator
    });
    b.Bytes(EsdsBox(afterWave)).Box("pasp", [&] { b.U32(2).U32(1); });
  });
  ASSERT_EQ(read.payload, S_OK);
  EXPECT_EQ(read.entry->objectTypeIndication, 0x40u);
  EXPECT_EQ(Slice(read.entry->codecConfig), kAacConfig);
}

TEST(AudioSampleEntryTest, MalformedWaveEndsTheWalkQuietly) {
  const ReadEntryResult read = ReadSound("mp4a", [](BoxBuilder& b) {
    WriteSoundV0(b, 1, 16, 8000u << 16);
    b.Box("wave", [&] { b.Box(BoxSize::Forced(200), "esds", [&] { b.Zeros(12); }); });
  });
  EXPECT_EQ(read.payload, S_OK);
  EXPECT_EQ(read.entry->objectTypeIndication, SampleEntry::kNoObjectType);
}

TEST(AudioSampleEntryTest, Version1SkipsItsSixteenExtraBytes) {
  const ReadEntryResult read = ReadSound("twos", [](BoxBuilder& b) {
    WriteSoundV0(b, 2, 16, 0xAC440000, 1);
    b.U32(1).U32(2).U32(4).U32(2).Box("wfex", [&] { b.Bytes({0x01, 0x00, 0x02, 0x00}); });
  });
  ASSERT_EQ(read.fixedFields, S_OK);
  EXPECT_EQ(Audio(read).soundVersion, 1);
  EXPECT_EQ(Audio(read).sampleRate, 44100u);
  EXPECT_EQ(Slice(Audio(read).codecConfig), Bytes({0x01, 0x00, 0x02, 0x00}));
}

TEST(AudioSampleEntryTest, Version2KeepsTheFloatRateAndWideChannelCount) {
  // Rates past 65535 must survive; the channel count keeps its low 16 bits;
  // rates no DWORD holds (negative, NaN, huge) become 0 instead of undefined behaviour.
  const struct {
    double rate;
    uint32_t channels;
    DWORD expectedRate;
    WORD expectedChannels;
  } rows[] = {
      {48000.0, 2, 48000, 2},   {96000.0, 6, 96000, 6}, {192000.0, 8, 192000, 8},
      {44100.75, 1, 44100, 1},  {22050.0, 0x00010002, 22050, 2},    {-1.0, 2, 0, 2},
      {std::bit_cast<double>(0x7FF8000000000000ull), 2, 0, 2},      {1e12, 2, 0, 2},
  };
  for (const auto& row : rows) {
    const ReadEntryResult read = ReadSound("lpcm", [&](BoxBuilder& b) {
      WriteSoundV2(b, row.rate, row.channels);
      b.Box("chan", [&] { b.Zeros(12); });
    });
    ASSERT_EQ(read.fixedFields, S_OK) << row.rate;
    EXPECT_EQ(Audio(read).sampleRate, row.expectedRate) << row.rate;
    EXPECT_EQ(Audio(read).channelCount, row.expectedChannels) << row.rate;
    EXPECT_EQ(Audio(read).sampleSize, 16) << row.rate;
    // The 20 trailing bytes are skipped: the payload starts at "chan".
    EXPECT_EQ(Audio(read).payload.Length(), 20) << row.rate;
  }
}

TEST(AudioSampleEntryTest, UnknownVersionReadsNothingMore) {
  const ReadEntryResult read = ReadSound("mp4a", [](BoxBuilder& b) { b.U16(3).Zeros(6).U16(2).U16(16).Zeros(4).U32(48000u << 16); });
  ASSERT_EQ(read.fixedFields, S_OK);
  EXPECT_EQ(Audio(read).channelCount, 0);
  EXPECT_EQ(Audio(read).sampleRate, 0u);
  EXPECT_EQ(Audio(read).payload.Length(), 12);
}

TEST(AudioSampleEntryTest, SoundDescriptionsCutShortAreInvalidHeader) {
  // Bytes after the common fields: v0 needs 20, v1 36, v2 56.
  const std::pair<uint16_t, size_t> rows[] = {{0, 0}, {0, 19}, {1, 20}, {1, 35}, {2, 20}, {2, 27}, {2, 35}, {2, 55}};
  for (const auto& [version, kept] : rows) {
    BoxBuilder full;
    if (version == 2) WriteSoundV2(full, 48000.0, 2);
    if (version != 2) WriteSoundV0(full, 2, 16, 44100u << 16, version);
    full.Zeros(version == 1 ? 16 : 0);
    const ReadEntryResult read = ReadSound("sowt", [&](BoxBuilder& b) { b.Bytes(Bytes(full.Data().begin(), full.Data().begin() + kept)); });
    EXPECT_EQ(read.fixedFields, STG_E_INVALIDHEADER) << version << "/" << kept;
  }
}

TEST(EsDescriptorTest, OptionalEsFieldsAreSteppedOver) {
  // Stream dependence, URL and OCR flags, alone and together.
  const std::pair<uint8_t, Bytes> rows[] = {{0x80, {}}, {0x40, {}}, {0x20, {}}, {0xE0, {'h', 't', 't', 'p'}}};
  for (const auto& [flags, url] : rows) {
    EsDescriptorSpec spec;
    spec.esFlags = flags;
    spec.url = url;
    spec.objectType = 0x66;
    spec.decoderSpecificInfo = kAacConfig;
    const ReadEntryResult read = ReadSound("mp4a", [&](BoxBuilder& b) { WriteSoundV0(b, 2, 16, 48000u << 16); b.Bytes(EsdsBox(spec)); });
    EXPECT_EQ(read.entry->objectTypeIndication, 0x66u) << int(flags);
    EXPECT_EQ(Slice(read.entry->codecConfig), kAacConfig) << int(flags);
  }
}

TEST(EsDescriptorTest, SizePastTheCapIsRefusedWithoutOverflow) {
  EsDescriptorSpec spec;
  spec.decoderSpecificInfo = kAacConfig;
  const Bytes good = BuildEsDescriptor(spec);
  // Seven continuation bytes: accumulation stops at 0x1FFFFFFF, still far
  // more than the bytes left, instead of wrapping to something small.
  Bytes huge = {0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00};
  huge.insert(huge.end(), good.begin() + 2, good.end());
  const ReadEntryResult read = ReadSound("mp4a", [&](BoxBuilder& b) {
    WriteSoundV0(b, 2, 16, 48000u << 16);
    b.FullBox("esds", 0, 0, [&] { b.Bytes(huge); });
  });
  EXPECT_EQ(read.payload, S_OK);
  EXPECT_EQ(read.entry->objectTypeIndication, SampleEntry::kNoObjectType);
  EXPECT_EQ(read.entry->codecConfig.Length(), 0);
}

}  // namespace
