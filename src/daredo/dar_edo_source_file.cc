#include "daredo/dar_edo_source_file.h"

#include "engine/buffered_reader.h"
#include "platform/url_location.h"
#include "streams/sample_entry_factory.h"

#include <new>

CDarEdoSourceFile::CDarEdoSourceFile(LPCWSTR location, HRESULT* phr) : CSyncByteSource("CDarEdoSourceFile") {
  const std::wstring text = location != nullptr ? location : L"";
  m_isUrl = IsUrlLocation(text);
  const HRESULT hr = OpenLocation(text, m_reader.Put());
  if (FAILED(hr) && phr != nullptr) *phr = hr;
}

HRESULT CDarEdoSourceFile::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  CAutoLock hold(&m_lock);
  if (!m_reader) return E_NOINTERFACE;
  return m_reader->SyncRead(position, length, buffer);
}

HRESULT CDarEdoSourceFile::Length(LONGLONG* total, LONGLONG* available) {
  CAutoLock hold(&m_lock);
  if (!m_reader) return E_NOINTERFACE;
  return m_reader->Length(total, available);
}

HRESULT CDarEdoSourceFile::BeginFlush() { return m_isUrl && m_reader ? m_reader->BeginFlush() : S_OK; }

HRESULT CDarEdoSourceFile::EndFlush() { return m_isUrl && m_reader ? m_reader->EndFlush() : S_OK; }

HRESULT CreateManifestSource(const std::wstring& location, DWORD trackId, std::unique_ptr<CDarEdoSource>* out) {
  if (out == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  auto* file = new (std::nothrow) CDarEdoSourceFile(location.c_str(), &hr);
  if (file == nullptr) return E_OUTOFMEMORY;
  // The object is counted from here, so a failed open deletes it too.
  ComPtr<IAsyncReader> reader(static_cast<IAsyncReader*>(file));
  if (FAILED(hr)) return hr;
  IBufferedAsyncReader* buffered = nullptr;
  hr = CBufferedAsyncReader::Create(reader.Get(), &buffered);
  if (FAILED(hr)) return hr;
  if (buffered == nullptr) return E_OUTOFMEMORY;
  const ComPtr<IBufferedAsyncReader> held = ComPtr<IBufferedAsyncReader>::Attach(buffered);
  *out = std::make_unique<CDarEdoSource>(held.Get(), trackId, CreateSampleEntry);
  return S_OK;
}
