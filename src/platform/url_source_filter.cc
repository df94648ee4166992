#include "platform/url_source_filter.h"

#include "platform/url_location.h"

#include <new>

CUnknown* CUrlSourceFilter::CreateInstance(IUnknown* outer, HRESULT* phr) {
  auto* source = new (std::nothrow) CUrlSourceFilter(outer, phr);
  if (source == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return source;
}

CUrlSourceFilter::CUrlSourceFilter(IUnknown* outer, HRESULT* phr)
    : CAsyncFileSource("CUrlSourceFilter", outer, CLSID_URLReader, phr) {}

HRESULT CUrlSourceFilter::OpenByteSource(const std::wstring& fileName, IAsyncReader** out) {
  return OpenLocation(fileName, out);
}
