#include "diagnostics/trace.h"
#include "dmx_test_filters.h"
#include "platform/class_table.h"
#include "platform/mem_allocator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace dmxtest;
using Calls = std::vector<std::string>;

std::wstring NameOf(CBasePin* pin) { return pin != nullptr && pin->Name() != nullptr ? pin->Name() : L"(none)"; }

TEST(DmxPinTable, FreshFilterHasOnlyItsInputPin) {
  auto dmx = Make<TestDmx>();
  EXPECT_EQ(dmx->GetPinCount(), 1);
  CBasePin* input = dmx->GetPin(0);
  ASSERT_NE(input, nullptr);
  EXPECT_EQ(NameOf(input), L"Input 01");
  EXPECT_EQ(dmx->GetPin(0), input);
  EXPECT_EQ(dmx->GetPinDirection(0), PINDIR_INPUT);
  EXPECT_EQ(dmx->GetPin(1), nullptr);
  EXPECT_EQ(dmx->GetPin(-1), nullptr);
  EXPECT_EQ(dmx->GetPinDirection(1), -1);
  EXPECT_EQ(dmx->GetOutputPin(0), nullptr);
}

TEST(DmxPinTable, PinsAreNumberedByCreationAndTheTableRefusesPastCapacity) {
  auto dmx = Make<TestDmx>(2);
  const LONG version = dmx->GetPinVersion();
  EXPECT_EQ(dmx->AddOutputPin(TRUE), S_OK);
  EXPECT_EQ(dmx->AddOutputPin(TRUE), S_OK);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), E_FAIL);
  EXPECT_EQ(dmx->GetPinVersion(), version + 2);
  EXPECT_EQ(dmx->GetPinCount(), 3);
  EXPECT_EQ(NameOf(dmx->GetPin(1)), L"~Output 01");
  EXPECT_EQ(NameOf(dmx->GetPin(2)), L"~Output 02");
  EXPECT_EQ(dmx->GetPin(3), nullptr);
  EXPECT_EQ(dmx->GetPinDirection(2), PINDIR_OUTPUT);
  EXPECT_EQ(dmx->GetOutputPin(1)->StreamIndex(), 1);
}

TEST(DmxPinTable, VisibleAndHiddenNamesShareOneNumbering) {
  auto dmx = Make<TestDmx>(3);
  dmx->AddOutputPin(FALSE);
  dmx->AddOutputPin(TRUE);
  dmx->AddOutputPin(FALSE);
  EXPECT_EQ(NameOf(dmx->GetPin(1)), L"Output 01");
  EXPECT_EQ(NameOf(dmx->GetPin(2)), L"~Output 02");
  EXPECT_EQ(NameOf(dmx->GetPin(3)), L"Output 03");
}

TEST(DmxPinTable, RaisingCapacityKeepsThePinsAndLoweringDoesNothing) {
  auto dmx = Make<TestDmx>(1);
  ASSERT_EQ(dmx->AddOutputPin(FALSE), S_OK);
  CBaseDmxOutputPin* first = dmx->GetOutputPin(0);
  EXPECT_EQ(dmx->SetMaxOutputPins(3), S_OK);
  EXPECT_EQ(dmx->GetOutputPin(0), first);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), S_OK);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), S_OK);
  EXPECT_EQ(dmx->SetMaxOutputPins(1), S_OK);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), E_FAIL);
  EXPECT_EQ(dmx->GetOutputPinCount(), 3);
}

TEST(DmxPinTable, ZeroCapacityRefusesEveryPinUntilRaised) {
  auto dmx = Make<TestDmx>(0);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), E_FAIL);
  EXPECT_EQ(dmx->SetMaxOutputPins(0), S_OK);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), E_FAIL);
  EXPECT_EQ(dmx->SetMaxOutputPins(1), S_OK);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), S_OK);
}

TEST(DmxPinTable, RemovingPinsEmptiesTheTableAndForgetsTheSpecialPins) {
  auto dmx = Make<TestDmx>(2);
  dmx->AddOutputPin(FALSE);
  dmx->AddOutputPin(FALSE);
  dmx->SetFirstAudioPin(dmx->GetOutputPin(1));
  dmx->SetMainSeekingPin(dmx->GetOutputPin(1));
  const LONG version = dmx->GetPinVersion();
  dmx->RemoveOutputPins();
  EXPECT_EQ(dmx->GetPinCount(), 1);
  EXPECT_EQ(dmx->GetPinVersion(), version + 1);
  EXPECT_EQ(dmx->FirstAudioPin(), nullptr);
  EXPECT_EQ(dmx->GetMainSeekingPin(), nullptr);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), S_OK);
  EXPECT_EQ(NameOf(dmx->GetPin(1)), L"Output 01");
}

TEST(DmxPinTable, AHeldPinOutlivesItsRemovalAndKeepsTheFilterAlive) {
  auto dmx = Make<TestDmx>(1);
  dmx->AddOutputPin(FALSE);
  CBaseDmxOutputPin* pin = dmx->GetOutputPin(0);
  const LONG filterCount = dmx->ReferenceCount();
  IPin* held = pin;
  held->AddRef();
  EXPECT_EQ(dmx->ReferenceCount(), filterCount + 1);
  dmx->RemoveOutputPins();
  PIN_DIRECTION dir = PINDIR_INPUT;
  EXPECT_EQ(held->QueryDirection(&dir), S_OK);
  EXPECT_EQ(dir, PINDIR_OUTPUT);
  held->Release();
  EXPECT_EQ(dmx->ReferenceCount(), filterCount);
}

struct BufferCase {
  ALLOCATOR_PROPERTIES request;
  ALLOCATOR_PROPERTIES expected;
};

TEST(DmxBufferSize, DefaultDecisionRaisesCountAndSizeAndFixesAlignment) {
  const BufferCase cases[] = {
      {{5, 100000, 1, 16}, {5, 100000, 4, 0}},
      {{0, 0, 0, 0}, {2, 8192, 4, 0}},
      {{1, 9000, 64, 0}, {2, 9000, 4, 0}},
  };
  auto dmx = Make<TestDmx>();
  for (const BufferCase& c : cases) {
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(CreateMemoryAllocator(allocator.Put()), S_OK);
    ALLOCATOR_PROPERTIES props = c.request;
    EXPECT_EQ(dmx->DecidePinBufferSize(1, allocator.Get(), &props), S_OK);
    EXPECT_EQ(props.cBuffers, c.expected.cBuffers);
    EXPECT_EQ(props.cbBuffer, c.expected.cbBuffer);
    EXPECT_EQ(props.cbAlign, c.expected.cbAlign);
    EXPECT_EQ(props.cbPrefix, c.expected.cbPrefix);
    ALLOCATOR_PROPERTIES actual{};
    allocator->GetProperties(&actual);
    EXPECT_EQ(actual.cBuffers, c.expected.cBuffers);
    EXPECT_GE(actual.cbBuffer, c.expected.cbBuffer);
  }
  ALLOCATOR_PROPERTIES props{};
  EXPECT_EQ(dmx->DecidePinBufferSize(1, nullptr, &props), E_POINTER);
}

// Filters with two output pins that are not connected: the state changes
// must reach them anyway.
class DmxStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dmx_ = Make<TestDmx>(2, &log_);
    dmx_->AddOutputPin(FALSE);
    dmx_->AddOutputPin(FALSE);
    dmx_->GetPin(0);
  }

  CallLog log_;
  ComPtr<TestDmx> dmx_;
};

TEST_F(DmxStateTest, PauseFromStoppedPreparesThenActivatesEveryPinInOrder) {
  EXPECT_EQ(dmx_->Pause(), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"Prepare", "Active 0", "Active 1"}));
  EXPECT_EQ(dmx_->State(), State_Paused);
  EXPECT_EQ(dmx_->Pause(), S_OK);
  EXPECT_EQ(log_.Take(), Calls{});
}

TEST_F(DmxStateTest, RunFromStoppedPausesFirstAndStopDeactivatesEveryPin) {
  EXPECT_EQ(dmx_->Run(1234), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"Prepare", "Active 0", "Active 1", "Run 0", "Run 1"}));
  EXPECT_EQ(dmx_->State(), State_Running);
  EXPECT_EQ(dmx_->Pause(), S_OK);
  EXPECT_EQ(log_.Take(), Calls{});
  EXPECT_EQ(dmx_->Run(0), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"Run 0", "Run 1"}));
  EXPECT_EQ(dmx_->Stop(), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"Inactive 0", "Inactive 1", "OnStopped"}));
  EXPECT_EQ(dmx_->State(), State_Stopped);
}

TEST_F(DmxStateTest, StopWhileStoppedCallsNoPin) {
  EXPECT_EQ(dmx_->Stop(), S_OK);
  EXPECT_EQ(log_.Take(), Calls{});
}

TEST_F(DmxStateTest, FailedActivationLeavesTheFilterStoppedWithNoPinStarted) {
  dmx_->Pin(1)->activeResult = E_OUTOFMEMORY;
  EXPECT_EQ(dmx_->Pause(), E_OUTOFMEMORY);
  EXPECT_EQ(log_.Take(), (Calls{"Prepare", "Active 0", "Active 1", "Inactive 0"}));
  EXPECT_EQ(dmx_->State(), State_Stopped);
  EXPECT_EQ(dmx_->Run(0), E_OUTOFMEMORY);
  EXPECT_EQ(dmx_->State(), State_Stopped);
}

TEST_F(DmxStateTest, FailedPreparationActivatesNothing) {
  dmx_->prepareResult = E_FAIL;
  EXPECT_EQ(dmx_->Pause(), E_FAIL);
  EXPECT_EQ(log_.Take(), Calls{"Prepare"});
  EXPECT_EQ(dmx_->State(), State_Stopped);
}

TEST_F(DmxStateTest, FailedPinRunLeavesTheFilterPaused) {
  dmx_->Pin(0)->runResult = E_UNEXPECTED;
  EXPECT_EQ(dmx_->Run(0), E_UNEXPECTED);
  EXPECT_EQ(log_.Take(), (Calls{"Prepare", "Active 0", "Active 1", "Run 0"}));
  EXPECT_EQ(dmx_->State(), State_Paused);
}

TEST_F(DmxStateTest, StopTellsEveryPinDespiteAFailureAndStillSucceeds) {
  dmx_->Pause();
  log_.Take();
  dmx_->Pin(0)->inactiveResult = E_FAIL;
  EXPECT_EQ(dmx_->Stop(), S_OK);
  // The failure keeps OnStopped from running; the pins are stopped anyway.
  EXPECT_EQ(log_.Take(), (Calls{"Inactive 0", "Inactive 1"}));
  EXPECT_EQ(dmx_->State(), State_Stopped);
}

TEST_F(DmxStateTest, FailedOnStoppedRestoresTheStateSoStopCanBeRetried) {
  dmx_->Run(0);
  log_.Take();
  dmx_->onStoppedResult = E_FAIL;
  EXPECT_EQ(dmx_->Stop(), S_OK);
  EXPECT_EQ(dmx_->State(), State_Running);
  dmx_->onStoppedResult = S_OK;
  EXPECT_EQ(dmx_->Stop(), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"Inactive 0", "Inactive 1", "OnStopped", "Inactive 0", "Inactive 1", "OnStopped"}));
  EXPECT_EQ(dmx_->State(), State_Stopped);
}

TEST_F(DmxStateTest, FanOutLoopsReachEveryOutputPin) {
  dmx_->DeliverBeginFlushAll(0);
  dmx_->DeliverEndFlushAll(0);
  dmx_->DeliverEndOfStreamAll();
  EXPECT_EQ(log_.Take(), (Calls{"BeginFlush 0", "BeginFlush 1", "EndFlush 0", "EndFlush 1", "EndOfStream 0",
                                "EndOfStream 1"}));
}

TEST_F(DmxStateTest, EndOfStreamWithoutAConnectedInputGoesToEveryOutputPin) {
  EXPECT_EQ(dmx_->OnInputEndOfStream(0), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"EndOfStream 0", "EndOfStream 1"}));
}

// The error latch: a marker travels up, OnError turns it into the latched
// code exactly once.
class DmxErrorLatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph_.PutVoid()),
              S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaEventEx, events_), S_OK);
    dmx_ = Make<TestDmx>();
    SetTraceCaptureForTesting(&trace_);
  }
  void TearDown() override { SetTraceCaptureForTesting(nullptr); }

  void Join() { ASSERT_EQ(graph_->AddFilter(dmx_.Get(), L"Demux"), S_OK); }
  // The events posted so far, as "code:param1".
  std::vector<std::string> Events() {
    std::vector<std::string> seen;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events_->GetEvent(&code, &p1, &p2, 0) == S_OK) {
      seen.push_back(std::to_string(code) + ":" + HResultText(static_cast<HRESULT>(p1)));
    }
    return seen;
  }

  std::string trace_;
  ComPtr<IFilterGraph> graph_;
  ComPtr<IMediaEventEx> events_;
  ComPtr<TestDmx> dmx_;
};

TEST_F(DmxErrorLatchTest, EmptyLatchReturnsTheDefault) {
  EXPECT_EQ(dmx_->OnError(S_OK), S_OK);
  EXPECT_EQ(dmx_->OnError(E_ABORT), E_ABORT);
  EXPECT_EQ(dmx_->SetErrorResult(S_OK), S_OK);
  EXPECT_EQ(dmx_->OnError(S_FALSE), S_FALSE);
}

TEST_F(DmxErrorLatchTest, ErrorResultIsReportedOnceAndThenForgotten) {
  Join();
  EXPECT_EQ(dmx_->SetErrorResult(E_FAIL), kErrorResultMarker);
  EXPECT_EQ(dmx_->OnError(kErrorResultMarker), E_FAIL);
  EXPECT_EQ(dmx_->OnError(S_OK), S_OK);
  EXPECT_EQ(Events(), std::vector<std::string>{std::to_string(EC_ERRORABORT) + ":" + HResultText(E_FAIL)});
  EXPECT_NE(trace_.find("\n\n### NotifyGraphOfError("), std::string::npos);
  EXPECT_NE(trace_.find(", Demux): hr="), std::string::npos);
}

TEST_F(DmxErrorLatchTest, AbortResultWinsSilentlyAndClearsBothLatches) {
  Join();
  EXPECT_EQ(dmx_->SetErrorResult(E_FAIL), kErrorResultMarker);
  EXPECT_EQ(dmx_->SetAbortResult(E_ABORT), kAbortResultMarker);
  EXPECT_EQ(dmx_->OnError(kAbortResultMarker), E_ABORT);
  EXPECT_EQ(dmx_->OnError(S_OK), S_OK);
  EXPECT_EQ(Events(), std::vector<std::string>{});
}

TEST_F(DmxErrorLatchTest, WithoutAGraphTheErrorIsOnlyTraced) {
  EXPECT_EQ(dmx_->NotifyGraphOfError(E_OUTOFMEMORY), E_OUTOFMEMORY);
  EXPECT_NE(trace_.find("### NotifyGraphOfError("), std::string::npos);
  EXPECT_NE(trace_.find(", NULL): hr="), std::string::npos);
}

TEST_F(DmxErrorLatchTest, SwitchedOffReportingNeitherTracesNorNotifies) {
  Join();
  dmx_->SetReportErrors(FALSE);
  EXPECT_EQ(dmx_->NotifyGraphOfError(E_FAIL), E_FAIL);
  EXPECT_EQ(trace_, "");
  EXPECT_EQ(Events(), std::vector<std::string>{});
}

TEST_F(DmxErrorLatchTest, OutputPinLatchReportsThroughTheFilter) {
  Join();
  dmx_->AddOutputPin(FALSE);
  CBaseDmxOutputPin* pin = dmx_->GetOutputPin(0);
  EXPECT_EQ(pin->SetAbortResult(E_ABORT), kAbortResultMarker);
  EXPECT_EQ(pin->OnError(S_OK), E_ABORT);
  EXPECT_EQ(pin->SetErrorResult(VFW_E_INVALID_FILE_FORMAT), kErrorResultMarker);
  EXPECT_EQ(pin->OnError(S_OK), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(pin->OnError(S_FALSE), S_FALSE);
  EXPECT_NE(trace_.find("\nCBaseOutputPin::OnError - calling NotifyGraphOnError"), std::string::npos);
  EXPECT_EQ(Events(),
            std::vector<std::string>{std::to_string(EC_ERRORABORT) + ":" + HResultText(VFW_E_INVALID_FILE_FORMAT)});
}

// The service object: created by class at construction, told of the
// filter's own calls in order; nothing depends on what it answers.
CallLog* g_serviceLog = nullptr;

class RecordingServiceObject : public CUnknown, public IDmxServiceObject, public IPersist {
 public:
  RecordingServiceObject() : CUnknown("RecordingServiceObject", nullptr) {}
  static CUnknown* Create(IUnknown*, HRESULT*) { return new RecordingServiceObject(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv != nullptr && riid == IID_IDmxServiceObject) return GetInterface(static_cast<IDmxServiceObject*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT SetSyncSource(IReferenceClock*) override { return Log("SetSyncSource"); }
  HRESULT JoinFilterGraph(IFilterGraph*) override { return Log("JoinFilterGraph"); }
  HRESULT Run(REFERENCE_TIME) override { return Log("Run"); }
  HRESULT Pause() override { return Log("Pause"); }
  HRESULT Stop() override { return Log("Stop"); }
  HRESULT Reset() override { return Log("Reset"); }
  HRESULT AnnounceOutputPin(const AM_MEDIA_TYPE*, LONG*) override { return Log("Announce"); }
  HRESULT GetClassID(CLSID* classId) override {
    *classId = CLSID_DmxServiceObject;
    return S_OK;
  }

 private:
  HRESULT Log(const char* call) {
    if (g_serviceLog != nullptr) g_serviceLog->Add(call);
    // Failures here must change nothing in the filter.
    return E_FAIL;
  }
};

// An object that names the service it wants through IPersist.
class ServiceCaller : public CUnknown, public IPersist {
 public:
  explicit ServiceCaller(const GUID& wanted) : CUnknown("ServiceCaller", nullptr), wanted_(wanted) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv != nullptr && riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT GetClassID(CLSID* classId) override {
    *classId = wanted_;
    return S_OK;
  }

 private:
  GUID wanted_;
};

class DmxServiceObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_serviceLog = &log_;
    ASSERT_EQ(RegisterInProcessClass(CLSID_DmxServiceObject, &RecordingServiceObject::Create), S_OK);
  }
  void TearDown() override {
    UnregisterInProcessClass(CLSID_DmxServiceObject);
    g_serviceLog = nullptr;
  }

  CallLog log_;
};

TEST_F(DmxServiceObjectTest, HearsTheFiltersCallsInOrder) {
  auto dmx = Make<TestDmx>();
  ASSERT_NE(dmx->ServiceObject(), nullptr);
  EXPECT_EQ(dmx->SetSyncSource(nullptr), S_OK);
  EXPECT_EQ(dmx->JoinFilterGraph(nullptr, L"Demux"), S_OK);
  EXPECT_EQ(dmx->Run(0), S_OK);
  EXPECT_EQ(dmx->Pause(), S_OK);
  EXPECT_EQ(dmx->Stop(), S_OK);
  EXPECT_EQ(log_.Take(), (Calls{"SetSyncSource", "JoinFilterGraph", "Pause", "Run", "Pause", "Stop"}));
}

TEST_F(DmxServiceObjectTest, QueryServiceAnswersOnlyForTheServiceClass) {
  auto dmx = Make<TestDmx>();
  ComPtr<IServiceProvider> provider;
  ASSERT_EQ(dmx.As(IID_IServiceProvider, provider), S_OK);
  EXPECT_EQ(provider->QueryService(CLSID_DmxServiceObject, IID_IDmxServiceObject, nullptr), E_POINTER);
  ComPtr<IUnknown> service;
  EXPECT_EQ(provider->QueryService(SID_DmxFilterService, IID_IUnknown, service.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(provider->QueryService(CLSID_DmxServiceObject, IID_IDmxServiceObject, service.PutVoid()), S_OK);
  EXPECT_EQ(service.Get(), static_cast<IUnknown*>(dmx->ServiceObject()));
}

TEST_F(DmxServiceObjectTest, SecondProviderHandsTheObjectToCallersNamingIt) {
  auto dmx = Make<TestDmx>();
  ComPtr<IServiceProvider2> provider;
  ASSERT_EQ(dmx.As(IID_IServiceProvider2, provider), S_OK);
  for (const GUID& wanted : {CLSID_DmxServiceObject, SID_DmxFilterService}) {
    auto caller = Make<ServiceCaller>(wanted);
    VARIANT value;
    ASSERT_EQ(provider->GetServiceForObject(caller->NonDelegatingUnknown(), &value), S_OK);
    EXPECT_EQ(value.vt, VT_UNKNOWN);
    EXPECT_NE(value.punkVal, nullptr);
    VariantClear(&value);
  }
  auto stranger = Make<ServiceCaller>(IID_IUnknown);
  VARIANT value;
  EXPECT_EQ(provider->GetServiceForObject(stranger->NonDelegatingUnknown(), &value), E_NOINTERFACE);
  EXPECT_EQ(provider->GetServiceForObject(nullptr, &value), E_POINTER);
  EXPECT_EQ(provider->GetServiceForObject(stranger->NonDelegatingUnknown(), nullptr), E_POINTER);
  EXPECT_EQ(provider->ProfferService(GUID_NULL, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(provider->RevokeService(0), E_NOTIMPL);
  EXPECT_EQ(provider->QueryServiceFor(nullptr, GUID_NULL, IID_IUnknown, nullptr), E_NOTIMPL);
  EXPECT_EQ(provider->GetServiceCount(nullptr), E_NOTIMPL);
}

TEST(DmxWithoutServiceObject, ServicesAreRefusedAndTheFilterStillRuns) {
  auto dmx = Make<TestDmx>();
  EXPECT_EQ(dmx->ServiceObject(), nullptr);
  ComPtr<IUnknown> service;
  EXPECT_EQ(dmx->QueryService(CLSID_DmxServiceObject, IID_IUnknown, service.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(dmx->Run(0), S_OK);
  EXPECT_EQ(dmx->Stop(), S_OK);
  ComPtr<IMediaSeeking> seeking;
  EXPECT_EQ(dmx->NonDelegatingQueryInterface(IID_IMediaSeeking, seeking.PutVoid()), E_NOINTERFACE);
}

}  // namespace
