// The block cache between the parser and the source: which reads reach the
// source, what a short or failing read leaves behind, and concurrent readers.
#include "engine/buffered_reader.h"

#include "support/memory_source.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>
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
    if (hr == S_OK && position + length <= LONGLONG(bytes_.size())) {
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

// Reads (position, length, result) through the cache of a file of the
// given size, the source failing from `failFrom` on; then what the source saw.
struct CacheCase {
  const char* name;
  size_t fileSize;
  std::vector<std::tuple<LONGLONG, LONG, HRESULT>> reads;
  Reads sourceReads;
  LONGLONG failFrom = -1;
};

TEST_F(BufferedReaderTest, SourceSeesAlignedBlocksAndEndOfFileRetries) {
  const CacheCase cases[] = {
      {"two small reads in one block", 10000, {{10, 8, S_OK}, {100, 8, S_OK}}, {{0, 4096}}},
      {"a read across a block edge joins two blocks", 10000, {{4090, 16, S_OK}}, {{0, 4096}, {4096, 4096}}},
      {"one block is cached, so going back reloads", 10000, {{10, 4, S_OK}, {5000, 4, S_OK}, {20, 4, S_OK}},
       {{0, 4096}, {4096, 4096}, {0, 4096}}},
      {"a short last block is read again for the bytes needed", 5000, {{4900, 100, S_OK}, {4096, 10, S_OK}},
       {{4096, 4096}, {4096, 904}}},
      {"a short last block caches only the bytes read", 5000, {{4900, 100, S_OK}, {4990, 20, S_FALSE}},
       {{4096, 4096}, {4096, 904}, {4096, 4096}, {4096, 914}}},
      {"a read past the end fails with the short result and caches nothing", 5000,
       {{4990, 20, S_FALSE}, {4100, 4, S_OK}}, {{4096, 4096}, {4096, 914}, {4096, 4096}, {4096, 8}}},
      {"a failing source passes its code and empties the cache", 10000,
       {{0, 4, S_OK}, {5000, 4, STG_E_READFAULT}, {0, 4, S_OK}},
       {{0, 4096}, {4096, 4096}, {4096, 908}, {0, 4096}},
       4096},
      {"positions no file can have are refused without a source read", 100,
       {{-1, 8, E_INVALIDARG}, {INT64_MAX - 4, 8, E_INVALIDARG}}, {}},
  };
  for (const CacheCase& c : cases) {
    SCOPED_TRACE(c.name);
    Open(c.fileSize);
    source_->FailReadsFrom(c.failFrom, c.failFrom < 0 ? S_OK : STG_E_READFAULT);
    for (const auto& [position, length, result] : c.reads) EXPECT_EQ(Read(position, length), result) << position;
    EXPECT_EQ(SourceReads(), c.sourceReads);
  }
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
