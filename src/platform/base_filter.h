// CBaseFilter: the state machine, clock, graph membership and pin
// enumeration of a filter. Derived filters supply GetPinCount/GetPin.
//
// m_pLock is the filter's object lock (owned by the derived filter, usually
// shared with its pins); state changes and graph membership take it. The
// state is atomic because streaming threads read it without the lock.
#pragma once

#include "platform/base_pin.h"
#include "platform/filter_setup.h"
#include "platform/graph_interfaces.h"

#include <atomic>

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  CBaseFilter(const char* name, IUnknown* outer, CCritSec* lock, REFCLSID clsid, HRESULT* phr = nullptr);
  ~CBaseFilter() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  HRESULT GetClassID(CLSID* classId) override;

  // IMediaFilter. The defaults activate only connected pins: Pause from
  // Stopped calls Active on each, Run calls Run on each (pausing first when
  // stopped), Stop calls Inactive on each and always ends Stopped.
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;

  // IBaseFilter
  HRESULT EnumPins(IEnumPins** enumerator) override;
  HRESULT FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  // The graph is not reference-counted (it holds the filter); its event sink
  // is kept as m_pSink.
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;

  // IAMovieSetup: S_FALSE without setup data. Writing registration belongs
  // to the module, so a filter with data answers E_NOTIMPL here.
  HRESULT Register() override;
  HRESULT Unregister() override;

  // Clock time minus m_tStart; VFW_E_NO_CLOCK without a clock.
  virtual HRESULT StreamTime(REFERENCE_TIME& streamTime);
  virtual LONG GetPinVersion() { return m_PinVersion.load(); }
  void IncrementPinVersion() { m_PinVersion.fetch_add(1); }
  virtual int GetPinCount() = 0;
  // Not reference-counted; null past the end.
  virtual CBasePin* GetPin(int n) = 0;
  virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

  BOOL IsActive() const { return m_State != State_Stopped ? TRUE : FALSE; }
  BOOL IsStopped() const { return m_State == State_Stopped ? TRUE : FALSE; }
  // Sends an event to the graph (EC_COMPLETE carries this filter as param2);
  // E_NOTIMPL when the filter is in no graph.
  HRESULT NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2);
  IFilterGraph* GetFilterGraph() const { return m_pGraph; }
  HRESULT ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* mt);

 protected:
  friend class CBasePin;

  std::atomic<FILTER_STATE> m_State{State_Stopped};
  // Changed only while stopped (the graph distributes its clock before it
  // runs), so streaming threads read it without the lock.
  IReferenceClock* m_pClock = nullptr;  // one reference
  std::atomic<REFERENCE_TIME> m_tStart{0};
  CLSID m_clsid;
  CCritSec* m_pLock;
  WCHAR* m_pName = nullptr;           // owned; null until the filter joins a graph
  IFilterGraph* m_pGraph = nullptr;   // not reference-counted
  IMediaEventSink* m_pSink = nullptr; // not reference-counted (it is the graph)
  std::atomic<LONG> m_PinVersion{1};
};
