#include "platform/url_byte_source.h"
#include "platform/win32_error.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kSize = 6 * kMiB + 12345;

struct Read {
  int64_t position;
  LONG length;
  HRESULT expected;
};

class UrlByteSourceTest : public ::testing::Test {
 protected:
  UrlByteSourceTest() : m_bytes(Pattern()), m_server({{"/f", m_bytes}}) {}
  static std::string Pattern() {
    std::string bytes(kSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 24);
    return bytes;
  }

  HRESULT Open(ComPtr<IAsyncReader>* reader, const std::string& path = "/f") {
    return CUrlByteSource::Open(m_server.Url(path), reader->Put());
  }
  // Reads and checks the bytes that came.
  HRESULT ReadAndCheck(IAsyncReader* reader, const Read& read) {
    std::string buffer(static_cast<size_t>(read.length), '\0');
    const HRESULT hr = reader->SyncRead(read.position, read.length, reinterpret_cast<BYTE*>(buffer.data()));
    const auto got = static_cast<size_t>(std::clamp<int64_t>(kSize - read.position, 0, read.length));
    if (SUCCEEDED(hr) && got > 0) {
      EXPECT_EQ(buffer.substr(0, got), m_bytes.substr(static_cast<size_t>(read.position), got)) << read.position;
    }
    return hr;
  }

  std::string m_bytes;
  TestHttpServer m_server;
};

std::vector<Read> Walk(int64_t from, int64_t step, int64_t behind = -1) {
  std::vector<Read> reads;
  for (int64_t at = from; at < kSize; at += step) {
    reads.push_back({at, static_cast<LONG>(step), at + step <= kSize ? S_OK : S_FALSE});
    if (behind >= 0) reads.push_back({at - behind, static_cast<LONG>(step), S_OK});
  }
  return reads;
}

TEST_F(UrlByteSourceTest, ReadsShareOneTransferUntilASeekLeavesTheWindow) {
  const struct {
    const char* name;
    std::vector<Read> reads;
    int requests;  // the size query included
  } plans[] = {
      {"sequential", Walk(0, 100000), 2},
      {"two readers a MiB apart", Walk(kMiB, 65536, kMiB), 2},
      {"skips forward", {{0, 10, S_OK}, {kMiB, 10, S_OK}, {2 * kMiB + 5, 10, S_OK}}, 2},
      // The end is fetched once on its own.
      {"index at the end, then what it points at",
       {{kSize - 8, 8, S_OK}, {10, 8, S_OK}, {kSize - 80, 8, S_OK}, {100000, 8, S_OK}},
       3},
      {"at and past the end", {{kSize, 4, S_FALSE}, {kSize - 2, 4, S_FALSE}, {kSize + 9, 1, S_FALSE}}, 2},
      {"back further than the window", {{5 * kMiB, 8, S_OK}, {0, 8, S_OK}}, 3},
  };
  for (const auto& plan : plans) {
    SCOPED_TRACE(plan.name);
    const int before = m_server.requests;
    ComPtr<IAsyncReader> reader;
    ASSERT_EQ(Open(&reader), S_OK);
    LONGLONG total = 0, available = 0;
    EXPECT_TRUE(reader->Length(&total, &available) == S_OK && total == kSize && available == kSize);
    for (const Read& read : plan.reads) EXPECT_EQ(ReadAndCheck(reader.Get(), read), read.expected);
    EXPECT_EQ(m_server.requests - before, plan.requests);
  }
}

// A missing or dropped resource is checked end to end by the tools' tests.
TEST_F(UrlByteSourceTest, ServerIgnoringRangesIsNotSupported) {
  m_server.ignoreRanges = true;
  ComPtr<IAsyncReader> reader;
  ASSERT_EQ(Open(&reader), S_OK);
  // Past the skip distance from 0, so that the transfer starts there.
  HRESULT hr = S_OK;
  for (const Read& read : Walk(3 * kMiB, 65536)) {
    if ((hr = ReadAndCheck(reader.Get(), read)) != S_OK) break;
  }
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
}

}  // namespace
