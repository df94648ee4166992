// CSampleSink: a renderer that records everything it receives: each sample's
// times (and whether they were set), flags, length and CRC-32 (optionally
// its bytes), the new segments, flushes and end-of-stream, and the order in
// which they came. The tool and the integration tests read the record.
//
// The record has its own lock, innermost: accessors may be called from any
// thread while the graph runs.
#pragma once

#include "platform/renderer_base.h"

#include <condition_variable>
#include <string>
#include <vector>

struct SinkSample {
  bool hasStart = false;
  bool hasStop = false;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  bool hasMediaTime = false;
  LONGLONG mediaStart = 0;
  LONGLONG mediaStop = 0;
  bool sync = false;
  bool preroll = false;
  bool discontinuity = false;
  LONG length = 0;
  uint32_t crc32 = 0;
  std::vector<BYTE> bytes;  // only when the sink keeps bytes
};

struct SinkSegment {
  REFERENCE_TIME start;
  REFERENCE_TIME stop;
  double rate;
};

// What arrived, in order: 'S' sample, 'N' new segment, 'B' begin flush,
// 'F' end flush, 'E' end-of-stream.
using SinkSequence = std::string;

class CSampleSink final : public CRendererBase {
 public:
  CSampleSink(IUnknown* outer, HRESULT* phr);

  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
  // A new sink with one reference, for callers that read its record.
  static HRESULT Create(CSampleSink** sink);

  // Accepted types: those matching `partial` (null: any). Before connection.
  void SetAcceptedType(const CMediaType* partial);
  void SetKeepBytes(bool keep);

  std::vector<SinkSample> Samples() const;
  std::vector<SinkSegment> Segments() const;
  SinkSequence Sequence() const;
  LONG BeginFlushCount() const;
  LONG EndFlushCount() const;
  LONG EndOfStreamCount() const;
  // The connection's media type; VFW_E_NOT_CONNECTED when there is none.
  HRESULT ConnectionType(CMediaType* mt);
  // Waits until `count` end-of-streams have arrived; FALSE on timeout.
  BOOL WaitForEndOfStream(DWORD timeoutMs, LONG count = 1) const;
  void ClearRecord();

 protected:
  HRESULT CheckRenderType(const CMediaType* mt) override;
  HRESULT OnSample(IMediaSample* sample) override;
  void OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  void OnBeginFlush() override;
  void OnEndFlush() override;
  void OnEndOfStream() override;

 private:
  mutable CCritSec m_recordLock;
  mutable std::condition_variable_any m_recordChanged;
  CMediaType m_accepted;
  bool m_acceptAny = true;
  bool m_keepBytes = false;
  std::vector<SinkSample> m_samples;
  std::vector<SinkSegment> m_segments;
  SinkSequence m_sequence;
  LONG m_beginFlushes = 0;
  LONG m_endFlushes = 0;
  LONG m_endOfStreams = 0;
};
