#include "platform/async_reader.h"
#include "platform/file_byte_source.h"
#include "platform/unknown.h"
#include "platform/win32_error.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

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

// A missing file's code is checked end to end by the tools' tests.
TEST(FileByteSourceTest, ShortReadAtTheEndIsSFalseAndADirectoryIsRefused) {
  const std::string path = ::testing::TempDir() + "isodmx-byte-source";
  std::ofstream(path, std::ios::binary) << "0123456789";
  ComPtr<IAsyncReader> reader;
  ASSERT_EQ(CFileByteSource::Open(path, reader.Put()), S_OK);
  LONGLONG total = 0, available = 0;
  ASSERT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(std::make_pair(total, available), std::make_pair(LONGLONG{10}, LONGLONG{10}));
  BYTE buffer[8] = {};
  EXPECT_EQ(reader->SyncRead(2, 4, buffer), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "2345");
  EXPECT_EQ(reader->SyncRead(8, 4, buffer), S_FALSE);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "89");
  EXPECT_EQ(reader->SyncRead(10, 1, buffer), S_FALSE);
  EXPECT_EQ(reader->SyncRead(-1, 1, buffer), E_INVALIDARG);
  EXPECT_EQ(reader->Request(nullptr, 0), E_NOTIMPL);
  reader.Reset();
  std::remove(path.c_str());
  EXPECT_EQ(CFileByteSource::Open(::testing::TempDir(), reader.Put()), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(reader);
}

}  // namespace
