#include "platform/url_byte_source.h"
#include "platform/url_location.h"
#include "platform/win32_error.h"
#include "support/test_http_server.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kFileSize = 6 * kMiB + 12345;

std::string PatternBytes(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 12345;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

class UrlByteSourceTest : public ::testing::Test {
 protected:
  UrlByteSourceTest() : m_bytes(PatternBytes(kFileSize)), m_server({{"/f.bin", m_bytes}}) {}

  ComPtr<IAsyncReader> Open(HRESULT* hr, const std::string& path = "/f.bin") {
    ComPtr<IAsyncReader> reader;
    *hr = CUrlByteSource::Open(m_server.Url(path), reader.Put());
    return reader;
  }

  // Reads [position, position + length) and checks the bytes that came.
  HRESULT ReadAndCheck(IAsyncReader* reader, int64_t position, LONG length) {
    std::string buffer(static_cast<size_t>(length), '\0');
    const HRESULT hr = reader->SyncRead(position, length, reinterpret_cast<BYTE*>(buffer.data()));
    if (SUCCEEDED(hr) && position < kFileSize) {
      const auto got = static_cast<size_t>(std::clamp<int64_t>(kFileSize - position, 0, length));
      EXPECT_EQ(buffer.substr(0, got), m_bytes.substr(static_cast<size_t>(position), got)) << "at " << position;
    }
    return hr;
  }

  std::string m_bytes;
  TestHttpServer m_server;
};

struct Read {
  int64_t position;
  LONG length;
  HRESULT expected;
};

struct ReadPlan {
  const char* name;
  std::vector<Read> reads;
  int requests;  // the size query included
};

std::vector<Read> Sequential(int64_t from, LONG step) {
  std::vector<Read> reads;
  for (int64_t position = from; position < kFileSize; position += step) {
    reads.push_back({position, step, position + step <= kFileSize ? S_OK : S_FALSE});
  }
  return reads;
}

std::vector<Read> TwoReadersApart(int64_t apart, LONG step) {
  std::vector<Read> reads;
  for (int64_t position = apart; position + step <= kFileSize; position += step) {
    reads.push_back({position, step, S_OK});
    reads.push_back({position - apart, step, S_OK});
  }
  return reads;
}

TEST_F(UrlByteSourceTest, ReadsAreServedFromOneTransferUntilASeekLeavesTheWindow) {
  const ReadPlan plans[] = {
      {"sequential playback", Sequential(0, 100000), 2},
      {"two readers a megabyte apart", TwoReadersApart(kMiB, 65536), 2},
      {"short skips forward", {{0, 10, S_OK}, {kMiB, 10, S_OK}, {2 * kMiB + 5, 10, S_OK}}, 2},
      {"a seek to the end and back", {{kFileSize - 8, 8, S_OK}, {0, 8, S_OK}, {10, 8, S_OK}}, 3},
      {"reads at and past the end", {{kFileSize, 4, S_FALSE}, {kFileSize - 2, 4, S_FALSE}, {kFileSize + 9, 1, S_FALSE}}, 2},
  };
  for (const ReadPlan& plan : plans) {
    SCOPED_TRACE(plan.name);
    const int before = m_server.Requests();
    HRESULT hr = E_FAIL;
    ComPtr<IAsyncReader> reader = Open(&hr);
    ASSERT_EQ(hr, S_OK);
    LONGLONG total = 0, available = 0;
    ASSERT_EQ(reader->Length(&total, &available), S_OK);
    EXPECT_EQ(total, kFileSize);
    EXPECT_EQ(available, kFileSize);
    for (const Read& read : plan.reads) EXPECT_EQ(ReadAndCheck(reader.Get(), read.position, read.length), read.expected);
    EXPECT_EQ(m_server.Requests() - before, plan.requests);
  }
}

TEST_F(UrlByteSourceTest, ServerFaultsGiveClearResults) {
  // Too far in for the first transfer to start at 0.
  constexpr int64_t kFaultReadStart = 5 * kMiB / 2;
  struct Fault {
    const char* name;
    int status;
    bool ignoreRanges;
    int64_t dropAt;
    HRESULT open;
    HRESULT read;  // of everything from kFaultReadStart on, sequentially
  };
  const Fault faults[] = {
      {"missing", 404, false, -1, INET_E_RESOURCE_NOT_FOUND, S_OK},
      {"server error", 500, false, -1, INET_E_DOWNLOAD_FAILURE, S_OK},
      {"ranges ignored", 0, true, -1, S_OK, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)},
      {"dropped mid-body", 0, false, 4 * kMiB, S_OK, HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_RESET)},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    m_server.AnswerWith(fault.status);
    m_server.IgnoreRanges(fault.ignoreRanges);
    m_server.DropAt(fault.dropAt);
    HRESULT hr = E_FAIL;
    ComPtr<IAsyncReader> reader = Open(&hr);
    EXPECT_EQ(hr, fault.open);
    if (FAILED(hr)) continue;
    hr = S_OK;
    for (int64_t position = kFaultReadStart; position < kFileSize && hr == S_OK; position += 65536) {
      hr = ReadAndCheck(reader.Get(), position, 65536);
    }
    EXPECT_EQ(hr, fault.read);
  }
}

TEST_F(UrlByteSourceTest, ClosedPortCannotConnect) {
  std::string url;
  {
    TestHttpServer gone({});
    url = gone.Url("/f.bin");
  }
  ComPtr<IAsyncReader> reader;
  EXPECT_EQ(CUrlByteSource::Open(url, reader.Put()), HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT));
}

// Without the flush a Stop would wait for the server: the stall timeout is
// made longer than the test's own limit, so only the flush can end the read.
TEST_F(UrlByteSourceTest, BeginFlushReturnsAReadWaitingOnAStalledServer) {
  ::setenv("ISODMX_URL_TIMEOUT", "3600", 1);
  m_server.StallAt(2 * kMiB);
  HRESULT hr = E_FAIL;
  ComPtr<IAsyncReader> reader = Open(&hr);
  ::unsetenv("ISODMX_URL_TIMEOUT");
  ASSERT_EQ(hr, S_OK);
  HRESULT stalledRead = S_OK;
  std::thread waiting([&] { stalledRead = ReadAndCheck(reader.Get(), 2 * kMiB - 10, 100); });
  for (int i = 0; i < 1000 && !m_server.Stalled(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(m_server.Stalled());
  EXPECT_EQ(reader->BeginFlush(), S_OK);
  waiting.join();
  EXPECT_EQ(stalledRead, VFW_E_WRONG_STATE);
  EXPECT_EQ(ReadAndCheck(reader.Get(), 0, 10), VFW_E_WRONG_STATE);
  EXPECT_EQ(reader->EndFlush(), S_OK);
  m_server.ReleaseStall();
  EXPECT_EQ(ReadAndCheck(reader.Get(), 2 * kMiB - 10, 100), S_OK);
}

TEST(UrlLocationTest, SchemesAndCombinedLocations) {
  EXPECT_TRUE(IsUrlLocation(L"HTTP://h/a.mp4"));
  EXPECT_TRUE(IsUrlLocation(L"hTtPs://h/a.mp4"));
  EXPECT_TRUE(IsUrlLocation(L"Ftp://h/a.mp4"));
  EXPECT_FALSE(IsUrlLocation(L"file:///srv/a.mp4"));
  EXPECT_FALSE(IsUrlLocation(L"httpx/a.mp4"));
  EXPECT_EQ(LocalPathOfLocation(L"FILE:///srv/a%20b.mp4"), L"/srv/a%20b.mp4");
  EXPECT_EQ(LocalPathOfLocation(L"file://C:/a.mp4"), L"C:/a.mp4");

  struct Case {
    const wchar_t* base;
    const wchar_t* relative;
    const wchar_t* combined;
  };
  const Case cases[] = {
      {L"http://h:81/p/a.ism", L"a.ismv", L"http://h:81/p/a.ismv"},
      {L"http://h/p/q/a.ism", L"../m/a.ismv", L"http://h/p/m/a.ismv"},
      {L"http://h/p/a.ism", L"c%20d.ismv", L"http://h/p/c%20d.ismv"},
      {L"http://h/p/a.ism", L"ftp://o/x.ismv", L"ftp://o/x.ismv"},
      {L"file:///srv/p/a.ism", L"a.ismv", L"file:///srv/p/a.ismv"},
      {L"/srv/p/a.ism", L"a.ismv", L"/srv/p/a.ismv"},
      {L"/srv/p/a.ism", L"../m/a.ismv", L"/srv/p/../m/a.ismv"},
      {L"/srv/p/a.ism", L"/abs/a.ismv", L"/abs/a.ismv"},
      {L"/srv/p/a.ism", L"http://o/x.ismv", L"http://o/x.ismv"},
      {L"a.ism", L"a.ismv", L"a.ismv"},
  };
  for (const Case& c : cases) {
    std::wstring combined;
    EXPECT_EQ(CombineLocation(c.base, c.relative, &combined), S_OK);
    EXPECT_EQ(combined, c.combined);
  }
  std::wstring combined;
  EXPECT_EQ(CombineLocation(L"/srv/a.ism", std::wstring(1100, L'x'), &combined),
            HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
