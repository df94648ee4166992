#include "platform/sample_sink.h"

#include "platform/crc32.h"
#include "platform/media_guids.h"

#include <chrono>
#include <mutex>
#include <new>

CSampleSink::CSampleSink(IUnknown* outer, HRESULT* phr) : CRendererBase("CSampleSink", outer, CLSID_SampleSink, phr) {}

CUnknown* CSampleSink::CreateInstance(IUnknown* outer, HRESULT* phr) {
  auto* sink = new (std::nothrow) CSampleSink(outer, phr);
  if (sink == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return sink;
}

HRESULT CSampleSink::Create(CSampleSink** sink) {
  if (sink == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  auto* created = new (std::nothrow) CSampleSink(nullptr, &hr);
  if (created == nullptr) return E_OUTOFMEMORY;
  created->NonDelegatingAddRef();
  if (FAILED(hr)) {
    created->NonDelegatingRelease();
    *sink = nullptr;
    return hr;
  }
  *sink = created;
  return S_OK;
}

void CSampleSink::SetAcceptedType(const CMediaType* partial) {
  CAutoLock hold(&m_filterLock);
  m_acceptAny = partial == nullptr;
  if (partial != nullptr) m_accepted = *partial;
}

void CSampleSink::SetKeepBytes(bool keep) {
  CAutoLock hold(&m_recordLock);
  m_keepBytes = keep;
}

HRESULT CSampleSink::CheckRenderType(const CMediaType* mt) {
  if (mt == nullptr) return E_POINTER;
  if (m_acceptAny) return S_OK;
  return mt->MatchesPartial(&m_accepted) ? S_OK : S_FALSE;
}

HRESULT CSampleSink::OnSample(IMediaSample* sample) {
  SinkSample record;
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timeResult = sample->GetTime(&start, &stop);
  if (SUCCEEDED(timeResult)) {
    record.hasStart = true;
    record.start = start;
    record.hasStop = timeResult == S_OK;
    if (record.hasStop) record.stop = stop;
  }
  LONGLONG mediaStart = 0, mediaStop = 0;
  if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
    record.hasMediaTime = true;
    record.mediaStart = mediaStart;
    record.mediaStop = mediaStop;
  }
  record.sync = sample->IsSyncPoint() == S_OK;
  record.preroll = sample->IsPreroll() == S_OK;
  record.discontinuity = sample->IsDiscontinuity() == S_OK;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const LONG length = sample->GetActualDataLength();
  // A length outside the buffer would read past it.
  record.length = (length < 0 || length > sample->GetSize()) ? 0 : length;
  if (data != nullptr) record.crc32 = Crc32(data, static_cast<size_t>(record.length));
  CAutoLock hold(&m_recordLock);
  if (m_keepBytes && data != nullptr) record.bytes.assign(data, data + record.length);
  m_samples.push_back(std::move(record));
  m_sequence.push_back('S');
  m_recordChanged.notify_all();
  return S_OK;
}

void CSampleSink::OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CAutoLock hold(&m_recordLock);
  m_segments.push_back(SinkSegment{start, stop, rate});
  m_sequence.push_back('N');
}

void CSampleSink::OnBeginFlush() {
  CAutoLock hold(&m_recordLock);
  ++m_beginFlushes;
  m_sequence.push_back('B');
}

void CSampleSink::OnEndFlush() {
  CAutoLock hold(&m_recordLock);
  ++m_endFlushes;
  m_sequence.push_back('F');
}

void CSampleSink::OnEndOfStream() {
  CAutoLock hold(&m_recordLock);
  ++m_endOfStreams;
  m_sequence.push_back('E');
  m_recordChanged.notify_all();
}

std::vector<SinkSample> CSampleSink::Samples() const {
  CAutoLock hold(&m_recordLock);
  return m_samples;
}

std::vector<SinkSegment> CSampleSink::Segments() const {
  CAutoLock hold(&m_recordLock);
  return m_segments;
}

SinkSequence CSampleSink::Sequence() const {
  CAutoLock hold(&m_recordLock);
  return m_sequence;
}

LONG CSampleSink::BeginFlushCount() const {
  CAutoLock hold(&m_recordLock);
  return m_beginFlushes;
}

LONG CSampleSink::EndFlushCount() const {
  CAutoLock hold(&m_recordLock);
  return m_endFlushes;
}

LONG CSampleSink::EndOfStreamCount() const {
  CAutoLock hold(&m_recordLock);
  return m_endOfStreams;
}

HRESULT CSampleSink::ConnectionType(CMediaType* mt) {
  if (mt == nullptr) return E_POINTER;
  return m_pin.ConnectionMediaType(mt);
}

BOOL CSampleSink::WaitForEndOfStream(DWORD timeoutMs, LONG count) const {
  std::unique_lock<CCritSec> hold(m_recordLock);
  const auto ready = [&] { return m_endOfStreams >= count; };
  if (timeoutMs == INFINITE) {
    m_recordChanged.wait(hold, ready);
    return TRUE;
  }
  return m_recordChanged.wait_for(hold, std::chrono::milliseconds(timeoutMs), ready) ? TRUE : FALSE;
}

void CSampleSink::ClearRecord() {
  CAutoLock hold(&m_recordLock);
  m_samples.clear();
  m_segments.clear();
  m_sequence.clear();
  m_beginFlushes = m_endFlushes = m_endOfStreams = 0;
}
