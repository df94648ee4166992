#include "engine/buffered_reader.h"

#include "platform/media_seeking.h"
#include "support/memory_source.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> PatternBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8));
  return bytes;
}

// The source reads as "position+length" pairs, for compact expectations.
std::vector<std::pair<LONGLONG, LONG>> ReadsOf(const MemorySource& source) {
  std::vector<std::pair<LONGLONG, LONG>> reads;
  for (const MemorySource::ReadCall& call : source.Reads()) reads.emplace_back(call.position, call.length);
  return reads;
}

class BufferedReaderTest : public ::testing::Test {
 protected:
  void Open(size_t fileSize) {
    bytes_ = PatternBytes(fileSize);
    source_ = MemorySource::Create(bytes_);
    ASSERT_EQ(CBufferedAsyncReader::Create(source_.Get(), reader_.Put()), S_OK);
  }
  std::vector<uint8_t> Expected(LONGLONG position, LONG length) const {
    return {bytes_.begin() + position, bytes_.begin() + position + length};
  }
  std::vector<uint8_t> Read(LONGLONG position, LONG length, HRESULT expected = S_OK) {
    std::vector<uint8_t> out(static_cast<size_t>(length));
    EXPECT_EQ(reader_->SyncRead(position, length, out.data()), expected) << position << "+" << length;
    return out;
  }

  std::vector<uint8_t> bytes_;
  ComPtr<MemorySource> source_;
  ComPtr<IBufferedAsyncReader> reader_;
};

TEST_F(BufferedReaderTest, SmallReadsInOneBlockCostOneSourceRead) {
  Open(10000);
  EXPECT_EQ(Read(10, 8), Expected(10, 8));
  EXPECT_EQ(Read(100, 8), Expected(100, 8));
  EXPECT_EQ(Read(4095, 1), Expected(4095, 1));
  EXPECT_EQ(ReadsOf(*source_.Get()), (std::vector<std::pair<LONGLONG, LONG>>{{0, 4096}}));
}

TEST_F(BufferedReaderTest, ReadAcrossBlockEdgeJoinsTwoAlignedBlocks) {
  Open(10000);
  EXPECT_EQ(Read(4090, 16), Expected(4090, 16));
  EXPECT_EQ(ReadsOf(*source_.Get()), (std::vector<std::pair<LONGLONG, LONG>>{{0, 4096}, {4096, 4096}}));
}

TEST_F(BufferedReaderTest, ReadSpanningSeveralBlocksReadsEachOnce) {
  Open(20000);
  EXPECT_EQ(Read(100, 9000), Expected(100, 9000));
  EXPECT_EQ(ReadsOf(*source_.Get()), (std::vector<std::pair<LONGLONG, LONG>>{{0, 4096}, {4096, 4096}, {8192, 4096}}));
}

TEST_F(BufferedReaderTest, CacheHoldsOneBlockSoGoingBackReloads) {
  Open(10000);
  Read(10, 4);
  Read(5000, 4);
  Read(20, 4);
  EXPECT_EQ(ReadsOf(*source_.Get()), (std::vector<std::pair<LONGLONG, LONG>>{{0, 4096}, {4096, 4096}, {0, 4096}}));
}

TEST_F(BufferedReaderTest, ShortLastBlockIsRetriedForTheBytesNeeded) {
  Open(5000);
  EXPECT_EQ(Read(4900, 100), Expected(4900, 100));
  EXPECT_EQ(ReadsOf(*source_.Get()), (std::vector<std::pair<LONGLONG, LONG>>{{4096, 4096}, {4096, 904}}));
  // The retried range is cached: what lies before it costs nothing more.
  EXPECT_EQ(Read(4096, 10), Expected(4096, 10));
  EXPECT_EQ(source_->ReadCount(), 2u);
}

TEST_F(BufferedReaderTest, ReadPastTheEndReturnsTheSourcesShortResult) {
  Open(5000);
  Read(4990, 20, S_FALSE);
  EXPECT_EQ(ReadsOf(*source_.Get()), (std::vector<std::pair<LONGLONG, LONG>>{{4096, 4096}, {4096, 914}}));
  // The failed block left the cache empty: the next read asks again.
  EXPECT_EQ(Read(4100, 4), Expected(4100, 4));
  EXPECT_EQ(ReadsOf(*source_.Get()),
            (std::vector<std::pair<LONGLONG, LONG>>{{4096, 4096}, {4096, 914}, {4096, 4096}, {4096, 8}}));
}

TEST_F(BufferedReaderTest, FailingSourceReadPassesItsCodeAndEmptiesTheCache) {
  Open(10000);
  Read(0, 4);
  source_->FailReadsFrom(4096, STG_E_READFAULT);
  Read(5000, 4, STG_E_READFAULT);
  // Block 0 is gone from the cache too.
  source_->FailReadsFrom(-1, S_OK);
  EXPECT_EQ(Read(0, 4), Expected(0, 4));
  EXPECT_EQ(source_->ReadCount(), 4u);
}

TEST_F(BufferedReaderTest, ImpossiblePositionsAreRefusedWithoutASourceRead) {
  Open(100);
  BYTE buffer[8];
  EXPECT_EQ(reader_->SyncRead(-1, 8, buffer), E_INVALIDARG);
  EXPECT_EQ(reader_->SyncRead(INT64_MAX - 4, 8, buffer), E_INVALIDARG);
  EXPECT_EQ(reader_->SyncRead(0, 8, nullptr), E_POINTER);
  EXPECT_EQ(reader_->SyncRead(0, 0, nullptr), S_OK);
  EXPECT_EQ(source_->ReadCount(), 0u);
}

TEST_F(BufferedReaderTest, CloneSharesTheSourceButNotTheCache) {
  Open(10000);
  Read(0, 4);
  ComPtr<IBufferedAsyncReader> clone;
  ASSERT_EQ(reader_->Clone(clone.Put()), S_OK);
  ComPtr<IAsyncReader> original, cloned;
  ASSERT_EQ(reader_->GetSourceReader(original.Put()), S_OK);
  ASSERT_EQ(clone->GetSourceReader(cloned.Put()), S_OK);
  EXPECT_EQ(original.Get(), static_cast<IAsyncReader*>(source_.Get()));
  EXPECT_EQ(cloned.Get(), original.Get());
  BYTE buffer[4];
  EXPECT_EQ(clone->SyncRead(0, 4, buffer), S_OK);
  EXPECT_EQ(source_->ReadCount(), 2u);
}

TEST_F(BufferedReaderTest, AnswersOnlyItsInterfaces) {
  Open(10);
  ComPtr<IUnknown> unknown;
  ComPtr<IAsyncReader> async;
  EXPECT_EQ(reader_->QueryInterface(IID_IUnknown, unknown.PutVoid()), S_OK);
  EXPECT_EQ(reader_->QueryInterface(IID_IAsyncReader, async.PutVoid()), S_OK);
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(reader_->QueryInterface(IID_IMediaSeeking, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(reader_->QueryInterface(IID_IAsyncReader, nullptr), E_POINTER);
  EXPECT_EQ(reader_->GetSourceReader(nullptr), E_POINTER);
  EXPECT_EQ(reader_->Clone(nullptr), E_POINTER);
}

TEST(BufferedReaderWithoutSource, EveryCallIsUnexpected) {
  ComPtr<IBufferedAsyncReader> reader;
  ASSERT_EQ(CBufferedAsyncReader::Create(nullptr, reader.Put()), S_OK);
  BYTE buffer[4];
  LONGLONG total = 0;
  EXPECT_EQ(reader->SyncRead(0, 4, buffer), E_UNEXPECTED);
  EXPECT_EQ(reader->Length(&total, nullptr), E_UNEXPECTED);
  EXPECT_EQ(reader->BeginFlush(), E_UNEXPECTED);
  EXPECT_EQ(reader->WaitForNext(0, nullptr, nullptr), E_UNEXPECTED);
  IAsyncReader* source = nullptr;
  EXPECT_EQ(reader->GetSourceReader(&source), E_NOINTERFACE);
}

TEST_F(BufferedReaderTest, ConcurrentReadersEachGetTheirOwnBytes) {
  Open(64 * 1024);
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 1);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t, &ok] {
      for (LONGLONG position = t * 97; position + 300 < 64 * 1024; position += 1301) {
        std::vector<uint8_t> out(300);
        if (reader_->SyncRead(position, 300, out.data()) != S_OK || out != Expected(position, 300)) {
          ok[static_cast<size_t>(t)] = 0;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(ok, std::vector<int>(4, 1));
}

}  // namespace
