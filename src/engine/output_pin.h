// CBaseDmxOutputPin: one stream leaving a CBaseDmx filter. The pin is bound
// to its filter, its stream index and (by the derived filter) its track; it
// offers the track's media types, sizes its buffers through the filter's
// DecidePinBufferSize, and runs the delivery loop (Process, in
// delivery_loop.cc) on its worker: the track's samples from the current
// seek segment, read straight from the source, stamped and delivered
// directly or through a COutputQueue. It is the stream's IMediaSeeking
// (CFilterPassThru) and IVTVideoRotation. The filter must also be a
// CSeeking: the loop reads the segment from it and writes the position.
//
// Lifetime: the pin has a reference count of its own (atomic, taken under
// no lock). The filter's table holds the first reference (taken at
// construction, dropped with ReleaseFromFilter); every other reference also
// holds the filter, so m_dmx stays valid for whoever holds the pin. The
// last release destroys the pin. A pin made without a filter fails its
// construction (E_POINTER) and is deleted by its creator, never counted.
//
// Threads: connection, activation and flushes on the application thread
// under the filter lock; Process and the Deliver* calls it makes on the
// worker (the flushes come from the application thread). The worker takes
// no filter lock: it reads the segment and writes the position without one,
// and only the track's table lock and the source's read lock are taken
// under it.
#pragma once

#include "engine/chunk_reader.h"
#include "engine/error_latch.h"
#include "engine/push_pin.h"
#include "engine/video_rotation.h"
#include "platform/output_queue.h"

#include <atomic>
#include <memory>

class CBaseDmx;
class CBaseSampleConverter;
class CSeeking;
class trakBox;

class CBaseDmxOutputPin : public CPushPin, public IVTVideoRotation {
 public:
  // `streamIndex` is 0-based; the hooks see it as pin number streamIndex + 1.
  CBaseDmxOutputPin(CBaseDmx* filter, int streamIndex, HRESULT* phr, LPCWSTR name);
  ~CBaseDmxOutputPin() override;

  DECLARE_IUNKNOWN
  // IMediaSeeking (settling the main seeking pin first), IVTVideoRotation,
  // then the pin's interfaces.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;
  // Drops the filter table's reference.
  void ReleaseFromFilter();

  // S_OK when `mt` matches the track's media type 0 or 1 (the downstream
  // filter's type as the proposed one); S_FALSE otherwise, also when the
  // track offers no type.
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT CheckConnect(IPin* pin) override;
  // Refuses a private subtype to the AVI multiplexer, negotiates the
  // allocator, binds the track's unbuffered source, then lets the filter
  // complete.
  HRESULT CompleteConnect(IPin* receivePin) override;
  // Tells the filter, stops the worker, releases the source, allocator and
  // queue.
  HRESULT BreakConnect() override;
  // The track's media types; E_UNEXPECTED without a track.
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
  // S_OK for a pin that is not connected; otherwise readies the allocator
  // (one of 1 x 4096 bytes when none was negotiated), the source and the
  // output queue when Inactive dropped it, and starts the worker on Process.
  HRESULT Active() override;
  // Stops the worker and deletes the output queue; S_OK.
  HRESULT Inactive() override;

  // Each returns S_OK and does nothing on a pin that is not connected.
  // Deliver takes over the caller's reference to the sample.
  HRESULT Deliver(IMediaSample* sample) override;
  HRESULT DeliverEndOfStream() override;
  HRESULT DeliverBeginFlush() override;
  HRESULT DeliverEndFlush() override;
  HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IQualityControl: messages are ignored.
  HRESULT Notify(IBaseFilter* self, Quality q) override;

  // IVTVideoRotation
  HRESULT GetRotation(LONG* degrees) override;

  // On Pause from Stopped, for a connected pin: a new output queue when
  // more than one buffer was agreed, and a new converter for "yuv2" video.
  virtual HRESULT Prepare();

  // Error latch, as the filter's; a latched error is reported through the
  // filter's NotifyGraphOfError.
  virtual HRESULT SetAbortResult(HRESULT hr);
  virtual HRESULT SetErrorResult(HRESULT hr);
  virtual HRESULT OnError(HRESULT hrDefault);

  int StreamIndex() const { return m_streamIndex; }
  CBaseDmx* Filter() const { return m_dmx; }
  trakBox* Track() const { return m_track; }
  void SetTrack(trakBox* track) { m_track = track; }
  DWORD MaxSampleSize() const { return m_maxSampleSize; }
  void SetMaxSampleSize(DWORD size) { m_maxSampleSize = size; }
  LONG BufferCount() const { return m_bufferCount; }
  void SetBufferCount(LONG count) { m_bufferCount = count; }
  // A seek without flush: the delivery loop re-reads the segment after the
  // sample in progress.
  void RequestRestart() { m_restartRequested = TRUE; }
  BOOL IsRestartRequested() const { return m_restartRequested; }
  BOOL HasOutputQueue() const { return m_outputQueue != nullptr ? TRUE : FALSE; }
  CBaseSampleConverter* Converter() const { return m_converter.get(); }
  // The segment's rate and the next sample, as the loop left them.
  double Rate() const { return m_rate; }
  LONGLONG CurrentSample() const { return m_currentSample; }
  // A 32-bit field the service object may fill when the pin is announced.
  LONG* ServiceField() { return &m_serviceField; }

 protected:
  // The delivery loop (delivery_loop.cc).
  HRESULT Process() override;
  // Reads `size` bytes at `offset` into the sample (through the converter
  // when there is one, else through the chunk reader; "twos" audio
  // byte-swapped to little-endian).
  HRESULT FillSample(IMediaSample* sample, LONGLONG offset, LONGLONG size);

  // Gives the pin the fallback allocator when none was negotiated.
  HRESULT EnsureAllocator();
  // The track's source below the parse cache; E_UNEXPECTED without a track.
  HRESULT BindSource();
  // A new converter when the track needs one (E_OUTOFMEMORY latched).
  HRESULT PrepareConverter();
  // An output queue when more than one buffer was agreed; none when it
  // cannot be made (delivery then goes straight downstream).
  void CreateOutputQueue();

  // Set by a seek without flush, read by the delivery loop once per sample.
  std::atomic<BOOL> m_restartRequested{FALSE};
  DWORD m_maxSampleSize = 0;
  CBaseDmx* const m_dmx;  // the owner, not counted
  const int m_streamIndex;
  // Exists between Prepare and Inactive; owned.
  COutputQueue* m_outputQueue = nullptr;
  // Buffers agreed with the allocator; the derived filter's buffer decision
  // stores it.
  LONG m_bufferCount = 1;
  trakBox* m_track = nullptr;  // not owned
  // Rate of the segment being delivered; the worker's.
  std::atomic<double> m_rate{1.0};
  // Next sample to deliver, 0-based; the worker's.
  std::atomic<LONGLONG> m_currentSample{0};
  // Made at preparation, used by the worker, replaced only while stopped.
  std::unique_ptr<CBaseSampleConverter> m_converter;
  ErrorLatch m_errorLatch;
  // Sample bytes by chunk; the worker's.
  CChunkReader m_chunkReader;
  LONG m_serviceField = 0;

 private:
  std::atomic<LONG> m_refCount{1};  // starts with the filter table's reference
};
