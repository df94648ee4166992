#include "platform/async_file_source.h"
#include "platform/class_table.h"
#include "platform/crc32.h"
#include "platform/filter_graph.h"
#include "platform/sample_sink.h"
#include "test_filters.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace testfilters;

constexpr LONG kChunk = 1000;

// The parser's input: pulls from the upstream IAsyncReader.
class PullPin : public CBaseInputPin {
 public:
  PullPin(CBaseFilter* filter, CCritSec* lock, LPCWSTR name) : CBaseInputPin("PullPin", filter, lock, &result_, name) {}
  ~PullPin() override {
    if (reader != nullptr) reader->Release();
  }
  HRESULT CheckMediaType(const CMediaType* mt) override { return mt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE; }
  HRESULT CompleteConnect(IPin* pin) override {
    return pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader));
  }
  HRESULT BreakConnect() override {
    if (reader != nullptr) reader->Release();
    reader = nullptr;
    return CBaseInputPin::BreakConnect();
  }
  HRESULT Inactive() override { return S_OK; }

  IAsyncReader* reader = nullptr;

 private:
  HRESULT result_ = S_OK;
};

// Chunk i of the file into the sample, by queued request or synchronously.
Producer ChunkProducer(PullPin* input, bool queued) {
  return [input, queued](int i, IMediaSample* sample) -> HRESULT {
    LONGLONG total = 0;
    input->reader->Length(&total, nullptr);
    const LONGLONG position = static_cast<LONGLONG>(i) * kChunk;
    if (position >= total) return S_FALSE;
    const LONG length = static_cast<LONG>(std::min<LONGLONG>(kChunk, total - position));
    HRESULT hr;
    if (queued) {
      REFERENCE_TIME start = position * UNITS, stop = (position + length) * UNITS;
      sample->SetTime(&start, &stop);
      hr = input->reader->Request(sample, static_cast<DWORD_PTR>(i));
      if (FAILED(hr)) return hr;
      IMediaSample* done = nullptr;
      DWORD_PTR user = 0;
      hr = input->reader->WaitForNext(INFINITE, &done, &user);
      if (FAILED(hr) || done != sample) return E_FAIL;
    } else {
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      hr = input->reader->SyncRead(position, length, data);
      if (hr != S_OK) return E_FAIL;
      sample->SetActualDataLength(length);
    }
    REFERENCE_TIME start = i * 400000, stop = start + 400000;
    sample->SetTime(&start, &stop);
    return S_OK;
  };
}

TEST(GraphRun, FileSourceParserAndTwoSinksRunToCompletionRepeatedly) {
  std::vector<BYTE> bytes(25500);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>((i * 131) ^ (i >> 8));
  const std::string path = ::testing::TempDir() + "isodmx_platform_run.mp4";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

  ComPtr<IFilterGraph> graph;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph.PutVoid()), S_OK);
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(graph.As(IID_IMediaControl, control), S_OK);
  ASSERT_EQ(graph.As(IID_IMediaEventEx, events), S_OK);

  ComPtr<IBaseFilter> source;
  ASSERT_EQ(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid()), S_OK);
  ComPtr<IFileSourceFilter> file;
  ASSERT_EQ(source.As(IID_IFileSourceFilter, file), S_OK);
  ASSERT_EQ(file->Load(std::wstring(path.begin(), path.end()).c_str(), nullptr), S_OK);
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);

  auto parser = Make<TestFilter>("parser");
  PullPin* input = parser->AddPin<PullPin>(L"Input");
  PushPin::Options video;
  video.types = {TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2)};
  video.buffers = 3;
  video.useQueue = true;
  PushPin::Options audio;
  audio.types = {TypeOf(MEDIATYPE_Audio, MEDIASUBTYPE_PCM)};
  PushPin* videoOut = parser->AddPushPin(L"Video", video, ChunkProducer(input, true));
  PushPin* audioOut = parser->AddPushPin(L"Audio", audio, ChunkProducer(input, false));
  ASSERT_EQ(graph->AddFilter(parser.Get(), L"Parser"), S_OK);

  CSampleSink* rawSinks[2] = {};
  ASSERT_EQ(CSampleSink::Create(&rawSinks[0]), S_OK);
  ASSERT_EQ(CSampleSink::Create(&rawSinks[1]), S_OK);
  const ComPtr<CSampleSink> sinks[2] = {ComPtr<CSampleSink>::Attach(rawSinks[0]), ComPtr<CSampleSink>::Attach(rawSinks[1])};
  ASSERT_EQ(graph->AddFilter(sinks[0].Get(), L"Video sink"), S_OK);
  ASSERT_EQ(graph->AddFilter(sinks[1].Get(), L"Audio sink"), S_OK);

  IPin* sourceOut = nullptr;
  ASSERT_EQ(source->FindPin(L"Output", &sourceOut), S_OK);
  EXPECT_EQ(graph->ConnectDirect(sourceOut, input, nullptr), S_OK);
  sourceOut->Release();
  ASSERT_EQ(graph->ConnectDirect(videoOut, sinks[0]->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(audioOut, sinks[1]->GetPin(0), nullptr), S_OK);

  const size_t chunks = (bytes.size() + kChunk - 1) / kChunk;
  for (int round = 0; round < 3; ++round) {
    sinks[0]->ClearRecord();
    sinks[1]->ClearRecord();
    ASSERT_EQ(control->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(events->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    for (const ComPtr<CSampleSink>& sink : sinks) {
      const std::vector<SinkSample> samples = sink->Samples();
      ASSERT_EQ(samples.size(), chunks);
      for (size_t i = 0; i < samples.size(); ++i) {
        const size_t at = i * kChunk;
        const size_t length = std::min<size_t>(kChunk, bytes.size() - at);
        ASSERT_EQ(samples[i].length, static_cast<LONG>(length));
        EXPECT_EQ(samples[i].crc32, Crc32(bytes.data() + at, length)) << i;
        EXPECT_TRUE(samples[i].hasStop);
        EXPECT_EQ(samples[i].start, static_cast<REFERENCE_TIME>(i) * 400000);
      }
      EXPECT_EQ(sink->Sequence(), "N" + std::string(chunks, 'S') + "E");
    }
    LONG event = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&event, &p1, &p2, 0) == S_OK) events->FreeEventParams(event, p1, p2);
    ASSERT_EQ(control->Stop(), S_OK);
  }
  // Leaving the graph releases every filter (checked by the sanitizer build).
}

TEST(SampleSink, RefusesTypesOutsideItsAcceptedOne) {
  CSampleSink* raw = nullptr;
  ASSERT_EQ(CSampleSink::Create(&raw), S_OK);
  const auto sink = ComPtr<CSampleSink>::Attach(raw);
  CMediaType audio(&MEDIATYPE_Audio);
  sink->SetAcceptedType(&audio);
  CMediaType video = TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(sink->GetPin(0)->QueryAccept(&video), S_FALSE);
  CMediaType pcm = TypeOf(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
  EXPECT_EQ(sink->GetPin(0)->QueryAccept(&pcm), S_OK);
  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_EQ(sink->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid()), S_OK);
  EXPECT_EQ(flags->GetMiscFlags(), AM_FILTER_MISC_FLAGS_IS_RENDERER);
}

TEST(Crc32, MatchesTheZipChecksum) {
  const char* text = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const BYTE*>(text), 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

}  // namespace
