// The byte buffers: failed growth keeping old storage, refused sizes; and
// the GrowableArray of the sample tables. (CReadFromBuffer serves every
// parse from memory and every cut of the cut-file pass.)
#include "container/byte_buffer.h"
#include "container/growable_array.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Storage whose growth can be made to fail, counting every attempt.
struct FailingBuffer : CBaseBuffer {
  FailingBuffer() : CBaseBuffer(std::free, Reallocate) { attempts = 0, failGrowth = false; }
  static void* Reallocate(void* block, size_t bytes) {
    ++attempts;
    return failGrowth ? nullptr : std::realloc(block, bytes);
  }
  static inline int attempts = 0;
  static inline bool failGrowth = false;
};

TEST(ByteBufferTest, RefusedOrFailedGrowthKeepsTheOldStorage) {
  FailingBuffer buffer;
  ASSERT_EQ(buffer.Assign("keep", 4), S_OK);
  const BYTE* before = buffer.Data();
  BYTE* write = nullptr;
  // Past signed 32 bits nothing is even tried.
  EXPECT_EQ(buffer.GetWritePointer(&write, INT32_MAX), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.ReserveMore(INT32_MAX), E_OUTOFMEMORY);
  EXPECT_EQ(FailingBuffer::attempts, 1);
  EXPECT_EQ(buffer.GetWritePointer(&write, -1), E_INVALIDARG);
  EXPECT_EQ(buffer.ReserveMore(-1), E_INVALIDARG);
  FailingBuffer::failGrowth = true;
  EXPECT_EQ(buffer.Append("more", 4), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.Assign(nullptr, 100), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.AppendText('x'), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.Data(), before);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Length()), "keep");
}

TEST(GrowableArrayTest, IndexOutsideTheCountRaisesAndSetCountZeroFills) {
  GrowableArray<ULONGLONG> table;
  const auto errorOf = [&](ULONG index) {
    try {
      return table[index] = 1, S_OK;
    } catch (const ArrayError& error) {
      return error.Result();
    }
  };
  EXPECT_EQ(errorOf(0), E_INVALIDARG);
  ASSERT_EQ(table.SetCount(2), S_OK);
  table[0] = 7, table[1] = 8;
  ASSERT_EQ(table.SetCount(1), S_OK);
  ASSERT_EQ(table.SetCount(5), S_OK);
  EXPECT_EQ(std::make_tuple(table[0], table[1], errorOf(5)), std::make_tuple(7u, 0u, E_INVALIDARG));
}

}  // namespace
