#include "engine/buffered_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Past this a block's end would not fit in a 64-bit position; no source
// has bytes there.
constexpr LONGLONG kLastCachablePosition = std::numeric_limits<LONGLONG>::max() - 2 * LONGLONG{kBufferBlockSize};

}  // namespace

CBufferedAsyncReader::CBufferedAsyncReader(IAsyncReader* source) : m_source(source) {
  if (m_source != nullptr) m_source->AddRef();
}

CBufferedAsyncReader::~CBufferedAsyncReader() {
  if (m_source != nullptr) m_source->Release();
}

HRESULT CBufferedAsyncReader::Create(IAsyncReader* source, IBufferedAsyncReader** reader) {
  if (reader == nullptr) return E_POINTER;
  *reader = new (std::nothrow) CBufferedAsyncReader(source);
  return *reader == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CBufferedAsyncReader::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IAsyncReader || riid == IID_IBufferedAsyncReader) {
    *ppv = static_cast<IBufferedAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CBufferedAsyncReader::AddRef() { return static_cast<ULONG>(m_refCount.fetch_add(1) + 1); }

ULONG CBufferedAsyncReader::Release() {
  const LONG count = m_refCount.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT CBufferedAsyncReader::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                               IMemAllocator** actual) {
  if (m_source == nullptr) return E_UNEXPECTED;
  return m_source->RequestAllocator(preferred, props, actual);
}

HRESULT CBufferedAsyncReader::Request(IMediaSample* sample, DWORD_PTR user) {
  if (m_source == nullptr) return E_UNEXPECTED;
  return m_source->Request(sample, user);
}

HRESULT CBufferedAsyncReader::WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) {
  if (m_source == nullptr) return E_UNEXPECTED;
  return m_source->WaitForNext(timeoutMs, sample, user);
}

HRESULT CBufferedAsyncReader::SyncReadAligned(IMediaSample* sample) {
  if (m_source == nullptr) return E_UNEXPECTED;
  return m_source->SyncReadAligned(sample);
}

HRESULT CBufferedAsyncReader::Length(LONGLONG* total, LONGLONG* available) {
  if (m_source == nullptr) return E_UNEXPECTED;
  return m_source->Length(total, available);
}

HRESULT CBufferedAsyncReader::BeginFlush() {
  if (m_source == nullptr) return E_UNEXPECTED;
  return m_source->BeginFlush();
}

HRESULT CBufferedAsyncReader::EndFlush() {
  if (m_source == nullptr) return E_UNEXPECTED;
  return m_source->EndFlush();
}

HRESULT CBufferedAsyncReader::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (m_source == nullptr) return E_UNEXPECTED;
  if (length > 0 && buffer == nullptr) return E_POINTER;
  // Offsets come from the file; one that no byte can sit at is refused
  // here rather than overflowing the block arithmetic.
  if (position < 0 || (length > 0 && position > kLastCachablePosition - length)) return E_INVALIDARG;
  CAutoLock hold(&m_lock);
  while (length > 0) {
    if (position >= m_cacheStart && position < m_cacheEnd) {
      const LONG n = static_cast<LONG>(std::min<LONGLONG>(length, m_cacheEnd - position));
      std::memcpy(buffer, m_block + (position - m_cacheStart), static_cast<size_t>(n));
      position += n;
      buffer += n;
      length -= n;
      continue;
    }
    const HRESULT hr = FillBlockFor(position, length);
    if (hr != S_OK) return hr;
  }
  return S_OK;
}

HRESULT CBufferedAsyncReader::FillBlockFor(LONGLONG position, LONG wanted) {
  m_cacheStart = m_cacheEnd = 0;
  const LONGLONG blockStart = position - position % kBufferBlockSize;
  HRESULT hr = m_source->SyncRead(blockStart, kBufferBlockSize, m_block);
  if (hr == S_OK) {
    m_cacheStart = blockStart;
    m_cacheEnd = blockStart + kBufferBlockSize;
    return S_OK;
  }
  // A block cut short by the end of the file: the bytes this call needs may
  // still all be there.
  const LONG needed = static_cast<LONG>(std::min<LONGLONG>(kBufferBlockSize, position - blockStart + wanted));
  hr = m_source->SyncRead(blockStart, needed, m_block);
  if (hr != S_OK) return hr;
  m_cacheStart = blockStart;
  m_cacheEnd = blockStart + needed;
  return S_OK;
}

HRESULT CBufferedAsyncReader::GetSourceReader(IAsyncReader** source) {
  if (source == nullptr) return E_POINTER;
  *source = m_source;
  if (m_source == nullptr) return E_NOINTERFACE;
  m_source->AddRef();
  return S_OK;
}

HRESULT CBufferedAsyncReader::Clone(IBufferedAsyncReader** reader) {
  if (reader == nullptr) return E_POINTER;
  return Create(m_source, reader);
}
