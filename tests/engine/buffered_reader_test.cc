#include "engine/buffered_reader.h"

#include "support/memory_source.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using Reads = std::vector<std::pair<LONGLONG, LONG>>;

class BufferedReaderTest : public ::testing::Test {
 protected:
  void Open(size_t fileSize) {
    bytes_.resize(fileSize);
    for (size_t i = 0; i < fileSize; ++i) bytes_[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8));
    source_ = MemorySource::Create(bytes_);
    ASSERT_EQ(CBufferedAsyncReader::Create(source_.Get(), reader_.Put()), S_OK);
  }
  // Reads through the cache and checks the bytes against the file.
  HRESULT Read(LONGLONG position, LONG length) {
    std::vector<uint8_t> out(static_cast<size_t>(length));
    const HRESULT hr = reader_->SyncRead(position, length, out.data());
    if (hr == S_OK) {
      EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes_.begin() + position)) << position;
    }
    return hr;
  }
  // The reads that reached the source.
  Reads SourceReads() const {
    Reads reads;
    for (const MemorySource::ReadCall& call : source_->Reads()) reads.emplace_back(call.position, call.length);
    return reads;
  }

  std::vector<uint8_t> bytes_;
  ComPtr<MemorySource> source_;
  ComPtr<IBufferedAsyncReader> reader_;
};

struct CacheCase {
  const char* name;
  size_t fileSize;
  std::vector<std::pair<LONGLONG, LONG>> reads;
  HRESULT lastResult;
  Reads sourceReads;
};

TEST_F(BufferedReaderTest, SourceSeesAlignedBlocksAndEndOfFileRetries) {
  const CacheCase cases[] = {
      {"two small reads in one block", 10000, {{10, 8}, {100, 8}}, S_OK, {{0, 4096}}},
      {"a read across a block edge joins two blocks", 10000, {{4090, 16}}, S_OK, {{0, 4096}, {4096, 4096}}},
      {"one block is cached, so going back reloads", 10000, {{10, 4}, {5000, 4}, {20, 4}}, S_OK,
       {{0, 4096}, {4096, 4096}, {0, 4096}}},
      {"a short last block is read again for the bytes needed", 5000, {{4900, 100}, {4096, 10}}, S_OK,
       {{4096, 4096}, {4096, 904}}},
      {"a read past the end fails with the short result and caches nothing", 5000, {{4990, 20}, {4100, 4}}, S_OK,
       {{4096, 4096}, {4096, 914}, {4096, 4096}, {4096, 8}}},
  };
  for (const CacheCase& c : cases) {
    SCOPED_TRACE(c.name);
    Open(c.fileSize);
    HRESULT hr = S_OK;
    for (const auto& [position, length] : c.reads) hr = Read(position, length);
    EXPECT_EQ(hr, c.lastResult);
    EXPECT_EQ(SourceReads(), c.sourceReads);
  }
  Open(5000);
  EXPECT_EQ(Read(4990, 20), S_FALSE);
}

TEST_F(BufferedReaderTest, FailingSourcePassesItsCodeAndEmptiesTheCache) {
  Open(10000);
  Read(0, 4);
  source_->FailReadsFrom(4096, STG_E_READFAULT);
  EXPECT_EQ(Read(5000, 4), STG_E_READFAULT);
  source_->FailReadsFrom(-1, S_OK);
  EXPECT_EQ(Read(0, 4), S_OK);
  EXPECT_EQ(source_->ReadCount(), 4u);
}

TEST_F(BufferedReaderTest, PositionsNoFileCanHaveAreRefusedWithoutASourceRead) {
  Open(100);
  BYTE buffer[8];
  EXPECT_EQ(reader_->SyncRead(-1, 8, buffer), E_INVALIDARG);
  EXPECT_EQ(reader_->SyncRead(INT64_MAX - 4, 8, buffer), E_INVALIDARG);
  EXPECT_EQ(reader_->SyncRead(0, 8, nullptr), E_POINTER);
  EXPECT_EQ(source_->ReadCount(), 0u);
}

TEST_F(BufferedReaderTest, ConcurrentReadersEachGetTheirOwnBytes) {
  Open(64 * 1024);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (LONGLONG position = t * 97; position + 300 < 64 * 1024; position += 1301) EXPECT_EQ(Read(position, 300), S_OK);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace
