#include "sample_entry_reading.h"

#include "streams/audio_sample_entry.h"
#include "streams/null_sample_entry.h"
#include "streams/video_sample_entry.h"

#include <gtest/gtest.h>

#include <typeinfo>

namespace {

TEST(SampleEntryFactoryTest, MediaKindChoosesTheEntryClass) {
  struct Row {
    DWORD mediaKind;
    DWORD entryKind;
    const std::type_info& type;
  };
  // Hint tracks and tracks without a media header get the plain entry.
  const Row rows[] = {
      {0, kSampleEntryPlain, typeid(SampleEntry)},       {1, kSampleEntryVideo, typeid(VideoSampleEntry)},
      {2, kSampleEntryAudio, typeid(AudioSampleEntry)},  {3, kSampleEntryPlain, typeid(SampleEntry)},
      {4, kSampleEntryNull, typeid(NullSampleEntry)},    {99, kSampleEntryPlain, typeid(SampleEntry)},
  };
  Box header;
  header.type = FourCC("avc1");
  header.size = 86;
  for (const Row& row : rows) {
    std::unique_ptr<SampleEntry> entry(CreateSampleEntry(row.mediaKind, header, nullptr));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->entryKind, row.entryKind) << row.mediaKind;
    const SampleEntry& built = *entry;
    EXPECT_TRUE(typeid(built) == row.type) << row.mediaKind;
    EXPECT_EQ(entry->Format(), FourCC("avc1"));
    EXPECT_EQ(entry->size, 86);
  }
}

TEST(SampleEntryFactoryTest, NullEntryKeepsEverythingAfterTheCommonFields) {
  // A timed-text entry: its own fields are not boxes, and the walk over
  // them must stop without losing a byte of the payload.
  BoxBuilder tail;
  tail.U32(0).U8(1).U8(0xFF).U32(0).U16(0).U16(0).U16(0).U16(0).U16(1).U8(0).U8(0).U8(0x12).U32(0xFFFFFFFF);
  tail.Box("ftab", [&] { tail.U16(1).U16(1).U8(5).Text("Serif"); });
  BoxBuilder b;
  b.Box("tx3g", [&] {
    WriteCommonFields(b, 1);
    b.Bytes(tail.Data());
  });
  const ReadEntryResult read = ReadEntry(kTestKindNull, b);
  ASSERT_EQ(read.fixedFields, S_OK);
  EXPECT_EQ(read.payload, S_OK);
  EXPECT_EQ(read.entry->dataReferenceIndex, 1);
  EXPECT_EQ(Slice(read.entry->payload), tail.Data());
  EXPECT_EQ(read.entry->codecConfig.Length(), 0);
}

}  // namespace
