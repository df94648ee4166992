#include "sample_entry_reading.h"

#include "streams/audio_sample_entry.h"

#include <gtest/gtest.h>

#include <bit>

namespace {

const std::vector<uint8_t> kAacConfig = {0x11, 0x90};

AudioSampleEntry& AsAudio(const ReadEntryResult& read) { return dynamic_cast<AudioSampleEntry&>(*read.entry); }
// The entry dies with its result, so a temporary result would dangle.
AudioSampleEntry& AsAudio(ReadEntryResult&&) = delete;

// Sound description version 2 after the common fields.
void WriteSoundV2(BoxBuilder& b, double rate, uint32_t channels, uint16_t bits = 16) {
  b.U16(2).Zeros(6);
  b.U16(3).U16(bits).U16(0xFFFE).U16(0).U32(65536).U32(72);
  b.U64(std::bit_cast<uint64_t>(rate)).U32(channels);
  b.U32(0x7F000000).U32(24).U32(0x9).U32(6).U32(1);
}

TEST(AudioSampleEntryTest, IsoEntryReadsChannelsBitsAndRate) {
  EsDescriptorSpec spec;
  spec.decoderSpecificInfo = kAacConfig;
  BoxBuilder b;
  b.Box("mp4a", [&] {
    WriteCommonFields(b);
    WriteSoundV0(b, 2, 16, 48000u << 16);
    WriteEsds(b, spec);
  });
  const ReadEntryResult read = ReadEntry(kTestKindSound, b);
  ASSERT_EQ(read.fixedFields, S_OK);
  ASSERT_EQ(read.payload, S_OK);
  const AudioSampleEntry& audio = AsAudio(read);
  EXPECT_EQ(audio.soundVersion, 0);
  EXPECT_EQ(audio.channelCount, 2);
  EXPECT_EQ(audio.sampleSize, 16);
  EXPECT_EQ(audio.sampleRate, 48000u);
  EXPECT_EQ(audio.objectTypeIndication, 0x40u);
  EXPECT_EQ(Slice(audio.codecConfig), kAacConfig);
  // The PCM layout reads the entry through the base.
  const SampleEntry& base = audio;
  EXPECT_EQ(base.PcmChannelCount(), 2);
  EXPECT_EQ(base.PcmBitsPerSample(), 16);
}

TEST(AudioSampleEntryTest, EsdsInsideWaveIsFoundAndLaterChildrenAreNotExamined) {
  EsDescriptorSpec inWave;
  inWave.objectType = 0x40;
  inWave.decoderSpecificInfo = kAacConfig;
  inWave.longSizes = true;
  EsDescriptorSpec afterWave;
  afterWave.objectType = 0x6B;
  afterWave.decoderSpecificInfo = {0xEE, 0xEE};
  BoxBuilder b;
  b.Box("mp4a", [&] {
    WriteCommonFields(b);
    WriteSoundV0(b, 2, 16, 44100u << 16, 1);
    b.U32(1024).U32(0).U32(4).U32(2);
    b.Box("wave", [&] {
      b.Box("frma", [&] { b.FourCC("mp4a"); });
      b.Box("mp4a", [&] { b.U32(0); });
      WriteEsds(b, inWave);
      b.U32(8).U32(0);  // terminator
    });
    WriteEsds(b, afterWave);
    b.Box("pasp", [&] { b.U32(2).U32(1); });
  });
  const ReadEntryResult read = ReadEntry(kTestKindSound, b);
  ASSERT_EQ(read.payload, S_OK);
  EXPECT_EQ(read.entry->objectTypeIndication, 0x40u);
  EXPECT_EQ(Slice(read.entry->codecConfig), kAacConfig);
}

TEST(AudioSampleEntryTest, MalformedWaveEndsTheWalkQuietly) {
  BoxBuilder b;
  b.Box("mp4a", [&] {
    WriteCommonFields(b);
    WriteSoundV0(b, 1, 16, 8000u << 16);
    b.Box("wave", [&] { b.Box(BoxSize::Forced(200), "esds", [&] { b.Zeros(12); }); });
  });
  const ReadEntryResult read = ReadEntry(kTestKindSound, b);
  EXPECT_EQ(read.payload, S_OK);
  EXPECT_EQ(read.entry->objectTypeIndication, SampleEntry::kNoObjectType);
}

TEST(AudioSampleEntryTest, Version1SkipsItsSixteenExtraBytes) {
  BoxBuilder children;
  children.Box("wfex", [&] { children.Bytes({0x01, 0x00, 0x02, 0x00}); });
  BoxBuilder b;
  b.Box("twos", [&] {
    WriteCommonFields(b);
    WriteSoundV0(b, 2, 16, 0xAC440000, 1);
    b.U32(1).U32(2).U32(4).U32(2);
    b.Bytes(children.Data());
  });
  const ReadEntryResult read = ReadEntry(kTestKindSound, b);
  ASSERT_EQ(read.fixedFields, S_OK);
  const AudioSampleEntry& audio = AsAudio(read);
  EXPECT_EQ(audio.soundVersion, 1);
  EXPECT_EQ(audio.sampleRate, 44100u);
  EXPECT_EQ(Slice(audio.payload), children.Data());
  EXPECT_EQ(Slice(audio.codecConfig), std::vector<uint8_t>({0x01, 0x00, 0x02, 0x00}));
}

TEST(AudioSampleEntryTest, Version2KeepsTheFloatRateAndWideChannelCount) {
  struct Row {
    double rate;
    uint32_t channels;
    DWORD expectedRate;
    WORD expectedChannels;
  };
  // Rates past 65535 must survive; the channel count keeps its low 16 bits.
  const Row rows[] = {
      {48000.0, 2, 48000, 2},        {96000.0, 6, 96000, 6},         {192000.0, 8, 192000, 8},
      {44100.75, 1, 44100, 1},       {22050.0, 0x00010002, 22050, 2}, {-1.0, 2, 0, 2},
      {std::bit_cast<double>(0x7FF8000000000000ull), 2, 0, 2},       {1e12, 2, 0, 2},
  };
  for (const Row& row : rows) {
    BoxBuilder b;
    b.Box("lpcm", [&] {
      WriteCommonFields(b);
      WriteSoundV2(b, row.rate, row.channels, 16);
      b.Box("chan", [&] { b.Zeros(12); });
    });
    const ReadEntryResult read = ReadEntry(kTestKindSound, b);
    ASSERT_EQ(read.fixedFields, S_OK) << row.rate;
    const AudioSampleEntry& audio = AsAudio(read);
    EXPECT_EQ(audio.sampleRate, row.expectedRate) << row.rate;
    EXPECT_EQ(audio.channelCount, row.expectedChannels) << row.rate;
    EXPECT_EQ(audio.sampleSize, 16) << row.rate;
    // The 20 trailing bytes are skipped: the payload starts at "chan".
    EXPECT_EQ(audio.payload.Length(), 20) << row.rate;
  }
}

TEST(AudioSampleEntryTest, UnknownVersionReadsNothingMore) {
  BoxBuilder b;
  b.Box("mp4a", [&] {
    WriteCommonFields(b);
    b.U16(3).Zeros(6).U16(2).U16(16).Zeros(4).U32(48000u << 16);
  });
  const ReadEntryResult read = ReadEntry(kTestKindSound, b);
  ASSERT_EQ(read.fixedFields, S_OK);
  const AudioSampleEntry& audio = AsAudio(read);
  EXPECT_EQ(audio.channelCount, 0);
  EXPECT_EQ(audio.sampleRate, 0u);
  EXPECT_EQ(audio.payload.Length(), 12);
}

TEST(AudioSampleEntryTest, SoundDescriptionsCutShortAreInvalidHeader) {
  struct Row {
    uint16_t version;
    size_t kept;
  };
  // Bytes after the common fields: v0 needs 20, v1 36, v2 56.
  const Row rows[] = {{0, 0}, {0, 19}, {1, 20}, {1, 35}, {2, 20}, {2, 27}, {2, 35}, {2, 55}};
  for (const Row& row : rows) {
    BoxBuilder full;
    full.Box("sowt", [&] {
      WriteCommonFields(full);
      if (row.version == 2) {
        WriteSoundV2(full, 48000.0, 2);
      } else {
        WriteSoundV0(full, 2, 16, 44100u << 16, row.version);
        if (row.version == 1) full.Zeros(16);
      }
    });
    ASSERT_GT(full.Size(), 16 + row.kept);
    const std::vector<uint8_t> body(full.Data().begin() + 8, full.Data().begin() + 16 + static_cast<long>(row.kept));
    BoxBuilder b;
    b.Box("sowt", [&] { b.Bytes(body); });
    EXPECT_EQ(ReadEntry(kTestKindSound, b).fixedFields, STG_E_INVALIDHEADER) << row.version << "/" << row.kept;
  }
}

class EsDescriptorTest : public ::testing::Test {
 protected:
  static ReadEntryResult Read(const std::vector<uint8_t>& esDescriptor) {
    BoxBuilder b;
    b.Box("mp4a", [&] {
      WriteCommonFields(b);
      WriteSoundV0(b, 2, 16, 48000u << 16);
      b.FullBox("esds", 0, 0, [&] { b.Bytes(esDescriptor); });
    });
    return ReadEntry(kTestKindSound, b);
  }
};

TEST_F(EsDescriptorTest, OptionalEsFieldsAreSteppedOver) {
  struct Row {
    uint8_t flags;
    std::vector<uint8_t> url;
  };
  // The stream-dependence and URL flags alone are covered with the base entry.
  const Row rows[] = {{0x20, {}}, {0xE0, {'h', 't', 't', 'p'}}, {0x40, {}}};
  for (const Row& row : rows) {
    EsDescriptorSpec spec;
    spec.esFlags = row.flags;
    spec.url = row.url;
    spec.objectType = 0x66;
    spec.decoderSpecificInfo = kAacConfig;
    const ReadEntryResult read = Read(BuildEsDescriptor(spec));
    EXPECT_EQ(read.entry->objectTypeIndication, 0x66u) << int(row.flags);
    EXPECT_EQ(Slice(read.entry->codecConfig), kAacConfig) << int(row.flags);
  }
}

TEST_F(EsDescriptorTest, SizePastTheCapIsRefusedWithoutOverflow) {
  EsDescriptorSpec spec;
  spec.decoderSpecificInfo = kAacConfig;
  const std::vector<uint8_t> good = BuildEsDescriptor(spec);
  // Seven continuation bytes: accumulation stops at 0x1FFFFFFF, still far
  // more than the bytes left, instead of wrapping to something small.
  std::vector<uint8_t> huge = {0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00};
  huge.insert(huge.end(), good.begin() + 2, good.end());
  const ReadEntryResult read = Read(huge);
  EXPECT_EQ(read.payload, S_OK);
  EXPECT_EQ(read.entry->objectTypeIndication, SampleEntry::kNoObjectType);
  EXPECT_EQ(read.entry->codecConfig.Length(), 0);
}

}  // namespace
