#include "stream_sink.h"

#include "platform/crc32.h"
#include "platform/win32_error.h"

#include <cerrno>
#include <new>

namespace {

// Not a registered class: the tool makes its sinks itself.
constexpr CLSID CLSID_ToolStreamSink = {0x7F2E4C19, 0x5B6A, 0x4D03, {0x8E, 0x91, 0x2C, 0x44, 0xB0, 0x17, 0x6A, 0xD5}};

}  // namespace

CStreamSink::CStreamSink(Mode mode, HRESULT* phr)
    : CRendererBase("CStreamSink", nullptr, CLSID_ToolStreamSink, phr), m_mode(mode) {}

CStreamSink::~CStreamSink() { CloseOutput(); }

HRESULT CStreamSink::Create(Mode mode, const std::string& outputPath, CStreamSink** sink) {
  if (sink == nullptr) return E_POINTER;
  *sink = nullptr;
  HRESULT hr = S_OK;
  auto* created = new (std::nothrow) CStreamSink(mode, &hr);
  if (created == nullptr) return E_OUTOFMEMORY;
  created->NonDelegatingAddRef();
  if (SUCCEEDED(hr) && mode == Mode::kWrite) {
    created->m_output = std::fopen(outputPath.c_str(), "wb");
    if (created->m_output == nullptr) hr = HResultFromErrno(errno);
  }
  if (FAILED(hr)) {
    created->NonDelegatingRelease();
    return hr;
  }
  *sink = created;
  return S_OK;
}

HRESULT CStreamSink::OnSample(IMediaSample* sample) {
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timeResult = sample->GetTime(&start, &stop);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  LONG length = sample->GetActualDataLength();
  // A length outside the buffer would read past it.
  if (length < 0 || length > sample->GetSize() || data == nullptr) length = 0;

  StreamSummary& summary = m_summary;
  ++summary.samples;
  summary.bytes += static_cast<ULONGLONG>(length);
  const bool sync = sample->IsSyncPoint() == S_OK;
  const bool preroll = sample->IsPreroll() == S_OK;
  const bool discontinuity = sample->IsDiscontinuity() == S_OK;
  if (sync) ++summary.syncSamples;
  if (preroll) ++summary.preroll;
  if (discontinuity) ++summary.discontinuities;
  if (SUCCEEDED(timeResult)) {
    if (!summary.firstStart) summary.firstStart = start;
    summary.lastStop = timeResult == S_OK ? stop : start;
  }

  if (m_mode == Mode::kRecord && m_rows != nullptr) {
    StreamSample row;
    if (SUCCEEDED(timeResult)) row.start = start;
    if (timeResult == S_OK) row.stop = stop;
    LONGLONG mediaStart = 0, mediaStop = 0;
    if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
      row.mediaStart = mediaStart;
      row.mediaStop = mediaStop;
    }
    row.sync = sync;
    row.preroll = preroll;
    row.discontinuity = discontinuity;
    row.length = length;
    row.crc32 = Crc32(data, static_cast<size_t>(length));
    m_rows->Write(row);
  } else if (m_mode == Mode::kWrite && m_output != nullptr && length > 0 && m_writeResult == S_OK) {
    if (std::fwrite(data, 1, static_cast<size_t>(length), m_output) != static_cast<size_t>(length)) {
      m_writeResult = HResultFromErrno(errno != 0 ? errno : EIO);
    }
  }
  return S_OK;
}

void CStreamSink::OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  m_summary.segments.push_back({start, stop, rate});
}

void CStreamSink::OnEndOfStream() { m_summary.endOfStream = true; }

StreamSummary CStreamSink::Summary() const {
  CAutoLock hold(const_cast<CCritSec*>(&m_receiveLock));
  return m_summary;
}

HRESULT CStreamSink::WriteResult() const {
  CAutoLock hold(const_cast<CCritSec*>(&m_receiveLock));
  return m_writeResult;
}

void CStreamSink::CloseOutput() {
  CAutoLock hold(&m_receiveLock);
  if (m_output == nullptr) return;
  if (std::fclose(m_output) != 0 && m_writeResult == S_OK) m_writeResult = HResultFromErrno(errno != 0 ? errno : EIO);
  m_output = nullptr;
}

void CStreamSink::AcceptOnly(const CMediaType& type) { m_accepted = type; }

HRESULT CStreamSink::CheckRenderType(const CMediaType* mt) {
  if (mt == nullptr) return E_POINTER;
  return !m_accepted || mt->MatchesPartial(&*m_accepted) ? S_OK : S_FALSE;
}
