#include "platform/filter_graph.h"

#include "platform/enum_filters.h"
#include "platform/media_guids.h"
#include "platform/system_clock.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <new>

namespace {

// Unique-name suffixes run from 0001 to 9999, as published.
constexpr int kMaxNameSuffix = 9999;

ComPtr<IBaseFilter> FilterOfPin(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

// Calls `visit` with each pin of `filter`; stops early when it returns false.
void ForEachPin(IBaseFilter* filter, const std::function<bool(IPin*)>& visit) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.Put()))) return;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    const bool more = visit(pin);
    pin->Release();
    if (!more) return;
  }
}

PIN_DIRECTION DirectionOf(IPin* pin) {
  PIN_DIRECTION dir = PINDIR_INPUT;
  pin->QueryDirection(&dir);
  return dir;
}

}  // namespace

CFilterGraph::CFilterGraph(const char* name, IUnknown* outer, HRESULT* phr)
    : CUnknown(name, outer, phr), m_timeFormat(TIME_FORMAT_MEDIA_TIME) {}

CFilterGraph::~CFilterGraph() {
  CAutoLock hold(&m_graphLock);
  StopLocked();
  while (!m_filters.empty()) {
    IBaseFilter* filter = m_filters.back().filter;
    DisconnectAll(filter);
    filter->JoinFilterGraph(nullptr, nullptr);
    filter->SetSyncSource(nullptr);
    m_filters.pop_back();
    filter->Release();
  }
  if (m_clock != nullptr) m_clock->Release();
}

CUnknown* CFilterGraph::CreateInstance(IUnknown* outer, HRESULT* phr) {
  auto* graph = new (std::nothrow) CFilterGraph("CFilterGraph", outer, phr);
  if (graph == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return graph;
}

HRESULT CFilterGraph::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), ppv);
  if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), ppv);
  if (riid == IID_IMediaEvent || riid == IID_IMediaEventEx) {
    return GetInterface(static_cast<IMediaEventEx*>(this), ppv);
  }
  if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  if (riid == IID_IMediaFilter || riid == IID_IPersist) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CFilterGraph::Contains(IBaseFilter* filter) const {
  return std::any_of(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.filter == filter; });
}

bool CFilterGraph::NameTaken(const std::wstring& name) const {
  return std::any_of(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.name == name; });
}

HRESULT CFilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  if (filter == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  if (Contains(filter)) return E_INVALIDARG;
  std::wstring base = name != nullptr ? name : L"Filter";
  // Room for the " 0001" suffix within the platform's name length.
  constexpr size_t kMaxBase = MAX_FILTER_NAME - 6;
  if (base.size() > kMaxBase) base.resize(kMaxBase);
  std::wstring unique = base;
  HRESULT result = S_OK;
  if (NameTaken(unique)) {
    int suffix = 1;
    for (; suffix <= kMaxNameSuffix; ++suffix) {
      wchar_t digits[8];
      std::swprintf(digits, 8, L" %04d", suffix);
      unique = base + digits;
      if (!NameTaken(unique)) break;
    }
    if (suffix > kMaxNameSuffix) return VFW_E_DUPLICATE_NAME;
    result = VFW_S_DUPLICATE_NAME;
  }
  HRESULT hr = filter->JoinFilterGraph(static_cast<IFilterGraph*>(this), unique.c_str());
  if (FAILED(hr)) return hr;
  m_filters.push_back(Entry{filter, unique});
  filter->AddRef();
  ++m_version;
  if (m_clockChosen) filter->SetSyncSource(m_clock);
  return result;
}

HRESULT CFilterGraph::DisconnectAll(IBaseFilter* filter) {
  HRESULT result = S_OK;
  ForEachPin(filter, [&](IPin* pin) {
    IPin* peer = nullptr;
    if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer != nullptr) {
      HRESULT hr = peer->Disconnect();
      if (SUCCEEDED(hr)) hr = pin->Disconnect();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
      peer->Release();
    }
    return true;
  });
  return result;
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter* filter) {
  if (filter == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  const auto found = std::find_if(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.filter == filter; });
  if (found == m_filters.end()) return VFW_E_NOT_FOUND;
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  const HRESULT hr = DisconnectAll(filter);
  if (FAILED(hr)) return hr;
  filter->JoinFilterGraph(nullptr, nullptr);
  filter->SetSyncSource(nullptr);
  m_filters.erase(found);
  ++m_version;
  filter->Release();
  return S_OK;
}

HRESULT CFilterGraph::EnumFilters(IEnumFilters** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  auto snapshot = [this](LONG* version) {
    CAutoLock hold(&m_graphLock);
    std::vector<IBaseFilter*> filters;
    for (const Entry& entry : m_filters) {
      entry.filter->AddRef();
      filters.push_back(entry.filter);
    }
    *version = m_version;
    return filters;
  };
  auto version = [this] {
    CAutoLock hold(&m_graphLock);
    return m_version;
  };
  auto* created = new (std::nothrow) CEnumFilters(GetOwner(), snapshot, version);
  if (created == nullptr) return E_OUTOFMEMORY;
  created->AddRef();
  *enumerator = created;
  return S_OK;
}

HRESULT CFilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
  if (name == nullptr || filter == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  for (const Entry& entry : m_filters) {
    if (entry.name == name) {
      *filter = entry.filter;
      entry.filter->AddRef();
      return S_OK;
    }
  }
  *filter = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT CFilterGraph::ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mt) {
  if (output == nullptr || input == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  const ComPtr<IBaseFilter> outputFilter = FilterOfPin(output);
  const ComPtr<IBaseFilter> inputFilter = FilterOfPin(input);
  if (!Contains(outputFilter.Get()) || !Contains(inputFilter.Get())) return VFW_E_NOT_IN_GRAPH;
  if (DirectionOf(output) != PINDIR_OUTPUT || DirectionOf(input) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  const HRESULT hr = output->Connect(input, mt);
  ++m_version;
  return hr;
}

HRESULT CFilterGraph::Reconnect(IPin* pin) {
  if (pin == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  ComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(peer.Put()))) return VFW_E_NOT_CONNECTED;
  CMediaType type;
  pin->ConnectionMediaType(&type);
  IPin* output = DirectionOf(pin) == PINDIR_OUTPUT ? pin : peer.Get();
  IPin* input = output == pin ? peer.Get() : pin;
  HRESULT hr = input->Disconnect();
  if (SUCCEEDED(hr)) hr = output->Disconnect();
  if (FAILED(hr)) return hr;
  hr = output->Connect(input, &type);
  if (FAILED(hr)) hr = output->Connect(input, nullptr);
  ++m_version;
  return hr;
}

HRESULT CFilterGraph::Disconnect(IPin* pin) {
  if (pin == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  const HRESULT hr = pin->Disconnect();
  ++m_version;
  return hr;
}

HRESULT CFilterGraph::SetDefaultSyncSource() {
  CAutoLock hold(&m_graphLock);
  ComPtr<IReferenceClock> clock;
  for (IBaseFilter* filter : DownstreamFirst()) {
    if (SUCCEEDED(filter->QueryInterface(IID_IReferenceClock, clock.PutVoid()))) break;
  }
  if (!clock) {
    HRESULT hr = S_OK;
    CUnknown* created = CSystemClock::CreateInstance(nullptr, &hr);
    if (created == nullptr) return E_OUTOFMEMORY;
    created->NonDelegatingAddRef();
    if (SUCCEEDED(hr)) hr = created->NonDelegatingQueryInterface(IID_IReferenceClock, clock.PutVoid());
    created->NonDelegatingRelease();
    if (FAILED(hr)) return hr;
  }
  if (m_clock != nullptr) m_clock->Release();
  m_clock = clock.Detach();
  m_clockChosen = true;
  return DistributeClock();
}

HRESULT CFilterGraph::DistributeClock() {
  HRESULT result = S_OK;
  for (const Entry& entry : m_filters) {
    const HRESULT hr = entry.filter->SetSyncSource(m_clock);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

std::vector<IBaseFilter*> CFilterGraph::DownstreamFirst() {
  // Post-order over the connections: every filter comes after all filters
  // downstream of it.
  std::vector<IBaseFilter*> order;
  std::set<IBaseFilter*> visited;
  std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* filter) {
    if (!visited.insert(filter).second) return;
    ForEachPin(filter, [&](IPin* pin) {
      if (DirectionOf(pin) != PINDIR_OUTPUT) return true;
      ComPtr<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(peer.Put())) && peer) {
        const ComPtr<IBaseFilter> next = FilterOfPin(peer.Get());
        if (next && Contains(next.Get())) visit(next.Get());
      }
      return true;
    });
    order.push_back(filter);
  };
  for (const Entry& entry : m_filters) visit(entry.filter);
  return order;
}

std::vector<IBaseFilter*> CFilterGraph::Renderers() {
  std::vector<IBaseFilter*> renderers;
  for (const Entry& entry : m_filters) {
    // Only a filter that says it renders is awaited: one that merely has no
    // output pins (a parser that found nothing to play) never sends
    // EC_COMPLETE, and waiting for it would never end.
    ComPtr<IAMFilterMiscFlags> flags;
    if (FAILED(entry.filter->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid())) ||
        (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) == 0) {
      continue;
    }
    bool connectedInput = false;
    ForEachPin(entry.filter, [&](IPin* pin) {
      ComPtr<IPin> peer;
      if (DirectionOf(pin) == PINDIR_INPUT && SUCCEEDED(pin->ConnectedTo(peer.Put()))) connectedInput = true;
      return !connectedInput;
    });
    if (connectedInput) renderers.push_back(entry.filter);
  }
  return renderers;
}

HRESULT CFilterGraph::Run() {
  CAutoLock hold(&m_graphLock);
  return RunLocked(0, true);
}

HRESULT CFilterGraph::Run(REFERENCE_TIME start) {
  CAutoLock hold(&m_graphLock);
  return RunLocked(start, false);
}

HRESULT CFilterGraph::RunLocked(REFERENCE_TIME start, bool startFromClock) {
  if (m_state == State_Running) return S_OK;
  if (m_state == State_Stopped) {
    const HRESULT hr = PauseLocked();
    if (FAILED(hr)) return hr;
  }
  if (startFromClock) {
    REFERENCE_TIME now = 0;
    if (m_clock != nullptr) m_clock->GetTime(&now);
    // Resuming keeps the stream time where the pause left it.
    start = now - m_pausedStreamTime;
  }
  m_tStart = start;
  for (IBaseFilter* filter : DownstreamFirst()) {
    const HRESULT hr = filter->Run(start);
    if (FAILED(hr)) {
      StopLocked();
      return hr;
    }
  }
  m_state = State_Running;
  {
    CAutoLock events(&m_eventLock);
    m_running = true;
  }
  return S_OK;
}

HRESULT CFilterGraph::Pause() {
  CAutoLock hold(&m_graphLock);
  return PauseLocked();
}

HRESULT CFilterGraph::PauseLocked() {
  if (m_state == State_Paused) return S_OK;
  if (m_state == State_Stopped) {
    if (!m_clockChosen) {
      const HRESULT hr = SetDefaultSyncSource();
      if (FAILED(hr)) return hr;
    }
    m_pausedStreamTime = 0;
    ArmCompletion();
  } else {
    REFERENCE_TIME now = 0;
    if (m_clock != nullptr && SUCCEEDED(m_clock->GetTime(&now))) m_pausedStreamTime = now - m_tStart;
  }
  for (IBaseFilter* filter : DownstreamFirst()) {
    const HRESULT hr = filter->Pause();
    if (FAILED(hr)) {
      // Filters already paused hold resources (threads, buffers): let them go.
      StopLocked();
      return hr;
    }
  }
  m_state = State_Paused;
  CAutoLock events(&m_eventLock);
  m_running = false;
  m_eventChanged.notify_all();
  return S_OK;
}

HRESULT CFilterGraph::Stop() {
  CAutoLock hold(&m_graphLock);
  StopLocked();
  return S_OK;
}

void CFilterGraph::StopLocked() {
  for (IBaseFilter* filter : DownstreamFirst()) filter->Stop();
  m_state = State_Stopped;
  m_pausedStreamTime = 0;
  CAutoLock events(&m_eventLock);
  m_running = false;
  m_counting = false;
  m_eventChanged.notify_all();
}

HRESULT CFilterGraph::StopWhenReady() {
  CAutoLock hold(&m_graphLock);
  const HRESULT hr = PauseLocked();
  StopLocked();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CFilterGraph::GetState(LONG timeoutMs, OAFilterState* state) {
  if (state == nullptr) return E_POINTER;
  FILTER_STATE filterState = State_Stopped;
  const HRESULT hr = GetState(static_cast<DWORD>(timeoutMs), &filterState);
  *state = filterState;
  return hr;
}

HRESULT CFilterGraph::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  HRESULT result = S_OK;
  for (const Entry& entry : m_filters) {
    FILTER_STATE filterState;
    const HRESULT hr = entry.filter->GetState(timeoutMs, &filterState);
    if (FAILED(hr)) return hr;
    // A filter still on its way (or unable to cue) decides the answer.
    if (hr == VFW_S_STATE_INTERMEDIATE || (hr == VFW_S_CANT_CUE && result == S_OK)) result = hr;
  }
  *state = m_state;
  return result;
}

HRESULT CFilterGraph::GetClassID(CLSID* classId) {
  if (classId == nullptr) return E_POINTER;
  *classId = CLSID_FilterGraph;
  return S_OK;
}

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* clock) {
  CAutoLock hold(&m_graphLock);
  if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
  if (clock != nullptr) clock->AddRef();
  if (m_clock != nullptr) m_clock->Release();
  m_clock = clock;
  m_clockChosen = true;
  return DistributeClock();
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) return E_POINTER;
  CAutoLock hold(&m_graphLock);
  *clock = m_clock;
  if (m_clock != nullptr) m_clock->AddRef();
  return S_OK;
}
