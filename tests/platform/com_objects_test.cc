#include "platform/async_reader.h"
#include "platform/event.h"
#include "platform/file_byte_source.h"
#include "platform/unknown.h"
#include "platform/win32_error.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

constexpr IID IID_ITestValue = {0x1D2C3B4A, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

struct ITestValue : public IUnknown {
  virtual int Value() = 0;
};

class TestObject : public CUnknown, public ITestValue {
 public:
  TestObject(IUnknown* outer, bool* destroyed) : CUnknown("TestObject", outer), destroyed_(destroyed) {}
  ~TestObject() override { *destroyed_ = true; }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ITestValue) return GetInterface(static_cast<ITestValue*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  int Value() override { return 42; }

 private:
  bool* destroyed_;
};

// An outer object that aggregates a TestObject and counts IUnknown calls.
class Outer : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    ++queries;
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  IUnknown* inner = nullptr;
  int queries = 0;
  ULONG refs = 1;
};

TEST(ComObjects, LastReleaseDeletesAndQueryFollowsComRules) {
  bool destroyed = false;
  auto* object = new TestObject(nullptr, &destroyed);
  object->NonDelegatingAddRef();
  const LONG before = CBaseObject::ObjectsActive();

  ITestValue* value = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_ITestValue, reinterpret_cast<void**>(&value)), S_OK);
  EXPECT_EQ(value->Value(), 42);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(IID_IAsyncReader, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(object->QueryInterface(IID_ITestValue, nullptr), E_POINTER);

  // IUnknown from any interface is the same pointer (identity rule).
  IUnknown* unknown1 = nullptr;
  IUnknown* unknown2 = nullptr;
  ASSERT_EQ(value->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown1)), S_OK);
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown2)), S_OK);
  EXPECT_EQ(unknown1, unknown2);
  unknown1->Release();
  unknown2->Release();

  value->Release();
  EXPECT_FALSE(destroyed);
  object->Release();
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(CBaseObject::ObjectsActive(), before - 1);
}

TEST(ComObjects, AggregatedObjectDelegatesToItsOuter) {
  bool destroyed = false;
  Outer outer;
  auto* object = new TestObject(&outer, &destroyed);
  outer.inner = object->NonDelegatingUnknown();
  outer.inner->AddRef();

  ITestValue* value = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_ITestValue, reinterpret_cast<void**>(&value)), S_OK);
  // AddRef and QueryInterface through the inner interface reach the outer.
  const ULONG outerRefs = outer.refs;
  value->AddRef();
  EXPECT_EQ(outer.refs, outerRefs + 1);
  IUnknown* unknown = nullptr;
  value->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
  EXPECT_EQ(unknown, &outer);
  unknown->Release();
  value->Release();
  value->Release();

  outer.inner->Release();
  EXPECT_TRUE(destroyed);
}

TEST(Events, AutoResetWakesOneWaitAndTimesOut) {
  CAMEvent event;
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0)) << "an automatic-reset event is consumed by the wait that sees it";

  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.Set();
  });
  EXPECT_TRUE(event.Wait(INFINITE));
  setter.join();

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.Wait(30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
}

TEST(Events, ManualResetStaysSetForEveryWaiter) {
  CAMEvent event(TRUE);
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Check());
  event.Reset();
  EXPECT_FALSE(event.Check());
}

class FileByteSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/isodmx-source-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    path_ = name;
    const char bytes[] = "0123456789";
    ASSERT_EQ(write(fd, bytes, 10), 10);
    close(fd);
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

TEST_F(FileByteSourceTest, ShortReadAtTheEndIsSFalse) {
  ComPtr<IAsyncReader> reader;
  ASSERT_EQ(CFileByteSource::Open(path_, reader.Put()), S_OK);
  LONGLONG total = 0, available = 0;
  ASSERT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 10);
  EXPECT_EQ(available, 10);

  BYTE buffer[8] = {};
  EXPECT_EQ(reader->SyncRead(2, 4, buffer), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "2345");
  EXPECT_EQ(reader->SyncRead(8, 4, buffer), S_FALSE);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "89");
  EXPECT_EQ(reader->SyncRead(10, 1, buffer), S_FALSE);
  EXPECT_EQ(reader->SyncRead(-1, 1, buffer), E_INVALIDARG);
  EXPECT_EQ(reader->Request(nullptr, 0), E_NOTIMPL);
}

TEST(FileByteSource, MissingFileGivesTheWin32Code) {
  ComPtr<IAsyncReader> reader;
  EXPECT_EQ(CFileByteSource::Open("/nonexistent/isodmx/file.mp4", reader.Put()),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(reader);
  EXPECT_EQ(CFileByteSource::Open("/tmp", reader.Put()), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
}

}  // namespace
