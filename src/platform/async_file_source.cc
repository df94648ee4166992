#include "platform/async_file_source.h"

#include "platform/code_page.h"
#include "platform/file_byte_source.h"
#include "platform/file_type_detection.h"
#include "platform/media_guids.h"
#include "platform/mem_allocator.h"

#include <new>

CAsyncOutputPin::CAsyncOutputPin(CAsyncFileSource* source, CCritSec* lock, HRESULT* phr)
    : CBasePin("CAsyncOutputPin", source, lock, phr, L"Output", PINDIR_OUTPUT), m_source(source) {}

HRESULT CAsyncOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IAsyncReader) {
    CAutoLock hold(m_pLock);
    m_queriedForAsyncReader = true;
    return GetInterface(static_cast<IAsyncReader*>(this), ppv);
  }
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CAsyncOutputPin::CheckMediaType(const CMediaType* mt) {
  CAutoLock hold(m_pLock);
  const CMediaType& ours = m_source->m_type;
  // A null subtype of ours accepts any subtype of the major type.
  if (ours.majortype == mt->majortype && (ours.subtype == GUID_NULL || ours.subtype == mt->subtype)) return S_OK;
  return S_FALSE;
}

HRESULT CAsyncOutputPin::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  CAutoLock hold(m_pLock);
  return mt->Set(m_source->m_type);
}

HRESULT CAsyncOutputPin::CompleteConnect(IPin* receivePin) {
  if (!m_queriedForAsyncReader) return VFW_E_NO_TRANSPORT;
  return CBasePin::CompleteConnect(receivePin);
}

HRESULT CAsyncOutputPin::BreakConnect() {
  m_queriedForAsyncReader = false;
  return CBasePin::BreakConnect();
}

HRESULT CAsyncOutputPin::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                          IMemAllocator** actual) {
  if (props == nullptr || actual == nullptr) return E_POINTER;
  *actual = nullptr;
  // File reads need no alignment here.
  if (props->cbAlign == 0) props->cbAlign = 1;
  ALLOCATOR_PROPERTIES got{};
  if (preferred != nullptr && SUCCEEDED(preferred->SetProperties(props, &got))) {
    preferred->AddRef();
    *actual = preferred;
    return S_OK;
  }
  ComPtr<IMemAllocator> allocator;
  HRESULT hr = CreateMemoryAllocator(allocator.Put());
  if (FAILED(hr)) return hr;
  hr = allocator->SetProperties(props, &got);
  if (FAILED(hr)) return hr;
  *actual = allocator.Detach();
  return S_OK;
}

HRESULT CAsyncOutputPin::RangeOf(IMediaSample* sample, LONGLONG* position, LONG* length, BYTE** buffer) {
  if (sample == nullptr) return E_POINTER;
  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = sample->GetTime(&start, &stop);
  if (FAILED(hr)) return hr;
  if (start < 0 || stop < start) return E_INVALIDARG;
  LONGLONG total = 0;
  hr = m_source->m_io->Length(&total, nullptr);
  if (FAILED(hr)) return hr;
  *position = start / UNITS;
  LONGLONG end = stop / UNITS;
  if (*position > total) return E_INVALIDARG;
  if (end > total) {
    end = total;
    REFERENCE_TIME cut = total * UNITS;
    sample->SetTime(&start, &cut);
  }
  if (end - *position > sample->GetSize()) return E_INVALIDARG;
  *length = static_cast<LONG>(end - *position);
  return sample->GetPointer(buffer);
}

HRESULT CAsyncOutputPin::Request(IMediaSample* sample, DWORD_PTR user) {
  if (!m_source->m_io) return E_UNEXPECTED;
  LONGLONG position = 0;
  LONG length = 0;
  BYTE* buffer = nullptr;
  const HRESULT hr = RangeOf(sample, &position, &length, &buffer);
  if (FAILED(hr)) return hr;
  return m_source->m_io->Request(position, length, buffer, sample, user);
}

HRESULT CAsyncOutputPin::WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) {
  if (sample == nullptr || user == nullptr) return E_POINTER;
  *sample = nullptr;
  if (!m_source->m_io) return E_UNEXPECTED;
  void* context = nullptr;
  LONG actual = 0;
  const HRESULT hr = m_source->m_io->WaitForNext(timeoutMs, &context, user, &actual);
  // A cancelled request still hands its sample back, so the caller can release it.
  *sample = static_cast<IMediaSample*>(context);
  if (SUCCEEDED(hr) && *sample != nullptr) (*sample)->SetActualDataLength(actual);
  return hr;
}

HRESULT CAsyncOutputPin::SyncReadAligned(IMediaSample* sample) {
  if (!m_source->m_io) return E_UNEXPECTED;
  LONGLONG position = 0;
  LONG length = 0;
  BYTE* buffer = nullptr;
  HRESULT hr = RangeOf(sample, &position, &length, &buffer);
  if (FAILED(hr)) return hr;
  LONG actual = 0;
  hr = m_source->m_io->SyncRead(position, length, buffer, &actual);
  sample->SetActualDataLength(actual);
  return hr;
}

HRESULT CAsyncOutputPin::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (!m_source->m_io) return E_UNEXPECTED;
  if (buffer == nullptr && length > 0) return E_POINTER;
  LONG actual = 0;
  return m_source->m_io->SyncRead(position, length, buffer, &actual);
}

HRESULT CAsyncOutputPin::Length(LONGLONG* total, LONGLONG* available) {
  if (!m_source->m_io) return E_UNEXPECTED;
  return m_source->m_io->Length(total, available);
}

HRESULT CAsyncOutputPin::BeginFlush() {
  if (!m_source->m_io) return E_UNEXPECTED;
  return m_source->m_io->BeginFlush();
}

HRESULT CAsyncOutputPin::EndFlush() {
  if (!m_source->m_io) return E_UNEXPECTED;
  return m_source->m_io->EndFlush();
}

CAsyncFileSource::CAsyncFileSource(IUnknown* outer, HRESULT* phr)
    : CAsyncFileSource("CAsyncFileSource", outer, CLSID_AsyncReader, phr) {}

CAsyncFileSource::CAsyncFileSource(const char* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(objectName, outer, &m_lock, clsid, phr), m_pin(this, &m_lock, phr) {}

HRESULT CAsyncFileSource::OpenByteSource(const std::wstring& fileName, IAsyncReader** out) {
  std::string path;
  AppendWideAsCodePage(CP_UTF8, fileName.data(), fileName.size(), &path);
  return CFileByteSource::Open(path, out);
}

CAsyncFileSource::~CAsyncFileSource() = default;

CUnknown* CAsyncFileSource::CreateInstance(IUnknown* outer, HRESULT* phr) {
  auto* source = new (std::nothrow) CAsyncFileSource(outer, phr);
  if (source == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return source;
}

HRESULT CAsyncFileSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

GUID CAsyncFileSource::DetectSubtype(const std::wstring& fileName, IAsyncReader* reader) {
  DetectedFileType type;
  return DetectFileType(fileName, reader, &type) ? type.subtype : GUID_NULL;
}

HRESULT CAsyncFileSource::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) {
  if (fileName == nullptr) return E_POINTER;
  CAutoLock hold(&m_lock);
  if (m_io) return E_UNEXPECTED;
  std::wstring name(fileName);
  IAsyncReader* reader = nullptr;
  HRESULT hr = OpenByteSource(name, &reader);
  if (FAILED(hr)) return hr;
  const ComPtr<IAsyncReader> file = ComPtr<IAsyncReader>::Attach(reader);
  CMediaType type;
  if (mt != nullptr) {
    hr = type.Set(*mt);
    if (FAILED(hr)) return hr;
  } else {
    type.SetType(&MEDIATYPE_Stream);
    const GUID subtype = DetectSubtype(name, file.Get());
    type.SetSubtype(&subtype);
  }
  auto io = std::unique_ptr<CAsyncIo>(new (std::nothrow) CAsyncIo(file.Get()));
  if (!io) return E_OUTOFMEMORY;
  m_type = type;
  m_fileName = std::move(name);
  m_io = std::move(io);
  IncrementPinVersion();
  return S_OK;
}

HRESULT CAsyncFileSource::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
  if (fileName == nullptr) return E_POINTER;
  CAutoLock hold(&m_lock);
  *fileName = nullptr;
  if (m_io) {
    *fileName = CoTaskMemDuplicateString(m_fileName.c_str());
    if (*fileName == nullptr) return E_OUTOFMEMORY;
  }
  if (mt != nullptr) return CopyMediaType(mt, &m_type);
  return S_OK;
}

int CAsyncFileSource::GetPinCount() {
  CAutoLock hold(&m_lock);
  return m_io ? 1 : 0;
}

CBasePin* CAsyncFileSource::GetPin(int n) {
  CAutoLock hold(&m_lock);
  return (n == 0 && m_io) ? &m_pin : nullptr;
}
