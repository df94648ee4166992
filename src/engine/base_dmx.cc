#include "engine/base_dmx.h"

#include "diagnostics/trace.h"
#include "engine/buffered_reader.h"
#include "engine/input_pin.h"
#include "engine/output_pin.h"
#include "engine/seeking.h"
#include "platform/class_table.h"
#include "platform/sample_interfaces.h"

#include <algorithm>
#include <new>

CBaseDmx::CBaseDmx(REFCLSID clsid, const char* name, IUnknown* outer, HRESULT* phr, LONG maxOutputPins)
    : CBaseFilter(name, outer, &m_filterLock, clsid, phr), m_maxOutputPins(maxOutputPins) {
  const LONG slots = std::max<LONG>(1, maxOutputPins);
  m_outputPins = new (std::nothrow) CBaseDmxOutputPin*[static_cast<size_t>(slots)]();
  if (m_outputPins == nullptr) {
    m_maxOutputPins = 0;
    if (phr != nullptr) *phr = E_OUTOFMEMORY;
  }
  // The service object is optional: without its class the filter works the same.
  if (FAILED(CoCreateInstance(CLSID_DmxServiceObject, nullptr, CLSCTX_INPROC_SERVER, IID_IDmxServiceObject,
                              reinterpret_cast<void**>(&m_serviceObject)))) {
    m_serviceObject = nullptr;
  }
}

CBaseDmx::~CBaseDmx() {
  if (m_serviceObject != nullptr) {
    m_serviceObject->Release();
    m_serviceObject = nullptr;
  }
  delete m_inputPin;
  m_inputPin = nullptr;
  RemoveOutputPins();
  delete[] m_outputPins;
}

HRESULT CBaseDmx::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IServiceProvider) return GetInterface(static_cast<IServiceProvider*>(this), ppv);
  if (riid == IID_IServiceProvider2) return GetInterface(static_cast<IServiceProvider2*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CSeeking* CBaseDmx::GetSeeking() {
  IMediaSeeking* seeking = nullptr;
  if (FAILED(NonDelegatingQueryInterface(IID_IDmxFilterSeeking, reinterpret_cast<void**>(&seeking))) ||
      seeking == nullptr) {
    return nullptr;
  }
  seeking->Release();
  // The identifier promises the CSeeking part of this object.
  return static_cast<CSeeking*>(seeking);
}

HRESULT CBaseDmx::SetAbortResult(HRESULT hr) { return m_errorLatch.SetAbort(hr); }

HRESULT CBaseDmx::SetErrorResult(HRESULT hr) { return m_errorLatch.SetError(hr); }

HRESULT CBaseDmx::OnError(HRESULT hrDefault) {
  const auto [abort, error] = m_errorLatch.Take();
  if (abort != S_OK) return abort;
  if (error != S_OK) return NotifyGraphOfError(error);
  return hrDefault;
}

HRESULT CBaseDmx::NotifyGraphOfError(HRESULT hr) {
  if (!m_reportErrors) return hr;
  DMX_TRACE("\n\n### NotifyGraphOfError(%p, %ls): hr=%s\n", static_cast<void*>(this),
            m_pName != nullptr ? m_pName : L"NULL", TraceError(hr).c_str());
  if (m_pSink != nullptr) m_pSink->Notify(EC_ERRORABORT, hr, 0);
  return hr;
}

HRESULT CBaseDmx::PrepareOutputPins() {
  const int count = GetOutputPinCount();
  for (int k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = GetOutputPin(k);
    if (pin != nullptr && pin->IsConnected()) pin->Prepare();
  }
  return S_OK;
}

HRESULT CBaseDmx::OnStopped() { return S_OK; }

HRESULT CBaseDmx::CheckPinMediaType(int, const CMediaType*) { return S_OK; }

HRESULT CBaseDmx::SetPinMediaType(int, const CMediaType*) { return S_OK; }

HRESULT CBaseDmx::GetPinMediaType(int, int, CMediaType*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT CBaseDmx::DecidePinBufferSize(int, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  if (allocator == nullptr || props == nullptr) return E_POINTER;
  props->cBuffers = std::max<LONG>(props->cBuffers, 2);
  props->cbBuffer = std::max<LONG>(props->cbBuffer, 8192);
  props->cbAlign = 4;
  props->cbPrefix = 0;
  ALLOCATOR_PROPERTIES actual{};
  return allocator->SetProperties(props, &actual);
}

HRESULT CBaseDmx::CheckPinConnect(int, IPin*) { return S_OK; }

HRESULT CBaseDmx::CompletePinConnect(int, IPin*) {
  SetMainSeekingPin(nullptr);
  return S_OK;
}

HRESULT CBaseDmx::BreakPinConnect(int) {
  SetMainSeekingPin(nullptr);
  return S_OK;
}

HRESULT CBaseDmx::ReceiveInputSample(int, IMediaSample*) { return S_OK; }

HRESULT CBaseDmx::OnInputEndOfStream(int) {
  CBaseDmxInputPin* input = GetInputPin();
  if (input != nullptr && input->IsConnected() && !input->IsEndOfStream()) return S_OK;
  return DeliverEndOfStreamAll();
}

HRESULT CBaseDmx::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  if (m_serviceObject != nullptr) m_serviceObject->JoinFilterGraph(graph);
  return CBaseFilter::JoinFilterGraph(graph, name);
}

HRESULT CBaseDmx::SetSyncSource(IReferenceClock* clock) {
  if (m_serviceObject != nullptr) m_serviceObject->SetSyncSource(clock);
  return CBaseFilter::SetSyncSource(clock);
}

HRESULT CBaseDmx::QueryService(REFGUID service, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (service != CLSID_DmxServiceObject || m_serviceObject == nullptr) return E_NOINTERFACE;
  return m_serviceObject->QueryInterface(riid, ppv);
}

HRESULT CBaseDmx::ProfferService(REFGUID, IUnknown*, DWORD*) { return E_NOTIMPL; }

HRESULT CBaseDmx::RevokeService(DWORD) { return E_NOTIMPL; }

HRESULT CBaseDmx::QueryServiceFor(IUnknown*, REFGUID, REFIID, void**) { return E_NOTIMPL; }

HRESULT CBaseDmx::GetServiceCount(ULONG*) { return E_NOTIMPL; }

HRESULT CBaseDmx::GetServiceForObject(IUnknown* object, VARIANT* service) {
  if (object == nullptr || service == nullptr) return E_POINTER;
  // The caller names the service it wants by its class identifier.
  GUID wanted = GUID_NULL;
  IPersist* persist = nullptr;
  if (SUCCEEDED(object->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist))) && persist != nullptr) {
    if (FAILED(persist->GetClassID(&wanted))) wanted = GUID_NULL;
    persist->Release();
  }
  if ((wanted != CLSID_DmxServiceObject && wanted != SID_DmxFilterService) || m_serviceObject == nullptr) {
    return E_NOINTERFACE;
  }
  VariantInit(service);
  service->vt = VT_UNKNOWN;
  return m_serviceObject->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&service->punkVal));
}
