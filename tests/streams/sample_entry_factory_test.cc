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

}  // namespace
