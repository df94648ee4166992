#include "platform/async_file_source.h"
#include "platform/file_byte_source.h"
#include "platform/fourcc.h"
#include "platform/mem_allocator.h"
#include "platform/task_memory.h"
#include "platform/win32_error.h"
#include "test_filters.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace testfilters;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string WriteFile(const std::string& name, const std::vector<BYTE>& bytes) {
  // Each test runs in a process of its own, side by side with the others:
  // a shared name would let one test truncate another's file mid-read.
  const std::string path = ::testing::TempDir() + "isodmx_platform_" + std::to_string(getpid()) + "_" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<BYTE> BoxFile(const char (&type)[5], size_t size) {
  std::vector<BYTE> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 7);
  bytes[0] = bytes[1] = bytes[2] = 0;
  bytes[3] = 16;
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<BYTE>(type[i]);
  return bytes;
}

ComPtr<CAsyncFileSource> Load(const std::string& path, HRESULT* result = nullptr) {
  HRESULT hr = S_OK;
  auto source = Make<CAsyncFileSource>(nullptr, &hr);
  hr = source->Load(Widen(path).c_str(), nullptr);
  if (result != nullptr) *result = hr;
  return source;
}

IAsyncReader* ReaderOf(CAsyncFileSource* source) {
  IAsyncReader* reader = nullptr;
  source->GetPin(0)->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader));
  reader->Release();  // the filter keeps it alive
  return reader;
}

struct SubtypeCase {
  const char* name;
  std::vector<BYTE> bytes;
  GUID expected;
};

TEST(FileSourceType, SubtypeComesFromCheckBytesThenExtension) {
  const GUID viso = FourCCSubtype(FourCC("VISO"));
  const GUID vism = FourCCSubtype(FourCC("VISM"));
  const SubtypeCase cases[] = {
      {"a.mp4", BoxFile("ftyp", 64), viso},  {"b.mov", BoxFile("moov", 64), viso},
      {"c.mov", BoxFile("skip", 64), viso},  {"d.mj2", BoxFile("jP  ", 64), viso},
      {"e.bin", BoxFile("free", 64), GUID_NULL}, {"f.ISM", BoxFile("free", 64), vism},
      {"g.mp4", {0, 0, 0}, viso},                {"h.ism", BoxFile("ftyp", 64), viso},
  };
  for (const SubtypeCase& c : cases) {
    HRESULT hr = E_FAIL;
    auto source = Load(WriteFile(c.name, c.bytes), &hr);
    ASSERT_EQ(hr, S_OK) << c.name;
    CMediaType mt;
    ASSERT_EQ(source->GetPin(0)->GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Stream) << c.name;
    EXPECT_EQ(mt.subtype, c.expected) << c.name;
    EXPECT_EQ(source->GetPin(0)->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
  }
}

TEST(FileSourceLoad, MissingFileAndSecondLoadFail) {
  HRESULT hr = S_OK;
  auto source = Load("/nonexistent/isodmx/file.mp4", &hr);
  EXPECT_EQ(hr, MakeHResult(0x80070002));
  EXPECT_EQ(source->GetPinCount(), 0);
  const std::string path = WriteFile("load.mp4", BoxFile("ftyp", 32));
  auto loaded = Load(path, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(loaded->Load(Widen(path).c_str(), nullptr), E_UNEXPECTED);
  LPOLESTR name = nullptr;
  CMediaType mt;
  ASSERT_EQ(loaded->GetCurFile(&name, &mt), S_OK);
  EXPECT_EQ(std::wstring(name), Widen(path));
  EXPECT_EQ(mt.majortype, MEDIATYPE_Stream);
  CoTaskMemFree(name);
}

class FileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = BoxFile("ftyp", 10000);
    path_ = WriteFile("reader.mp4", bytes_);
    source_ = Load(path_);
    reader_ = ReaderOf(source_.Get());
    ASSERT_EQ(CreateMemoryAllocator(allocator_.Put()), S_OK);
    ALLOCATOR_PROPERTIES request{4, 4096, 1, 0}, actual{};
    ASSERT_EQ(allocator_->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator_->Commit(), S_OK);
  }
  void TearDown() override { allocator_->Decommit(); }
  IMediaSample* SampleFor(LONGLONG position, LONG length) {
    IMediaSample* sample = nullptr;
    allocator_->GetBuffer(&sample, nullptr, nullptr, 0);
    REFERENCE_TIME start = position * UNITS, stop = (position + length) * UNITS;
    sample->SetTime(&start, &stop);
    return sample;
  }

  std::vector<BYTE> bytes_;
  std::string path_;
  ComPtr<CAsyncFileSource> source_;
  IAsyncReader* reader_ = nullptr;
  ComPtr<IMemAllocator> allocator_;
};

// Both readers of a local file: the filter's pin and the plain byte source.
TEST_F(FileReaderTest, SyncReadIsShortOnlyAtTheEnd) {
  ComPtr<IAsyncReader> plain;
  ASSERT_EQ(CFileByteSource::Open(path_, plain.Put()), S_OK);
  EXPECT_EQ(plain->Request(nullptr, 0), E_NOTIMPL);
  for (IAsyncReader* reader : {reader_, plain.Get()}) {
    BYTE buffer[64];
    EXPECT_EQ(reader->SyncRead(16, 64, buffer), S_OK);
    EXPECT_EQ(std::vector<BYTE>(buffer, buffer + 64), std::vector<BYTE>(bytes_.begin() + 16, bytes_.begin() + 80));
    EXPECT_EQ(reader->SyncRead(9990, 64, buffer), S_FALSE);
    EXPECT_EQ(buffer[9], bytes_[9999]);
    EXPECT_EQ(reader->SyncRead(10000, 1, buffer), S_FALSE);
    EXPECT_EQ(reader->SyncRead(-1, 4, buffer), E_INVALIDARG);
    LONGLONG total = 0, available = 0;
    ASSERT_EQ(reader->Length(&total, &available), S_OK);
    EXPECT_EQ(std::make_pair(total, available), std::make_pair(LONGLONG{10000}, LONGLONG{10000}));
  }
  IMediaSample* beyond = SampleFor(20000, 10);
  EXPECT_EQ(reader_->Request(beyond, 0), E_INVALIDARG);
  beyond->Release();
  EXPECT_EQ(CFileByteSource::Open(::testing::TempDir(), plain.Put()), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(plain);
}

// A flush frees a waiting reader, hands every queued sample back exactly
// once, and refuses requests until it ends.
TEST_F(FileReaderTest, FlushFreesAWaiterHandsSamplesBackAndRefusesNewRequests) {
  auto waiter = std::async(std::launch::async, [this] {
    IMediaSample* sample = nullptr;
    DWORD_PTR user = 0;
    return reader_->WaitForNext(INFINITE, &sample, &user);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(reader_->BeginFlush(), S_OK);
  EXPECT_EQ(waiter.get(), VFW_E_WRONG_STATE);
  ASSERT_EQ(reader_->EndFlush(), S_OK);
  // Queue more than the worker can have started on.
  for (int i = 0; i < 4; ++i) ASSERT_EQ(reader_->Request(SampleFor(i * 100, 100), static_cast<DWORD_PTR>(i)), S_OK);
  ASSERT_EQ(reader_->BeginFlush(), S_OK);
  int handedBack = 0;
  for (;;) {
    IMediaSample* sample = nullptr;
    DWORD_PTR user = 0;
    const HRESULT hr = reader_->WaitForNext(0, &sample, &user);
    if (sample == nullptr) {
      EXPECT_EQ(hr, VFW_E_WRONG_STATE);
      break;
    }
    EXPECT_TRUE(hr == S_OK || hr == VFW_E_WRONG_STATE);
    sample->Release();
    ++handedBack;
  }
  EXPECT_EQ(handedBack, 4);
  IMediaSample* sample = SampleFor(0, 10);
  EXPECT_EQ(reader_->Request(sample, 1), VFW_E_WRONG_STATE);
  sample->Release();
  ASSERT_EQ(reader_->EndFlush(), S_OK);
  ASSERT_EQ(reader_->Request(SampleFor(9990, 100), 9), S_OK);
  DWORD_PTR user = 0;
  ASSERT_EQ(reader_->WaitForNext(5000, &sample, &user), S_OK);
  EXPECT_EQ(std::make_pair(user, sample->GetActualDataLength()), std::make_pair(DWORD_PTR{9}, LONG{10}));
  sample->Release();
}

TEST(FileSourceConnect, AnInputWithoutReaderGetsNoTransport) {
  auto source = Load(WriteFile("transport.mp4", BoxFile("ftyp", 64)));
  auto sink = Make<TestFilter>("sink");
  RecordingPin* in = sink->AddPin<RecordingPin>(L"In");
  EXPECT_EQ(source->GetPin(0)->Connect(in, nullptr), VFW_E_NO_TRANSPORT);
  EXPECT_FALSE(source->GetPin(0)->IsConnected());
}

}  // namespace
