// CStreamSink: the renderer the tool puts behind each output pin. It never
// blocks and keeps only what the command needs: counters and the segments
// for `play`, one row per sample with its CRC-32 handed on as it arrives
// for `dump`, and the bytes written to a file for `extract`.
//
// Threads: the pin's streaming thread calls in under the renderer's receive
// lock; the accessors take the same lock and may be called at any time.
#pragma once

#include "platform/renderer_base.h"

#include <cstdio>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

struct StreamSegment {
  REFERENCE_TIME start;
  REFERENCE_TIME stop;
  double rate;
};

// One delivered sample as `dump` prints it; times absent when not stamped.
struct StreamSample {
  std::optional<REFERENCE_TIME> start;
  std::optional<REFERENCE_TIME> stop;
  std::optional<LONGLONG> mediaStart;
  std::optional<LONGLONG> mediaStop;
  bool sync = false;
  bool preroll = false;
  bool discontinuity = false;
  LONG length = 0;
  uint32_t crc32 = 0;
};

static_assert(std::is_trivially_copyable_v<StreamSample>, "rows are spooled as bytes");

// Takes `dump`'s rows one by one, on the pin's streaming thread.
class SampleRowWriter {
 public:
  virtual ~SampleRowWriter() = default;
  virtual void Write(const StreamSample& row) = 0;
};

struct StreamSummary {
  ULONGLONG samples = 0;
  ULONGLONG bytes = 0;
  ULONGLONG syncSamples = 0;
  ULONGLONG preroll = 0;
  ULONGLONG discontinuities = 0;
  std::optional<REFERENCE_TIME> firstStart;
  std::optional<REFERENCE_TIME> lastStop;
  std::vector<StreamSegment> segments;
  bool endOfStream = false;
};

class CStreamSink final : public CRendererBase {
 public:
  enum class Mode { kCount, kRecord, kWrite };

  // A new sink with one reference. kWrite appends every sample's bytes to
  // `outputPath` (created or truncated now).
  static HRESULT Create(Mode mode, const std::string& outputPath, CStreamSink** sink);

  // kRecord: where each row goes; not owned, set before the graph runs and
  // outliving it. Without one the rows are not made.
  void SetRowWriter(SampleRowWriter* rows) { m_rows = rows; }

  StreamSummary Summary() const;
  // The first write failure, S_OK while every write succeeded.
  HRESULT WriteResult() const;
  // Closes the output file (flushing it); its result joins WriteResult.
  void CloseOutput();
  // From now on only `type` is accepted (before connection).
  void AcceptOnly(const CMediaType& type);

 protected:
  HRESULT CheckRenderType(const CMediaType* mt) override;
  HRESULT OnSample(IMediaSample* sample) override;
  void OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  void OnEndOfStream() override;

 private:
  CStreamSink(Mode mode, HRESULT* phr);
  ~CStreamSink() override;

  const Mode m_mode;
  // Under m_receiveLock.
  StreamSummary m_summary;
  SampleRowWriter* m_rows = nullptr;
  FILE* m_output = nullptr;
  HRESULT m_writeResult = S_OK;
  // Set before connection, read by the connection.
  std::optional<CMediaType> m_accepted;
};
