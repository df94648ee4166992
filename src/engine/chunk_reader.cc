#include "engine/chunk_reader.h"

#include "container/trak_box.h"

#include <cstring>
#include <limits>
#include <new>

namespace {

// Past this a request's or a window's end would not fit in 64 bits; no
// source has bytes there.
constexpr LONGLONG kLastWindowPosition = std::numeric_limits<LONGLONG>::max() -
                                         std::numeric_limits<LONG>::max() - CChunkReader::kChunkWindowBytes;

}  // namespace

CChunkReader::CChunkReader() = default;
CChunkReader::~CChunkReader() = default;

void CChunkReader::Start(IAsyncReader* source, trakBox* track) {
  m_source = source;
  m_track = track;
  m_sample = 0;
  m_sampleOffset = 0;
  m_forward = true;
  m_windowStart = m_windowEnd = 0;
}

void CChunkReader::SetSample(LONGLONG sample, LONGLONG offset) {
  // Reverse play walks key frames backward: what lies after a sample will
  // not be asked for, so reading ahead would only waste the copy.
  m_forward = sample >= m_sample;
  m_sample = sample;
  m_sampleOffset = offset;
}

HRESULT CChunkReader::Read(LONGLONG position, LONG length, BYTE* buffer) {
  if (m_source == nullptr) return E_UNEXPECTED;
  if (length <= 0 || position < 0 || position > kLastWindowPosition) {
    return m_source->SyncRead(position, length, buffer);
  }
  const LONGLONG end = position + length;
  if (position >= m_windowStart && end <= m_windowEnd) {
    std::memcpy(buffer, m_window.get() + (position - m_windowStart), static_cast<size_t>(length));
    return S_OK;
  }
  if (length < kDirectReadBytes && position >= m_sampleOffset) {
    HRESULT failure = S_OK;
    if (FillWindow(end, &failure)) {
      std::memcpy(buffer, m_window.get() + (position - m_windowStart), static_cast<size_t>(length));
      return S_OK;
    }
    if (FAILED(failure)) return failure;
  }
  return m_source->SyncRead(position, length, buffer);
}

bool CChunkReader::FillWindow(LONGLONG neededEnd, HRESULT* failure) {
  if (!m_forward || m_track == nullptr || m_sampleOffset < 0 || m_sampleOffset > kLastWindowPosition) return false;
  LONGLONG bytes = 0;
  if (m_track->GetReadAhead(m_sample, m_sampleOffset, kChunkWindowBytes, kChunkGapBytes, &bytes) != S_OK) return false;
  // A window holding no more than the request saves nothing.
  if (m_sampleOffset + bytes <= neededEnd) return false;
  if (!m_window) {
    m_window.reset(new (std::nothrow) BYTE[kChunkWindowBytes]);
    if (!m_window) return false;
  }
  m_windowStart = m_windowEnd = 0;
  const HRESULT hr = m_source->SyncRead(m_sampleOffset, static_cast<LONG>(bytes), m_window.get());
  if (hr != S_OK) {
    *failure = hr;
    return false;
  }
  m_windowStart = m_sampleOffset;
  m_windowEnd = m_sampleOffset + bytes;
  return true;
}
