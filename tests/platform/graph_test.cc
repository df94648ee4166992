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

  // A source with one push pin of `count` samples, added to the graph.
  ComPtr<TestFilter> AddSource(const char* name, int count, PushPin::Options options = {}) {
    auto source = Make<TestFilter>(name, &log_);
    if (options.types.empty()) options.types.push_back(TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2));
    options.count = count;
    source->AddPin<PushPin>(L"Out", options);
    EXPECT_TRUE(SUCCEEDED(graph_->AddFilter(source.Get(), std::wstring(name, name + strlen(name)).c_str())));
    return source;
  }
  ComPtr<TestFilter> AddRenderer(const char* name, RecordingPin** pin) {
    auto renderer = Make<TestFilter>(name, &log_);
    renderer->MarkRenderer();
    *pin = renderer->AddPin<RecordingPin>(L"In");
    EXPECT_TRUE(SUCCEEDED(graph_->AddFilter(renderer.Get(), std::wstring(name, name + strlen(name)).c_str())));
    return renderer;
  }

  // Two sources of `first` and `second` samples, each connected to a
  // renderer of its own; `a` is the first one's input.
  void AddTwoStreams(int first, int second, RecordingPin** a) {
    RecordingPin* b = nullptr;
    kept_ = {AddSource("first", first), AddSource("second", second), AddRenderer("ra", a), AddRenderer("rb", &b)};
    ASSERT_EQ(graph_->ConnectDirect(kept_[0]->GetPin(0), *a, nullptr), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(kept_[1]->GetPin(0), b, nullptr), S_OK);
  }

  CallLog log_;
  std::vector<ComPtr<TestFilter>> kept_;
  ComPtr<IFilterGraph> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEventEx> events_;
};

TEST_F(GraphTest, RefusedConnectionsGiveTheirSpecificCodeAndStayUnconnected) {
  PushPin::Options failing;
  failing.completeConnectResult = VFW_E_INVALID_MEDIA_TYPE;
  auto source = AddSource("src", 1);
  auto picky = AddSource("picky", 1, failing);
  RecordingPin* in = nullptr;
  auto renderer = AddRenderer("sink", &in);
  auto loose = Make<TestFilter>("loose");
  RecordingPin* outside = loose->AddPin<RecordingPin>(L"In");
  EXPECT_EQ(graph_->ConnectDirect(source->GetPin(0), picky->GetPin(0), nullptr), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(source->GetPin(0)->Connect(picky->GetPin(0), nullptr), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(graph_->ConnectDirect(source->GetPin(0), outside, nullptr), VFW_E_NOT_IN_GRAPH);
  // The output pin's own failure is reported over the generic one.
  EXPECT_EQ(graph_->ConnectDirect(picky->GetPin(0), in, nullptr), VFW_E_INVALID_MEDIA_TYPE);
  EXPECT_FALSE(in->IsConnected());
  in->Accept(TypeOf(MEDIATYPE_Audio, GUID_NULL));
  EXPECT_EQ(graph_->ConnectDirect(source->GetPin(0), in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_FALSE(source->GetPin(0)->IsConnected());
  EXPECT_FALSE(in->IsConnected());

  in->Accept(CMediaType());
  ASSERT_EQ(graph_->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
  EXPECT_EQ(source->GetPin(0)->Connect(in, nullptr), VFW_E_ALREADY_CONNECTED);
  RecordingPin* other = nullptr;
  auto second = AddRenderer("sink2", &other);
  EXPECT_EQ(graph_->ConnectDirect(source->GetPin(0), other, nullptr), VFW_E_ALREADY_CONNECTED);
  CMediaType mt = TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(in->ReceiveConnection(second->GetPin(0), &mt), VFW_E_ALREADY_CONNECTED);

  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_EQ(graph_->RemoveFilter(renderer.Get()), VFW_E_NOT_STOPPED);
  control_->Stop();
  EXPECT_EQ(graph_->RemoveFilter(renderer.Get()), S_OK);
  EXPECT_FALSE(source->GetPin(0)->IsConnected());
}

TEST_F(GraphTest, ConnectionTakesTheMatchingProposalAndRoundsTheAllocator) {
  PushPin::Options options;
  options.types = {TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2), TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_RGB24)};
  options.buffers = 3;
  options.align = 64;
  auto source = AddSource("src", 1, options);
  RecordingPin* in = nullptr;
  auto renderer = AddRenderer("sink", &in);
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
  RecordingPin* in = nullptr;
  auto renderer = AddRenderer("sink", &in);
  // Added after the renderer so that insertion order would give the wrong answer.
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
    RecordingPin* a = nullptr;
    ASSERT_NO_FATAL_FAILURE(AddTwoStreams(5, second, &a));
    LONG code = 0;
    EXPECT_EQ(events_->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(a->WaitFor([](const std::string& s) { return s.find('E') != std::string::npos; }));
    EXPECT_EQ(events_->WaitForCompletion(completes ? 5000 : 50, &code), completes ? S_OK : E_ABORT) << second;
    EXPECT_EQ(code, completes ? EC_COMPLETE : 0);
    EXPECT_EQ(a->Sequence(), "NSSSSSE");
  }
}

// A filter that takes input and has no output pins, without saying it
// renders (a parser that found nothing to play), is not awaited: with no
// renderer in the graph, running it completes at once.
TEST_F(GraphTest, GraphWithNothingToRenderCompletesAtOnce) {
  auto source = AddSource("src", 10);
  auto parser = Make<TestFilter>("parser", &log_);
  RecordingPin* in = parser->AddPin<RecordingPin>(L"In");
  ASSERT_EQ(graph_->AddFilter(parser.Get(), L"parser"), S_OK);
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
  RecordingPin* in = nullptr;
  auto renderer = AddRenderer("sink", &in);
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

}  // namespace
