// The byte buffers: failed growth keeping old storage, refused sizes.
// (CReadFromBuffer serves every parse from memory and every cut of the
// cut-file pass; the sample tables' arrays every parse and every fuzz run.)
#include "container/byte_buffer.h"

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

}  // namespace
