// The demultiplexer base: its pin table, the default allocator decision,
// state changes across the output pins, and the error latch.
#include "diagnostics/trace.h"
#include "delivery_fixture.h"
#include "platform/class_table.h"
#include "platform/mem_allocator.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <string>
#include <vector>

namespace {

using namespace dmxtest;
using Calls = std::vector<std::string>;

// Pins are named by creation ("~" when hidden) up to the capacity; a pin a
// client holds outlives its removal and keeps the filter alive meanwhile.
TEST(DmxPinTable, PinsAreNumberedUpToCapacityAndAHeldPinOutlivesItsRemoval) {
  auto dmx = Make<TestDmx>(3);
  const LONG version = dmx->GetPinVersion();
  for (const BOOL hidden : {TRUE, FALSE, TRUE}) EXPECT_EQ(dmx->AddOutputPin(hidden), S_OK);
  EXPECT_EQ(dmx->AddOutputPin(FALSE), E_FAIL);
  EXPECT_EQ(dmx->GetPinVersion(), version + 3);
  std::vector<std::wstring> names;
  for (int n = 0; n < 4; ++n) names.push_back(dmx->GetPin(n)->Name());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Input 01", L"~Output 01", L"Output 02", L"~Output 03"}));
  EXPECT_EQ(std::make_tuple(dmx->GetPin(4), dmx->GetPin(-1), dmx->GetOutputPin(2)->StreamIndex()),
            std::make_tuple(nullptr, nullptr, 2));
  const LONG filterCount = dmx->ReferenceCount();
  IPin* held = dmx->GetOutputPin(2);
  held->AddRef();
  EXPECT_EQ(dmx->ReferenceCount(), filterCount + 1);
  dmx->RemoveOutputPins();
  PIN_DIRECTION dir = PINDIR_INPUT;
  EXPECT_EQ(held->QueryDirection(&dir), S_OK);
  EXPECT_EQ(dir, PINDIR_OUTPUT);
  held->Release();
  EXPECT_EQ(dmx->ReferenceCount(), filterCount);
}

TEST(DmxBufferSize, DefaultDecisionRaisesCountAndSizeAndFixesAlignment) {
  auto dmx = Make<TestDmx>();
  // Asked for; then count, size, alignment and prefix decided.
  const std::pair<ALLOCATOR_PROPERTIES, std::vector<LONG>> cases[] = {{{5, 100000, 1, 16}, {5, 100000, 4, 0}},
                                                                      {{0, 0, 0, 0}, {2, 8192, 4, 0}}};
  for (auto [props, expected] : cases) {
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(CreateMemoryAllocator(allocator.Put()), S_OK);
    EXPECT_EQ(dmx->DecidePinBufferSize(1, allocator.Get(), &props), S_OK);
    EXPECT_EQ(std::vector<LONG>({props.cBuffers, props.cbBuffer, props.cbAlign, props.cbPrefix}), expected);
  }
  ALLOCATOR_PROPERTIES props{};
  EXPECT_EQ(dmx->DecidePinBufferSize(1, nullptr, &props), E_POINTER);
}

// State changes reach every output pin, connected or not (none is here).
struct StateCase {
  const char* name;
  std::function<void(TestDmx&)> arrange;
  const char* actions;  // P pause, R run, S stop
  HRESULT lastResult;
  FILTER_STATE state;
  Calls calls;
};

TEST(DmxState, ChangesReachEveryPinAndFailuresLeaveAConsistentState) {
  const Calls pause = {"Prepare", "Active 0", "Active 1"};
  auto join = [](Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const StateCase cases[] = {
      {"pause prepares, then activates in pin order", nullptr, "PP", S_OK, State_Paused, pause},
      {"run pauses first; stop deactivates", nullptr, "RPRS", S_OK, State_Stopped,
       join(pause, {"Run 0", "Run 1", "Run 0", "Run 1", "Inactive 0", "Inactive 1", "OnStopped"})},
      {"stop while stopped calls no pin", nullptr, "S", S_OK, State_Stopped, {}},
      {"a failed activation stops the pins already started",
       [](TestDmx& d) { d.Pin(1)->activeResult = E_OUTOFMEMORY; }, "P", E_OUTOFMEMORY, State_Stopped,
       join(pause, {"Inactive 0"})},
      {"a failed preparation activates nothing", [](TestDmx& d) { d.prepareResult = E_FAIL; }, "P", E_FAIL,
       State_Stopped, {"Prepare"}},
      {"a failed pin run leaves the filter paused", [](TestDmx& d) { d.Pin(0)->runResult = E_UNEXPECTED; }, "R",
       E_UNEXPECTED, State_Paused, join(pause, {"Run 0"})},
      {"stop reaches every pin despite a failure but skips OnStopped",
       [](TestDmx& d) { d.Pin(0)->inactiveResult = E_FAIL; }, "PS", S_OK, State_Stopped,
       join(pause, {"Inactive 0", "Inactive 1"})},
      {"a failed OnStopped restores the state", [](TestDmx& d) { d.onStoppedResult = E_FAIL; }, "RS", S_OK,
       State_Running, join(pause, {"Run 0", "Run 1", "Inactive 0", "Inactive 1", "OnStopped"})},
  };
  for (const StateCase& c : cases) {
    SCOPED_TRACE(c.name);
    CallLog log;
    auto dmx = Make<TestDmx>(2, &log);
    dmx->AddOutputPin(FALSE);
    dmx->AddOutputPin(FALSE);
    if (c.arrange) c.arrange(*dmx.Get());
    HRESULT hr = S_OK;
    for (const char* action = c.actions; *action != '\0'; ++action) {
      hr = *action == 'P' ? dmx->Pause() : *action == 'R' ? dmx->Run(0) : dmx->Stop();
    }
    EXPECT_EQ(hr, c.lastResult);
    EXPECT_EQ(dmx->State(), c.state);
    EXPECT_EQ(log.Take(), c.calls);
  }
}

// The error latch: a marker travels up, OnError turns it into the latched
// code once, an abort result wins silently, and only errors reach the graph.
TEST(DmxErrorLatchTest, LatchedCodesComeBackOnceAndOnlyErrorsReachTheGraph) {
  ComPtr<IFilterGraph> graph;
  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph.PutVoid()),
            S_OK);
  ASSERT_EQ(graph.As(IID_IMediaEventEx, events), S_OK);
  auto dmx = Make<TestDmx>();
  ASSERT_EQ(graph->AddFilter(dmx.Get(), L"Demux"), S_OK);
  std::string trace;
  SetTraceCaptureForTesting(&trace);
  EXPECT_EQ(dmx->OnError(S_OK), S_OK);
  EXPECT_EQ(dmx->SetErrorResult(E_FAIL), kErrorResultMarker);
  EXPECT_EQ(dmx->OnError(kErrorResultMarker), E_FAIL);
  EXPECT_EQ(dmx->OnError(S_FALSE), S_FALSE);
  dmx->SetErrorResult(E_FAIL);
  EXPECT_EQ(dmx->SetAbortResult(E_ABORT), kAbortResultMarker);
  EXPECT_EQ(dmx->OnError(kAbortResultMarker), E_ABORT);
  EXPECT_EQ(dmx->OnError(S_OK), S_OK) << "both latches are clear";
  // The output pins' latch reports through the filter.
  dmx->AddOutputPin(FALSE);
  CBaseDmxOutputPin* pin = dmx->GetOutputPin(0);
  EXPECT_EQ(pin->SetErrorResult(VFW_E_INVALID_FILE_FORMAT), kErrorResultMarker);
  EXPECT_EQ(pin->OnError(S_OK), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(pin->SetAbortResult(E_ABORT), kAbortResultMarker);
  EXPECT_EQ(pin->OnError(S_OK), E_ABORT);
  SetTraceCaptureForTesting(nullptr);
  EXPECT_NE(trace.find("\n\n### NotifyGraphOfError("), std::string::npos);
  EXPECT_NE(trace.find(", Demux): hr="), std::string::npos);
  EXPECT_NE(trace.find("\nCBaseOutputPin::OnError - calling NotifyGraphOnError"), std::string::npos);
  std::vector<HRESULT> aborts;
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    if (code == EC_ERRORABORT) aborts.push_back(static_cast<HRESULT>(p1));
  }
  EXPECT_EQ(aborts, (std::vector<HRESULT>{E_FAIL, VFW_E_INVALID_FILE_FORMAT}));
}

}  // namespace
