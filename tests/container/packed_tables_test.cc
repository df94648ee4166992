// The packed tables: widening in place keeps every value stored before,
// whether it came by Append or by Set; the quick pass over the chunks
// bounds a track's last byte exactly.
#include "support/memory_source.h"

#include "container/packed_array.h"
#include "container/trak_box.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

template <class Array, class T>
void ExpectRoundTrip(const std::vector<T>& values, unsigned width) {
  Array appended;
  Array set;
  ASSERT_EQ(set.SetCount(static_cast<ULONG>(values.size())), S_OK);
  for (ULONG i = 0; i < values.size(); ++i) {
    appended.Append(values[i]);
    ASSERT_EQ(set.Set(i, values[i]), S_OK);
  }
  for (const Array* array : {&appended, &set}) {
    EXPECT_EQ(array->Width(), width) << values.back();
    for (ULONG i = 0; i < values.size(); ++i) EXPECT_EQ((*array)[i], values[i]) << i << " of " << values.back();
  }
}

TEST(PackedTablesTest, WideningKeepsEveryValue) {
  const std::pair<std::vector<DWORD>, unsigned> sizes[] = {
      {{0, 255}, 1}, {{7, 255, 256, 65535}, 2}, {{200, 65535, 65536, 0xFFFFFFFF, 3}, 4}, {{1, 0x12345678}, 4}};
  for (const auto& [values, width] : sizes) ExpectRoundTrip<PackedArray<DWORD>>(values, width);
  const std::pair<std::vector<ULONGLONG>, unsigned> offsets[] = {
      {{0, 0xFFFFFFFF}, 4}, {{5, 0xFFFFFFFF, 1ull << 32, 9, ~0ull}, 8}};
  for (const auto& [values, width] : offsets) ExpectRoundTrip<PackedArray<ULONGLONG, 4>>(values, width);
}

// Chunks at 10 (samples of 5 and 5 bytes) and 40 (10 and 10): the track
// ends at byte 60. A first chunk other than 1 is left to the sample walk.
TEST(PackedTablesTest, ChunkPassBoundsTheLastByte) {
  Box header;
  ComPtr<MemorySource> source = MemorySource::Create(std::vector<uint8_t>(64));
  trakBox track(header, source.Get());
  trakFragment& table = *track.sampleTable;
  table.sampleCount = 4;
  table.sampleToChunk.Append({1, 2, 1});
  for (ULONGLONG offset : {10, 40}) table.chunkOffsets.Append(offset);
  for (DWORD size : {5, 5, 10, 10}) table.sampleSizes.Append(size);
  for (const auto& [length, within] : {std::pair{60, true}, {59, false}, {39, false}, {-1, false}}) {
    EXPECT_EQ(track.SamplesEndWithin(length), within) << length;
  }
  table.sampleToChunk[0].firstChunk = 2;
  EXPECT_FALSE(track.SamplesEndWithin(1000));
}

}  // namespace
