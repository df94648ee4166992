// GrowableArray: the index check, zero-filled growth and the step in which
// appends grow the storage.
#include "container/growable_array.h"

#include <gtest/gtest.h>

namespace {

TEST(GrowableArrayTest, IndexAtOrPastTheCountRaisesInvalidArg) {
  GrowableArray<DWORD> array;
  ASSERT_EQ(array.SetCount(3), S_OK);
  try {
    array[3] = 1;
    FAIL() << "no exception";
  } catch (const ArrayError& error) {
    EXPECT_EQ(error.Result(), E_INVALIDARG);
  }
  GrowableArray<DWORD> empty;
  EXPECT_THROW(empty.Last(), ArrayError);
}

TEST(GrowableArrayTest, SetCountZeroFillsNewEntriesAndZeroFreesTheStorage) {
  GrowableArray<ULONGLONG> array;
  ASSERT_EQ(array.SetCount(2), S_OK);
  array[0] = 7;
  array[1] = 8;
  ASSERT_EQ(array.SetCount(1), S_OK);
  ASSERT_EQ(array.SetCount(4), S_OK);
  EXPECT_EQ(array[0], 7u);
  EXPECT_EQ(array[1], 0u);
  EXPECT_EQ(array[3], 0u);
  ASSERT_EQ(array.SetCount(0), S_OK);
  EXPECT_EQ(array.Capacity(), 0u);
  EXPECT_EQ(array.Data(), nullptr);
}

// A table set to its count from the file holds exactly that; appending one
// entry at a time reallocates once per step.
TEST(GrowableArrayTest, SetCountIsExactAndAppendsGrowByTheStep) {
  GrowableArray<DWORD> table;
  ASSERT_EQ(table.SetCount(5), S_OK);
  EXPECT_EQ(table.Capacity(), 5u);
  GrowableArray<DWORD> appended(4);
  for (DWORD i = 0; i < 9; ++i) appended.Append(i);
  EXPECT_EQ(appended.Count(), 9u);
  EXPECT_EQ(appended.Capacity(), 12u);
  EXPECT_EQ(appended.Last(), 8u);
}

}  // namespace
