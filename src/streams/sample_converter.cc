#include "streams/sample_converter.h"

namespace {

// Y0 Cb Y1 Cr: the chroma bytes of each group are the odd ones.
constexpr LONG kGroupBytes = 4;
constexpr BYTE kChromaBias = 0x80;

}  // namespace

HRESULT CBaseSampleConverter::SetMediaTypes(const CMediaType* input, const CMediaType* output) {
  if (input != nullptr) m_inputType = *input;
  if (output != nullptr) m_outputType = *output;
  return S_OK;
}

HRESULT CBaseSampleConverter::Convert(IAsyncReader*, LONGLONG, BYTE*, LONG) { return E_NOTIMPL; }

HRESULT CYUY2SampleConverter::Convert(IAsyncReader* source, LONGLONG position, BYTE* destination, LONG length) {
  if (source == nullptr || (destination == nullptr && length > 0)) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  const LONG groups = length / kGroupBytes;
  if (!m_staged) {
    const HRESULT hr = source->SyncRead(position, length, destination);
    if (FAILED(hr)) return hr;
    for (LONG g = 0; g < groups; ++g) {
      BYTE* group = destination + g * kGroupBytes;
      group[1] = static_cast<BYTE>(group[1] - kChromaBias);
      group[3] = static_cast<BYTE>(group[3] - kChromaBias);
    }
    return S_OK;
  }
  if (m_staging.Capacity() < length && !m_staging.Reserve(length)) return E_OUTOFMEMORY;
  const BYTE* staged = m_staging.Data();
  const HRESULT hr = source->SyncRead(position, length, m_staging.Data());
  if (FAILED(hr)) return hr;
  for (LONG g = 0; g < groups; ++g) {
    const BYTE* in = staged + g * kGroupBytes;
    BYTE* out = destination + g * kGroupBytes;
    out[0] = in[0];
    out[1] = static_cast<BYTE>(in[1] - kChromaBias);
    out[2] = in[2];
    out[3] = static_cast<BYTE>(in[3] - kChromaBias);
  }
  return S_OK;
}
