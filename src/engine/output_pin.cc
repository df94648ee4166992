#include "engine/output_pin.h"

#include "container/trak_box.h"
#include "diagnostics/trace.h"
#include "engine/base_dmx.h"
#include "platform/media_guids.h"
#include "platform/mem_allocator.h"
#include "streams/media_subtypes.h"

#include <new>

namespace {

// The AVI multiplexer cannot carry our private pass-through subtypes.
bool IsAviMultiplexerPin(IPin* pin) {
  PIN_INFO info{};
  if (pin == nullptr || FAILED(pin->QueryPinInfo(&info)) || info.pFilter == nullptr) return false;
  CLSID filterClass = GUID_NULL;
  const bool isAviMux = SUCCEEDED(info.pFilter->GetClassID(&filterClass)) && filterClass == CLSID_AviDest;
  info.pFilter->Release();
  return isAviMux;
}

// Matrix entries are 16.16 fixed point with a sign.
LONG MatrixEntry(DWORD raw) { return static_cast<LONG>(raw); }

}  // namespace

CBaseDmxOutputPin::CBaseDmxOutputPin(CBaseDmx* filter, int streamIndex, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin("CBaseDmxOutputPin", filter, filter != nullptr ? filter->FilterLock() : nullptr, phr, name),
      CFilterPassThru(filter, phr),
      m_dmx(filter),
      m_streamIndex(streamIndex) {}

CBaseDmxOutputPin::~CBaseDmxOutputPin() { delete m_outputQueue; }

HRESULT CBaseDmxOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IMediaSeeking) {
    *ppv = nullptr;
    if (m_dmx != nullptr) SetIsMainSeekingPin(m_dmx->SettleMainSeekingPin(this) == this ? TRUE : FALSE);
    return QuerySeeking(ppv);
  }
  if (riid == IID_IVTVideoRotation) return GetInterface(static_cast<IVTVideoRotation*>(this), ppv);
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

// The count is atomic rather than kept under the filter lock: peers add a
// reference to this pin while holding their own pin lock (ConnectedTo),
// and the filter lock is held while calling into peers, so taking it here
// would order the two locks both ways.
ULONG CBaseDmxOutputPin::NonDelegatingAddRef() {
  const LONG count = m_refCount.fetch_add(1) + 1;
  m_dmx->AddRef();
  return static_cast<ULONG>(count);
}

ULONG CBaseDmxOutputPin::NonDelegatingRelease() {
  CBaseDmx* const filter = m_dmx;
  const LONG count = m_refCount.fetch_sub(1) - 1;
  if (count == 0) delete this;
  // After the pin: releasing the filter may destroy it.
  filter->Release();
  return static_cast<ULONG>(count);
}

void CBaseDmxOutputPin::ReleaseFromFilter() {
  if (m_refCount.fetch_sub(1) == 1) delete this;
}

HRESULT CBaseDmxOutputPin::CheckMediaType(const CMediaType* mt) {
  if (mt == nullptr) return E_POINTER;
  return m_dmx->CheckPinMediaType(m_streamIndex + 1, mt);
}

HRESULT CBaseDmxOutputPin::SetMediaType(const CMediaType* mt) {
  const HRESULT hr = CBaseOutputPin::SetMediaType(mt);
  if (FAILED(hr)) return hr;
  return m_dmx->SetPinMediaType(m_streamIndex + 1, mt);
}

HRESULT CBaseDmxOutputPin::CheckConnect(IPin* pin) {
  const HRESULT hr = m_dmx->CheckPinConnect(m_streamIndex + 1, pin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CBaseDmxOutputPin::CompleteConnect(IPin* receivePin) {
  if (IsPrivateSubtype(m_mt.subtype) && IsAviMultiplexerPin(receivePin)) return VFW_E_INVALID_MEDIA_TYPE;
  const HRESULT hr = CBaseOutputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  return m_dmx->CompletePinConnect(m_streamIndex + 1, receivePin);
}

HRESULT CBaseDmxOutputPin::BreakConnect() {
  m_dmx->BreakPinConnect(m_streamIndex + 1);
  // The queue holds the downstream pin; it goes with the connection.
  delete m_outputQueue;
  m_outputQueue = nullptr;
  return CBaseOutputPin::BreakConnect();
}

HRESULT CBaseDmxOutputPin::GetMediaType(int position, CMediaType* mt) {
  if (mt == nullptr) return E_POINTER;
  if (m_track == nullptr) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  return m_track->GetTrackMediaType(position, mt);
}

HRESULT CBaseDmxOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  return m_dmx->DecidePinBufferSize(m_streamIndex + 1, allocator, props);
}

HRESULT CBaseDmxOutputPin::EnsureAllocator() {
  if (m_pAllocator != nullptr) return S_OK;
  IMemAllocator* allocator = nullptr;
  HRESULT hr = CreateMemoryAllocator(&allocator);
  if (FAILED(hr)) return hr;
  ALLOCATOR_PROPERTIES request = {1, 4096, 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  hr = allocator->SetProperties(&request, &actual);
  if (FAILED(hr)) {
    allocator->Release();
    return hr;
  }
  m_pAllocator = allocator;
  return S_OK;
}

HRESULT CBaseDmxOutputPin::Active() {
  if (!IsConnected()) return S_OK;
  const HRESULT hr = EnsureAllocator();
  if (FAILED(hr)) return hr;
  // Streaming starts with the commit; the worker that runs the delivery
  // loop is started from here once the pin has one.
  return m_pAllocator->Commit();
}

HRESULT CBaseDmxOutputPin::Inactive() {
  m_bRunTimeError = FALSE;
  // Decommitting wakes a streaming thread waiting for a buffer.
  if (m_pAllocator != nullptr) m_pAllocator->Decommit();
  delete m_outputQueue;
  m_outputQueue = nullptr;
  return S_OK;
}

HRESULT CBaseDmxOutputPin::Prepare() {
  delete m_outputQueue;
  m_outputQueue = nullptr;
  if (!IsConnected() || m_bufferCount <= 1) return S_OK;
  // A queue lets a blocking downstream pin wait without stalling the reads.
  HRESULT hr = S_OK;
  auto* queue = new (std::nothrow)
      COutputQueue(m_Connected, &hr, TRUE, TRUE, 1, FALSE, 10, THREAD_PRIORITY_ABOVE_NORMAL, false);
  if (queue != nullptr && FAILED(hr)) {
    delete queue;
    queue = nullptr;
  }
  m_outputQueue = queue;
  return S_OK;
}

HRESULT CBaseDmxOutputPin::Deliver(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  if (!IsConnected()) {
    sample->Release();
    return S_OK;
  }
  if (m_outputQueue != nullptr) return m_outputQueue->Receive(sample);
  const HRESULT hr = CBaseOutputPin::Deliver(sample);
  sample->Release();
  return hr;
}

HRESULT CBaseDmxOutputPin::DeliverEndOfStream() {
  if (!IsConnected()) return S_OK;
  if (m_outputQueue != nullptr) {
    m_outputQueue->EOS();
    return S_OK;
  }
  return CBaseOutputPin::DeliverEndOfStream();
}

HRESULT CBaseDmxOutputPin::DeliverBeginFlush() {
  if (!IsConnected()) return S_OK;
  if (m_outputQueue != nullptr) {
    m_outputQueue->BeginFlush();
    return S_OK;
  }
  return CBaseOutputPin::DeliverBeginFlush();
}

HRESULT CBaseDmxOutputPin::DeliverEndFlush() {
  if (!IsConnected()) return S_OK;
  if (m_outputQueue != nullptr) {
    m_outputQueue->EndFlush();
    return S_OK;
  }
  return CBaseOutputPin::DeliverEndFlush();
}

HRESULT CBaseDmxOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (!IsConnected()) return S_OK;
  if (m_outputQueue != nullptr) {
    m_outputQueue->NewSegment(start, stop, rate);
    return S_OK;
  }
  return CBaseOutputPin::DeliverNewSegment(start, stop, rate);
}

HRESULT CBaseDmxOutputPin::Notify(IBaseFilter*, Quality) { return S_OK; }

HRESULT CBaseDmxOutputPin::GetRotation(LONG* degrees) {
  if (degrees == nullptr) return E_POINTER;
  if (m_track == nullptr) return E_NOTIMPL;
  const LONG b = MatrixEntry(m_track->matrix[1]);
  const LONG d = MatrixEntry(m_track->matrix[4]);
  if (b > 0 && d == 0) {
    *degrees = 90;
  } else if (b < 0 && d == 0) {
    *degrees = 270;
  } else if (b == 0 && d < 0) {
    *degrees = 180;
  } else {
    *degrees = 0;
  }
  return S_OK;
}

HRESULT CBaseDmxOutputPin::SetAbortResult(HRESULT hr) {
  m_abortResult = hr;
  return hr != S_OK ? kAbortResultMarker : S_OK;
}

HRESULT CBaseDmxOutputPin::SetErrorResult(HRESULT hr) {
  m_errorResult = hr;
  return hr != S_OK ? kErrorResultMarker : S_OK;
}

HRESULT CBaseDmxOutputPin::OnError(HRESULT hrDefault) {
  const HRESULT abort = m_abortResult.exchange(S_OK);
  const HRESULT error = m_errorResult.exchange(S_OK);
  if (abort != S_OK) return abort;
  if (error == S_OK) return hrDefault;
  if (m_dmx == nullptr) return error;
  DMX_TRACE("\nCBaseOutputPin::OnError - calling NotifyGraphOnError");
  return m_dmx->NotifyGraphOfError(error);
}
