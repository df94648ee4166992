#include "engine/output_pin.h"

#include "container/trak_box.h"
#include "diagnostics/trace.h"
#include "engine/base_dmx.h"
#include "engine/buffered_reader.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/mem_allocator.h"
#include "streams/media_subtypes.h"
#include "streams/media_type_match.h"
#include "streams/sample_converter.h"

#include <new>

namespace {

// Matrix entries are 16.16 fixed point with a sign.
LONG MatrixEntry(DWORD raw) { return static_cast<LONG>(raw); }

// The overlay mixer, the video renderers, the mixing renderers and the
// enhanced renderer: their buffers may live in video memory.
constexpr CLSID kVideoRendererClasses[] = {
    {0xCD8743A1, 0x3736, 0x11D0, {0x9E, 0x69, 0x00, 0xC0, 0x4F, 0xD7, 0xC1, 0x5B}},
    {0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}},
    {0xB87BEB7B, 0x8D29, 0x423F, {0xAE, 0x4D, 0x65, 0x82, 0xC1, 0x01, 0x75, 0xAC}},
    {0x6BC1CFFA, 0x8FC1, 0x4261, {0xAC, 0x22, 0xCF, 0xB4, 0xCC, 0x38, 0xDB, 0x50}},
    {0x51B4ABF3, 0x748F, 0x4E3B, {0xA2, 0x76, 0xC8, 0x28, 0x33, 0x0E, 0x92, 0x6A}},
    {0xFA10746C, 0x9B63, 0x4B6C, {0xBC, 0x49, 0xFC, 0x30, 0x0E, 0xA5, 0xF2, 0x56}},
    {0xE474E05A, 0xAB65, 0x4F6A, {0x82, 0x7C, 0x21, 0x8B, 0x1B, 0xAA, 0xF3, 0x1F}},
    {0x07167665, 0x5011, 0x11CF, {0xBF, 0x33, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}},
};

// The class of the filter that owns `pin`, or GUID_NULL.
CLSID OwnerClass(IPin* pin) {
  PIN_INFO info{};
  CLSID owner = GUID_NULL;
  if (pin == nullptr || FAILED(pin->QueryPinInfo(&info)) || info.pFilter == nullptr) return owner;
  if (FAILED(info.pFilter->GetClassID(&owner))) owner = GUID_NULL;
  info.pFilter->Release();
  return owner;
}

bool IsVideoRendererPin(IPin* pin) {
  const CLSID owner = OwnerClass(pin);
  for (const CLSID& renderer : kVideoRendererClasses) {
    if (owner == renderer) return true;
  }
  return false;
}

}  // namespace

CBaseDmxOutputPin::CBaseDmxOutputPin(CBaseDmx* filter, int streamIndex, HRESULT* phr, LPCWSTR name)
    : CPushPin("CBaseDmxOutputPin", filter, filter != nullptr ? filter->FilterLock() : nullptr, phr, name),
      m_dmx(filter),
      m_streamIndex(streamIndex) {}

CBaseDmxOutputPin::~CBaseDmxOutputPin() {
  // The worker runs this class's Process: it ends before the class does.
  StopWorker();
  delete m_outputQueue;
}

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
// reference to this pin while holding their connection lock (ConnectedTo),
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
  if (m_track == nullptr) return S_FALSE;
  for (int position = 0; position < 2; ++position) {
    CMediaType offered;
    if (m_track->GetTrackMediaType(position, &offered) != S_OK) break;
    if (MediaTypesMatch(*mt, offered)) return S_OK;
  }
  return S_FALSE;
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
  // The AVI multiplexer cannot carry our private pass-through subtypes.
  if (IsPrivateSubtype(m_mt.subtype) && OwnerClass(receivePin) == CLSID_AviDest) return VFW_E_INVALID_MEDIA_TYPE;
  HRESULT hr = CBaseOutputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  // A pin without a track has nothing to read until one is bound; Active
  // binds it then.
  if (m_track != nullptr) {
    hr = BindSource();
    if (FAILED(hr)) return hr;
  }
  return m_dmx->CompletePinConnect(m_streamIndex + 1, receivePin);
}

HRESULT CBaseDmxOutputPin::BindSource() {
  if (m_track == nullptr) return E_UNEXPECTED;
  ComPtr<IAsyncReader> reader = ComPtr<IAsyncReader>::Attach(m_track->GetReader());
  if (!reader) return E_UNEXPECTED;
  // Sample bytes bypass the parse cache: it would only be thrashed.
  ComPtr<IBufferedAsyncReader> buffered;
  ComPtr<IAsyncReader> source;
  if (SUCCEEDED(reader.As(IID_IBufferedAsyncReader, buffered)) && buffered &&
      SUCCEEDED(buffered->GetSourceReader(source.Put())) && source) {
    SetSource(source.Get());
  } else {
    SetSource(reader.Get());
  }
  return S_OK;
}

HRESULT CBaseDmxOutputPin::BreakConnect() {
  m_dmx->BreakPinConnect(m_streamIndex + 1);
  const HRESULT hr = CPushPin::BreakConnect();
  // The queue holds the downstream pin; it goes with the connection.
  delete m_outputQueue;
  m_outputQueue = nullptr;
  return hr;
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
  HRESULT hr = EnsureAllocator();
  if (FAILED(hr)) return hr;
  if (Source() == nullptr) {
    hr = BindSource();
    if (FAILED(hr)) return hr;
  }
  // A flushing seek stops the pin (and so drops its queue) and starts it
  // again without a Pause from Stopped: the queue comes back here.
  if (m_outputQueue == nullptr) CreateOutputQueue();
  return CPushPin::Active();
}

HRESULT CBaseDmxOutputPin::Inactive() {
  CPushPin::Inactive();
  delete m_outputQueue;
  m_outputQueue = nullptr;
  return S_OK;
}

HRESULT CBaseDmxOutputPin::Prepare() {
  delete m_outputQueue;
  m_outputQueue = nullptr;
  if (!IsConnected()) return S_OK;
  CreateOutputQueue();
  return PrepareConverter();
}

void CBaseDmxOutputPin::CreateOutputQueue() {
  if (!IsConnected() || m_bufferCount <= 1) return;
  // A queue lets a blocking downstream pin wait without stalling the reads.
  HRESULT hr = S_OK;
  auto* queue = new (std::nothrow)
      COutputQueue(m_Connected, &hr, TRUE, TRUE, 1, FALSE, 10, THREAD_PRIORITY_ABOVE_NORMAL, false);
  if (queue != nullptr && FAILED(hr)) {
    delete queue;
    queue = nullptr;
  }
  m_outputQueue = queue;
}

HRESULT CBaseDmxOutputPin::PrepareConverter() {
  if (m_track == nullptr) return S_OK;
  m_converter.reset();
  HRESULT hr = S_OK;
  m_converter = CreateSampleConverter(*m_track, m_mt, IsVideoRendererPin(m_Connected), &hr);
  if (FAILED(hr)) return SetErrorResult(hr);
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

HRESULT CBaseDmxOutputPin::SetAbortResult(HRESULT hr) { return m_errorLatch.SetAbort(hr); }

HRESULT CBaseDmxOutputPin::SetErrorResult(HRESULT hr) { return m_errorLatch.SetError(hr); }

HRESULT CBaseDmxOutputPin::OnError(HRESULT hrDefault) {
  const auto [abort, error] = m_errorLatch.Take();
  if (abort != S_OK) return abort;
  if (error == S_OK) return hrDefault;
  if (m_dmx == nullptr) return error;
  DMX_TRACE("\nCBaseOutputPin::OnError - calling NotifyGraphOnError");
  return m_dmx->NotifyGraphOfError(error);
}
