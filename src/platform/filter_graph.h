// CFilterGraph: the filter graph manager. It holds the filters (one
// reference each, under unique names), connects pins directly, changes the
// state of every filter from the renderers upstream, distributes the
// reference clock, collects the filters' events for the application, and
// passes seeking to the output pins that feed the renderers.
//
// A renderer is a filter with at least one connected input pin that reports
// AM_FILTER_MISC_FLAGS_IS_RENDERER; the graph posts EC_COMPLETE once each
// renderer has sent its own EC_COMPLETE, and at once when there is none.
//
// Threads: the application calls everything; filters call Notify from their
// streaming threads. Lock order: m_graphLock (filters, connections, state,
// seeking; held while calling into filters) → the filters' own locks →
// m_eventLock (events and completion; innermost, never held while calling
// out). Streaming threads take only m_eventLock.
#pragma once

#include "platform/critical_section.h"
#include "platform/graph_interfaces.h"
#include "platform/media_seeking.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

class CFilterGraph final : public CUnknown,
                           public IFilterGraph,
                           public IMediaControl,
                           public IMediaEventEx,
                           public IMediaEventSink,
                           public IMediaSeeking,
                           public IMediaFilter {
 public:
  CFilterGraph(const char* name, IUnknown* outer, HRESULT* phr);
  ~CFilterGraph() override;

  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFilterGraph
  // A taken name gets " 0001", " 0002" ... appended (VFW_S_DUPLICATE_NAME).
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  // Disconnects every pin of the filter first; only while stopped.
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** enumerator) override;
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
  // Both pins must belong to filters of this graph, face the right way, and
  // the graph must be stopped.
  HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mt) override;
  // Breaks and remakes the pin's connection, with the old type first.
  HRESULT Reconnect(IPin* pin) override;
  // One end only, as published: the caller disconnects both pins.
  HRESULT Disconnect(IPin* pin) override;
  // A filter's clock if one offers it (renderers first), else a CSystemClock.
  HRESULT SetDefaultSyncSource() override;

  // IMediaControl
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG timeoutMs, OAFilterState* state) override;
  // Source filter and type from file-type detection, then the registered
  // filter of highest merit whose input takes the source's type, then a
  // null renderer on each of that filter's output pins.
  // VFW_E_CANNOT_RENDER when no registered filter connects;
  // VFW_S_PARTIAL_RENDER when some output pin found no renderer.
  HRESULT RenderFile(BSTR fileName) override;
  HRESULT AddSourceFilter(BSTR, IUnknown**) override { return E_NOTIMPL; }
  HRESULT get_FilterCollection(IUnknown**) override { return E_NOTIMPL; }
  HRESULT get_RegFilterCollection(IUnknown**) override { return E_NOTIMPL; }
  HRESULT StopWhenReady() override;

  // IMediaEvent(Ex)
  HRESULT GetEventHandle(OAEVENT*) override { return E_NOTIMPL; }
  HRESULT GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) override;
  // Waits for EC_COMPLETE, EC_ERRORABORT or EC_USERABORT while running;
  // the event also stays in the queue for GetEvent. E_ABORT on timeout,
  // VFW_E_WRONG_STATE when the graph is not running.
  HRESULT WaitForCompletion(LONG timeoutMs, LONG* eventCode) override;
  // Only EC_COMPLETE has default handling (the counting of renderers).
  HRESULT CancelDefaultHandling(LONG eventCode) override;
  HRESULT RestoreDefaultHandling(LONG eventCode) override;
  HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
  HRESULT SetNotifyWindow(OAHWND, LONG, LONG_PTR) override { return E_NOTIMPL; }
  HRESULT SetNotifyFlags(LONG flags) override;
  HRESULT GetNotifyFlags(LONG* flags) override;

  // IMediaEventSink
  HRESULT Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override;

  // IMediaSeeking: combined over the output pins connected to renderers.
  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  // IMediaFilter (the graph as a whole); a null clock runs the renderers
  // as fast as the data comes.
  HRESULT GetClassID(CLSID* classId) override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;

 private:
  struct Entry {
    IBaseFilter* filter;  // one reference
    std::wstring name;
  };
  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };

  // Under m_graphLock.
  std::vector<IBaseFilter*> DownstreamFirst();
  std::vector<IBaseFilter*> Renderers();
  std::vector<ComPtr<IMediaSeeking>> Seekers();
  bool Contains(IBaseFilter* filter) const;
  bool NameTaken(const std::wstring& name) const;
  HRESULT DisconnectAll(IBaseFilter* filter);
  HRESULT DistributeClock();
  HRESULT PauseLocked();
  HRESULT RunLocked(REFERENCE_TIME start, bool startFromClock);
  void StopLocked();
  // Connects `output` to the best registered filter that accepts it.
  HRESULT ConnectToRegisteredFilter(IPin* output, ComPtr<IBaseFilter>* chosen);
  // Restarts EC_COMPLETE counting with the current renderers.
  void ArmCompletion();
  // Runs a seek or rate change, pausing a running graph around it and
  // counting completion anew when the graph is not stopped.
  HRESULT ChangeStreams(const std::function<HRESULT()>& change);
  HRESULT SetPositionsLocked(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags);

  // Under m_eventLock.
  void Post(LONG code, LONG_PTR param1, LONG_PTR param2);
  void Latch(LONG code);

  CCritSec m_graphLock;
  std::vector<Entry> m_filters;
  LONG m_version = 1;  // also read by enumerators under m_graphLock
  FILTER_STATE m_state = State_Stopped;
  IReferenceClock* m_clock = nullptr;  // one reference
  bool m_clockChosen = false;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_pausedStreamTime = 0;  // stream time reached when paused
  GUID m_timeFormat;

  CCritSec m_eventLock;
  std::condition_variable_any m_eventChanged;
  std::deque<Event> m_events;
  std::set<IBaseFilter*> m_pendingRenderers;  // not reference-counted
  bool m_counting = false;
  bool m_defaultCompleteHandling = true;
  bool m_running = false;
  LONG m_completion = 0;
  LONG m_notifyFlags = 0;
};
