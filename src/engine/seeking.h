// CSeeking: the filter's seek state (time format, segment start and stop,
// rate, the position delivery has reached) and the whole IMediaSeeking on
// it. A demultiplexer filter inherits it and exposes it only under
// IID_IDmxFilterSeeking: the graph reaches it through the output pins'
// CFilterPassThru. The derived filter supplies the IUnknown methods, the
// duration and current position, the frame/time conversions and
// UpdateCurrentPosition, which applies a changed segment to the pins.
//
// Threads: the application thread sets positions, rate and format without a
// lock; UpdateCurrentPosition takes the filter lock. The output pins' worker
// threads read the segment (GetSegment) and write the current position
// without a lock, so every field is atomic: a seek that races a worker's
// read is seen one pass late, never torn.
#pragma once

#include "engine/dmx_interfaces.h"
#include "platform/filter_interfaces.h"
#include "platform/media_seeking.h"

#include <atomic>
#include <string>

inline constexpr DWORD kSeekingCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                              AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
                                              AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

class CSeeking : public IMediaSeeking {
 public:
  CSeeking() = default;
  CSeeking(const CSeeking&) = delete;
  CSeeking& operator=(const CSeeking&) = delete;
  virtual ~CSeeking() = default;

  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  // Converts the stored start and stop into the new format.
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override;
  // Stores the new start and stop, then UpdateCurrentPosition(flush), where
  // AM_SEEKING_NoFlush on either position asks for no flush.
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  // Applies a changed segment to the pins; called after every position or
  // rate change, under nothing. Implementations take the filter lock.
  virtual HRESULT UpdateCurrentPosition(BOOL flush) = 0;
  // 0-based frame number <-> 100-ns time.
  virtual HRESULT FrameToTime(LONGLONG frame, LONGLONG* time) = 0;
  virtual HRESULT TimeToFrame(LONGLONG time, LONGLONG* frame) = 0;
  virtual BOOL IsRateSupported(double rate);
  // The segment to deliver, in 100-ns units: a reverse rate runs from the
  // start down to 0. S_FALSE when it equals the recorded segment.
  virtual HRESULT GetSegment(REFERENCE_TIME* start, REFERENCE_TIME* stop, double* rate);

  // For UpdateCurrentPosition: TRUE when the segment equals the recorded
  // one (nothing to apply). Otherwise records it, unless the filter runs.
  BOOL RecordSegment(FILTER_STATE state);
  // Called when the filter starts running: a later seek to a segment
  // recorded before is a real seek (replaying from 0 after the end).
  void ForgetRecordedSegment() { m_lastValid = FALSE; }

  // Written by the delivery loop after each delivered sample: the time by
  // every pin, the frame only by the pin whose track counts the frames.
  void SetCurrentPosition(REFERENCE_TIME time, LONGLONG frame) {
    m_currentTime = time;
    m_currentFrame = frame;
  }
  void SetCurrentTime(REFERENCE_TIME time) { m_currentTime = time; }
  REFERENCE_TIME CurrentTime() const { return m_currentTime; }
  LONGLONG CurrentFrame() const { return m_currentFrame; }
  BOOL IsMediaTimeFormat() const { return m_mediaTimeFormat; }
  // Start and stop in the current format.
  LONGLONG StartPosition() const { return m_start; }
  LONGLONG StopPosition() const { return m_stop; }
  double Rate() const { return m_rate; }

 protected:
  // A position for a trace line in the current format.
  std::string PositionText(const LONGLONG* position) const;

  std::atomic<LONGLONG> m_currentTime{0};
  std::atomic<LONGLONG> m_currentFrame{0};
  std::atomic<BOOL> m_mediaTimeFormat{TRUE};
  std::atomic<LONGLONG> m_start{0};
  std::atomic<LONGLONG> m_stop{MAX_TIME};
  std::atomic<double> m_rate{1.0};
  // The segment last recorded as applied (100-ns units), valid with
  // m_lastValid. Written under the filter lock.
  std::atomic<LONGLONG> m_lastStart{0};
  std::atomic<LONGLONG> m_lastStop{0};
  std::atomic<double> m_lastRate{1.0};
  std::atomic<BOOL> m_lastValid{FALSE};
};
