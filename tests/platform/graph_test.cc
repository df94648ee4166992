#include "platform/async_reader.h"
#include "platform/class_table.h"
#include "platform/filter_graph.h"
#include "platform/sample_sink.h"
#include "test_filters.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

namespace {

using namespace testfilters;

class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(NewGraph()); }
  void NewGraph() {
    if (control_) control_->Stop();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph_.PutVoid()),
              S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaControl, control_), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaEventEx, events_), S_OK);
  }
  void TearDown() override {
    if (control_) control_->Stop();
  }

  ComPtr<TestFilter> AddFilter(const char* name) {
    auto filter = Make<TestFilter>(name, &log_);
    EXPECT_EQ(graph_->AddFilter(filter.Get(), std::wstring(name, name + strlen(name)).c_str()), S_OK);
    return filter;
  }
  // A source with one push pin of `count` samples, added to the graph.
  ComPtr<TestFilter> AddSource(const char* name, int count, PushPin::Options options = {}) {
    auto source = AddFilter(name);
    if (options.types.empty()) options.types.push_back(TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2));
    options.count = count;
    source->AddPin<PushPin>(L"Out", options);
    return source;
  }
  // A filter with one recording input pin; the graph does not wait for it.
  RecordingPin* AddRecorder(const char* name) {
    kept_.push_back(AddFilter(name));
    return kept_.back()->AddPin<RecordingPin>(L"In");
  }
  CSampleSink* AddRenderer(const char* name) {
    HRESULT hr = S_OK;
    sinks_.push_back(Make<CSampleSink>(nullptr, &hr));
    EXPECT_EQ(graph_->AddFilter(sinks_.back().Get(), std::wstring(name, name + strlen(name)).c_str()), S_OK);
    return sinks_.back().Get();
  }
  static CBaseInputPin* InputOf(CSampleSink* sink) { return static_cast<CBaseInputPin*>(sink->GetPin(0)); }

  CallLog log_;
  std::vector<ComPtr<TestFilter>> kept_;
  std::vector<ComPtr<CSampleSink>> sinks_;
  ComPtr<IFilterGraph> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEventEx> events_;
};

TEST_F(GraphTest, RefusedConnectionsGiveTheirSpecificCodeAndStayUnconnected) {
  PushPin::Options failing;
  failing.completeConnectResult = VFW_E_INVALID_MEDIA_TYPE;
  auto source = AddSource("src", 1);
  auto picky = AddSource("picky", 1, failing);
  CSampleSink* sink = AddRenderer("sink");
  CBaseInputPin* in = InputOf(sink);
  auto loose = Make<TestFilter>("loose");
  RecordingPin* outside = loose->AddPin<RecordingPin>(L"In");
  EXPECT_EQ(graph_->ConnectDirect(source->GetPin(0), picky->GetPin(0), nullptr), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(source->GetPin(0)->Connect(picky->GetPin(0), nullptr), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(graph_->ConnectDirect(source->GetPin(0), outside, nullptr), VFW_E_NOT_IN_GRAPH);
  // The output pin's own failure is reported over the generic one.
  EXPECT_EQ(graph_->ConnectDirect(picky->GetPin(0), in, nullptr), VFW_E_INVALID_MEDIA_TYPE);
  EXPECT_FALSE(in->IsConnected());
  const CMediaType audio(&MEDIATYPE_Audio);
  sink->SetAcceptedType(&audio);
  EXPECT_EQ(graph_->ConnectDirect(source->GetPin(0), in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_FALSE(source->GetPin(0)->IsConnected());
  EXPECT_FALSE(in->IsConnected());

  sink->SetAcceptedType(nullptr);
  ASSERT_EQ(graph_->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
  EXPECT_EQ(source->GetPin(0)->Connect(in, nullptr), VFW_E_ALREADY_CONNECTED);
  CSampleSink* second = AddRenderer("sink2");
  EXPECT_EQ(graph_->ConnectDirect(source->GetPin(0), second->GetPin(0), nullptr), VFW_E_ALREADY_CONNECTED);
  CMediaType mt = TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(in->ReceiveConnection(picky->GetPin(0), &mt), VFW_E_ALREADY_CONNECTED);

  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_EQ(graph_->RemoveFilter(sink), VFW_E_NOT_STOPPED);
  control_->Stop();
  EXPECT_EQ(graph_->RemoveFilter(sink), S_OK);
  EXPECT_FALSE(source->GetPin(0)->IsConnected());
}

TEST_F(GraphTest, ConnectionTakesTheMatchingProposalAndRoundsTheAllocator) {
  PushPin::Options options;
  options.types = {TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2), TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_RGB24)};
  options.buffers = 3;
  options.align = 64;
  auto source = AddSource("src", 1, options);
  CBaseInputPin* in = InputOf(AddRenderer("sink"));
  const CMediaType partial = TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
  ASSERT_EQ(graph_->ConnectDirect(source->GetPin(0), in, &partial), S_OK);
  CMediaType mt;
  in->ConnectionMediaType(&mt);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(in->GetAllocator(allocator.Put()), S_OK);
  ALLOCATOR_PROPERTIES props{};
  allocator->GetProperties(&props);
  EXPECT_EQ(std::make_tuple(props.cBuffers, props.cbBuffer, props.cbAlign), std::make_tuple(3, 1024, 64));
}

TEST_F(GraphTest, StateChangesStartDownstream) {
  auto source = AddSource("src", 1000000);
  // Added after the source so that insertion order would give the wrong answer.
  RecordingPin* in = AddRecorder("sink");
  ASSERT_EQ(graph_->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
  log_.Take();
  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(log_.Take(), (std::vector<std::string>{"sink:Pause", "src:Pause", "sink:Run", "src:Run"}));
  ASSERT_EQ(control_->Pause(), S_OK);
  EXPECT_EQ(log_.Take(), (std::vector<std::string>{"sink:Pause", "src:Pause"}));
  ASSERT_EQ(control_->Stop(), S_OK);
  EXPECT_EQ(log_.Take(), (std::vector<std::string>{"sink:Stop", "src:Stop"}));
  OAFilterState state = -1;
  EXPECT_EQ(control_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
}

TEST_F(GraphTest, OneRendererAloneDoesNotCompleteTheGraph) {
  for (const auto& [second, completes] : {std::pair{8, true}, std::pair{1000000, false}}) {
    ASSERT_NO_FATAL_FAILURE(NewGraph());
    auto first = AddSource("first", 5);
    auto other = AddSource("second", second);
    CSampleSink* a = AddRenderer("ra");
    ASSERT_EQ(graph_->ConnectDirect(first->GetPin(0), a->GetPin(0), nullptr), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(other->GetPin(0), AddRenderer("rb")->GetPin(0), nullptr), S_OK);
    LONG code = 0;
    EXPECT_EQ(events_->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(a->WaitForEndOfStream(20000));
    EXPECT_EQ(events_->WaitForCompletion(completes ? 5000 : 50, &code), completes ? S_OK : E_ABORT) << second;
    EXPECT_EQ(code, completes ? EC_COMPLETE : 0);
    EXPECT_EQ(a->Sequence(), "NSSSSSE");
    control_->Stop();
  }
}

// A filter that takes input and has no output pins, without saying it
// renders (a parser that found nothing to play), is not awaited: with no
// renderer in the graph, running it completes at once.
TEST_F(GraphTest, GraphWithNothingToRenderCompletesAtOnce) {
  auto source = AddSource("src", 10);
  RecordingPin* in = AddRecorder("parser");
  ASSERT_EQ(graph_->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
  // The stream never ends while the test waits: only the count can end it.
  in->SetBlocking(true);
  ASSERT_EQ(control_->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(events_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  in->SetBlocking(false);
  ASSERT_EQ(control_->Stop(), S_OK);
}

TEST_F(GraphTest, StopReturnsWhileTheProducerIsBlockedDownstream) {
  auto source = AddSource("src", 1000000);
  RecordingPin* in = AddRecorder("sink");
  in->SetBlocking(true);
  ASSERT_EQ(graph_->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(in->WaitUntilBlocked());
  // The renderer's flush is what a stopping graph relies on here.
  in->BeginFlush();
  EXPECT_EQ(control_->Stop(), S_OK);
  in->EndFlush();
  EXPECT_EQ(static_cast<PushPin*>(source->GetPin(0))->delivered.load(), 0);
}

TEST_F(GraphTest, PinEnumeratorNoticesChangedPins) {
  auto source = AddSource("src", 1);
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(source->EnumPins(pins.Put()), S_OK);
  source->IncrementPinVersion();
  IPin* pin = nullptr;
  EXPECT_EQ(pins->Next(1, &pin, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  pins->Reset();
  ASSERT_EQ(pins->Next(1, &pin, nullptr), S_OK);
  pin->Release();
  EXPECT_EQ(pins->Next(1, &pin, nullptr), S_FALSE);
}

// The COM rules every object here inherits from its base.
TEST(ComObjects, QueryNullsUnknownInterfacesAndIUnknownIsOneIdentity) {
  HRESULT hr = S_OK;
  const auto sink = Make<CSampleSink>(nullptr, &hr);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(sink->QueryInterface(IID_IAsyncReader, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(sink->QueryInterface(IID_IBaseFilter, nullptr), E_POINTER);
  ComPtr<IAMFilterMiscFlags> flags;
  ComPtr<IUnknown> fromFlags, fromSink;
  ASSERT_EQ(sink->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid()), S_OK);
  ASSERT_EQ(flags->QueryInterface(IID_IUnknown, fromFlags.PutVoid()), S_OK);
  ASSERT_EQ(sink->QueryInterface(IID_IUnknown, fromSink.PutVoid()), S_OK);
  EXPECT_EQ(fromFlags.Get(), fromSink.Get());
}

}  // namespace
