// The byte buffers: growth, failure keeping old storage, text, side data;
// and CReadFromBuffer as a byte source.
#include "container/byte_buffer.h"
#include "container/read_from_buffer.h"
#include "platform/code_page.h"
#include "platform/task_memory.h"
#include "platform/win32_error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Storage whose growth can be made to fail, counting every attempt.
class FailingBuffer : public CBaseBuffer {
 public:
  FailingBuffer() : CBaseBuffer(std::free, Reallocate) { attempts = 0, failGrowth = false; }
  ~FailingBuffer() override = default;

  static inline int attempts = 0;
  static inline bool failGrowth = false;

 private:
  static void* Reallocate(void* block, size_t bytes) {
    ++attempts;
    return failGrowth ? nullptr : std::realloc(block, bytes);
  }
};

std::string Contents(const CBaseBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.Data()), static_cast<size_t>(buffer.Length()));
}

TEST(ByteBufferTest, AppendGrowsToExactlyTheNeededCapacity) {
  CBuffer buffer;
  ASSERT_EQ(buffer.Append("abc", 3), S_OK);
  ASSERT_EQ(buffer.AppendByte('d'), S_OK);
  EXPECT_EQ(Contents(buffer), "abcd");
  EXPECT_EQ(buffer.Capacity(), 4);
}

TEST(ByteBufferTest, FailedGrowthKeepsTheOldStorage) {
  FailingBuffer buffer;
  ASSERT_EQ(buffer.Assign("keep", 4), S_OK);
  const BYTE* before = buffer.Data();
  FailingBuffer::failGrowth = true;
  EXPECT_EQ(buffer.Append("more", 4), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.Assign(nullptr, 100), E_OUTOFMEMORY);
  BYTE* write = nullptr;
  EXPECT_EQ(buffer.GetWritePointer(&write, 1), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.AppendText('x'), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.Data(), before);
  EXPECT_EQ(Contents(buffer), "keep");
}

TEST(ByteBufferTest, SizesPastSigned32BitsAreRefusedBeforeReserving) {
  FailingBuffer buffer;
  ASSERT_EQ(buffer.Assign("x", 1), S_OK);
  const int attempts = FailingBuffer::attempts;
  BYTE* write = nullptr;
  EXPECT_EQ(buffer.GetWritePointer(&write, INT32_MAX), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.ReserveMore(INT32_MAX), E_OUTOFMEMORY);
  EXPECT_EQ(FailingBuffer::attempts, attempts);
}

TEST(ByteBufferTest, NegativeCountsAndNullPointersAreRefused) {
  CBuffer buffer;
  BYTE* write = nullptr;
  EXPECT_EQ(buffer.GetWritePointer(&write, -1), E_INVALIDARG);
  EXPECT_EQ(buffer.ReserveMore(-1), E_INVALIDARG);
  EXPECT_EQ(buffer.Swap(nullptr), E_POINTER);
}

TEST(ByteBufferTest, AssignWithoutBytesZeroFillsAndWritePointerIsPastTheUsedBytes) {
  CBuffer buffer;
  ASSERT_EQ(buffer.Assign(nullptr, 3), S_OK);
  EXPECT_EQ(Contents(buffer), std::string(3, '\0'));
  BYTE* write = nullptr;
  ASSERT_EQ(buffer.GetWritePointer(&write, 10), S_OK);
  EXPECT_EQ(write, buffer.Data() + 3);
  EXPECT_GE(buffer.Capacity(), 13);
}

TEST(ByteBufferTest, SwapExchangesStorageAndEmptyKeepsIt) {
  CBuffer a, b;
  ASSERT_EQ(a.Assign("one", 3), S_OK);
  ASSERT_EQ(b.Assign("three", 5), S_OK);
  ASSERT_EQ(a.Swap(&b), S_OK);
  EXPECT_EQ(Contents(a), "three");
  EXPECT_EQ(Contents(b), "one");
  const BYTE* storage = a.Data();
  a.Empty();
  EXPECT_EQ(a.Length(), 0);
  EXPECT_EQ(a.Data(), storage);
}

TEST(ByteBufferTest, AppendTextKeepsExactlyOneTerminator) {
  CBuffer text, other;
  ASSERT_EQ(text.AppendText('a'), S_OK);
  ASSERT_EQ(text.AppendText('b'), S_OK);
  EXPECT_EQ(Contents(text), std::string("ab\0", 3));
  ASSERT_EQ(other.Assign("cd\0", 3), S_OK);
  ASSERT_EQ(text.AppendText(other), S_OK);
  ASSERT_EQ(text.AppendText(L"\u00e9f", -1, CP_UTF8), S_OK);
  EXPECT_EQ(Contents(text), std::string("abcd\xC3\xA9" "f\0", 8));
  ASSERT_EQ(text.AppendText(text), S_OK);
  EXPECT_EQ(Contents(text), std::string("abcd\xC3\xA9" "fabcd\xC3\xA9" "f\0", 15));
  text.TrimTrailingNuls();
  EXPECT_EQ(text.Length(), 14);
}

TEST(ByteBufferTest, WideTextOfCorruptLengthOrUnknownPageIsRefused) {
  CBuffer text;
  EXPECT_EQ(text.AppendText(L"x", 0x40000001, CP_UTF8), E_INVALIDARG);
  EXPECT_EQ(text.AppendText(L"x", 1, 37), E_INVALIDARG);
  EXPECT_EQ(text.Length(), 0);
}

TEST(ByteBufferTest, FormatCountsTheTerminatorAndAppendFormatReplacesIt) {
  CBuffer text;
  ASSERT_EQ(text.Format("id=%d", 42), S_OK);
  EXPECT_EQ(Contents(text), std::string("id=42\0", 6));
  ASSERT_EQ(text.AppendFormat(" %s", "ok"), S_OK);
  EXPECT_EQ(Contents(text), std::string("id=42 ok\0", 9));
  ASSERT_EQ(text.Format("%s", ""), S_OK);
  EXPECT_EQ(text.Length(), 1);
}

TEST(ByteBufferTest, TextConvertsToWideAndBstr) {
  CBuffer text;
  ASSERT_EQ(text.Assign("caf\xC3\xA9", 5), S_OK);
  WCHAR wide[5];
  ASSERT_EQ(text.ToWide(wide, 5, CP_UTF8), S_OK);
  EXPECT_EQ(std::wstring(wide), L"caf\u00e9");
  EXPECT_EQ(text.ToWide(wide, 4, CP_UTF8), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  BSTR bstr = nullptr;
  ASSERT_EQ(text.ToBstr(&bstr, CP_ISO_8859_1), S_OK);
  EXPECT_EQ(SysStringLen(bstr), 5u) << "Latin-1 takes each byte as a character";
  SysFreeString(bstr);
}

TEST(ByteBufferTest, SideDataIsCopiedReplacedAndDroppedWithFree) {
  CBuffer buffer;
  const BYTE* side = nullptr;
  LONG length = -1;
  buffer.GetSideData(&side, &length);
  EXPECT_EQ(side, nullptr);
  EXPECT_EQ(length, 0);
  ASSERT_EQ(buffer.SetSideData("side", 4), S_OK);
  buffer.GetSideData(&side, &length);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(side), static_cast<size_t>(length)), "side");
  ASSERT_EQ(buffer.SetSideData("x", 0), S_OK);
  buffer.GetSideData(&side, &length);
  EXPECT_EQ(side, nullptr);
  ASSERT_EQ(buffer.SetSideData("again", 5), S_OK);
  buffer.Free();
  buffer.GetSideData(&side, &length);
  EXPECT_EQ(length, 0);
}

TEST(ByteBufferTest, HeapBufferObjectAndStorageLiveOnTheProcessHeap) {
  auto* buffer = new CHeapBuffer;
  ASSERT_EQ(buffer->Append("heap", 4), S_OK);
  ASSERT_EQ(buffer->Append("!", 1), S_OK);
  EXPECT_EQ(Contents(*buffer), "heap!");
  delete buffer;
}

class ReadFromBufferTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(reader_->Assign("0123456789", 10), S_OK); }
  void TearDown() override { reader_->Release(); }

  CReadFromBuffer* reader_ = new CReadFromBuffer;
};

TEST_F(ReadFromBufferTest, ReadAtTheUsedLengthCopiesNothingAndOneFurtherIsEndOfFile) {
  BYTE bytes[4] = {'*', '*', '*', '*'};
  EXPECT_EQ(reader_->SyncRead(10, 4, bytes), S_OK);
  EXPECT_EQ(bytes[0], '*');
  EXPECT_EQ(reader_->SyncRead(11, 4, bytes), HRESULT_HANDLE_EOF);
  EXPECT_EQ(reader_->SyncRead(-1, 4, bytes), HRESULT_HANDLE_EOF);
  EXPECT_EQ(reader_->SyncRead(8, 4, bytes), S_OK) << "short, but still S_OK";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "89**");
  EXPECT_EQ(reader_->SyncRead(0, 4, nullptr), E_POINTER);
}

TEST_F(ReadFromBufferTest, ReaderWithoutStorageIsUnexpected) {
  CReadFromBuffer empty;
  BYTE byte = 0;
  EXPECT_EQ(empty.SyncRead(0, 1, &byte), E_UNEXPECTED);
}

TEST_F(ReadFromBufferTest, LengthReportsTheUsedLengthThroughEitherPointer) {
  LONGLONG total = 0, available = 0;
  ASSERT_EQ(reader_->Length(&total, nullptr), S_OK);
  ASSERT_EQ(reader_->Length(nullptr, &available), S_OK);
  EXPECT_EQ(total, 10);
  EXPECT_EQ(available, 10);
}

TEST_F(ReadFromBufferTest, OnlyTheReaderInterfacesAreOffered) {
  void* out = nullptr;
  EXPECT_EQ(reader_->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  ASSERT_EQ(reader_->QueryInterface(IID_IAsyncReader, &out), S_OK);
  EXPECT_EQ(out, static_cast<IAsyncReader*>(reader_));
  EXPECT_EQ(reader_->Release(), 1u) << "QueryInterface added a reference";
  const IID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(reader_->QueryInterface(other, &out), E_NOTIMPL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(reader_->Request(nullptr, 0), E_NOTIMPL);
  EXPECT_EQ(reader_->SyncReadAligned(nullptr), E_NOTIMPL);
  EXPECT_EQ(reader_->BeginFlush(), S_OK);
}

}  // namespace
