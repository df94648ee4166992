// The packed tables widen in place: every value stored before a wider one
// must read back unchanged, whether it came by Append or by Set.
#include "container/packed_array.h"

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

TEST(PackedArrayTest, WideningKeepsEveryValue) {
  const std::pair<std::vector<DWORD>, unsigned> sizes[] = {
      {{0, 255}, 1}, {{7, 255, 256, 65535}, 2}, {{200, 65535, 65536, 0xFFFFFFFF, 3}, 4}, {{1, 0x12345678}, 4}};
  for (const auto& [values, width] : sizes) ExpectRoundTrip<PackedArray<DWORD>>(values, width);
  const std::pair<std::vector<ULONGLONG>, unsigned> offsets[] = {
      {{0, 0xFFFFFFFF}, 4}, {{5, 0xFFFFFFFF, 1ull << 32, 9, ~0ull}, 8}};
  for (const auto& [values, width] : offsets) ExpectRoundTrip<PackedArray<ULONGLONG, 4>>(values, width);
}

}  // namespace
