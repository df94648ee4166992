#include "platform/base_filter.h"

#include "platform/enum_pins.h"

#include <cwchar>
#include <new>

CBaseFilter::CBaseFilter(const char* name, IUnknown* outer, CCritSec* lock, REFCLSID clsid, HRESULT* phr)
    : CUnknown(name, outer, phr), m_clsid(clsid), m_pLock(lock) {
  if (lock == nullptr && phr != nullptr) *phr = E_POINTER;
}

CBaseFilter::~CBaseFilter() {
  delete[] m_pName;
  if (m_pClock != nullptr) m_pClock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* classId) {
  if (classId == nullptr) return E_POINTER;
  *classId = m_clsid;
  return S_OK;
}

HRESULT CBaseFilter::Stop() {
  CAutoLock hold(m_pLock);
  HRESULT result = S_OK;
  if (m_State != State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin == nullptr) break;
      // Every connected pin is told, whatever an earlier one answered: Stop
      // also resynchronises a graph after a failure.
      if (pin->IsConnected()) {
        const HRESULT hr = pin->Inactive();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
      }
    }
  }
  m_State = State_Stopped;
  return result;
}

HRESULT CBaseFilter::Pause() {
  CAutoLock hold(m_pLock);
  if (m_State == State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin == nullptr) break;
      if (pin->IsConnected()) {
        const HRESULT hr = pin->Active();
        if (FAILED(hr)) return hr;
      }
    }
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
  CAutoLock hold(m_pLock);
  m_tStart = start;
  if (m_State == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin == nullptr) break;
      if (pin->IsConnected()) {
        const HRESULT hr = pin->Run(start);
        if (FAILED(hr)) return hr;
      }
    }
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  *state = m_State;
  return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  CAutoLock hold(m_pLock);
  if (clock != nullptr) clock->AddRef();
  if (m_pClock != nullptr) m_pClock->Release();
  m_pClock = clock;
  return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) return E_POINTER;
  CAutoLock hold(m_pLock);
  if (m_pClock != nullptr) m_pClock->AddRef();
  *clock = m_pClock;
  return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  auto* created = new (std::nothrow) CEnumPins(this, nullptr);
  if (created == nullptr) return E_OUTOFMEMORY;
  created->AddRef();
  *enumerator = created;
  return S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (id == nullptr || pin == nullptr) return E_POINTER;
  CAutoLock hold(m_pLock);
  const int count = GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* candidate = GetPin(i);
    if (candidate == nullptr) break;
    if (candidate->Name() != nullptr && std::wcscmp(candidate->Name(), id) == 0) {
      *pin = candidate;
      candidate->AddRef();
      return S_OK;
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) return E_POINTER;
  info->achName[0] = L'\0';
  if (m_pName != nullptr) {
    std::wcsncpy(info->achName, m_pName, MAX_FILTER_NAME - 1);
    info->achName[MAX_FILTER_NAME - 1] = L'\0';
  }
  info->pGraph = m_pGraph;
  if (m_pGraph != nullptr) m_pGraph->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock hold(m_pLock);
  m_pGraph = graph;
  m_pSink = nullptr;
  if (graph != nullptr) {
    // Weak like m_pGraph: the graph outlives its membership.
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&m_pSink)))) {
      m_pSink->Release();
    } else {
      m_pSink = nullptr;
    }
  }
  delete[] m_pName;
  m_pName = DuplicateWideString(name);
  if (name != nullptr && m_pName == nullptr) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::Register() { return GetSetupData() == nullptr ? S_FALSE : E_NOTIMPL; }

HRESULT CBaseFilter::Unregister() { return GetSetupData() == nullptr ? S_FALSE : E_NOTIMPL; }

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& streamTime) {
  if (m_pClock == nullptr) return VFW_E_NO_CLOCK;
  const HRESULT hr = m_pClock->GetTime(&streamTime);
  if (FAILED(hr)) return hr;
  streamTime -= m_tStart;
  return S_OK;
}

HRESULT CBaseFilter::NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = m_pSink;
  if (sink == nullptr) return E_NOTIMPL;
  if (eventCode == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(eventCode, param1, param2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pin, const AM_MEDIA_TYPE*) {
  if (m_pGraph == nullptr) return E_NOINTERFACE;
  return m_pGraph->Reconnect(pin);
}
