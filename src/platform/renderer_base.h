// CRendererBase: a filter with one input pin that consumes what it receives
// at once (it never blocks, and it does not wait for the clock: samples are
// rendered as fast as they come). It follows the renderer's end-of-stream
// rule: end-of-stream is accepted while paused or running, and EC_COMPLETE
// goes to the graph once the filter runs (at once when already running);
// a flush or a stop forgets it.
//
// Locks: m_filterLock (filter and pin object lock; state changes, flushes)
// → m_receiveLock (streaming calls and the end-of-stream marks) → the
// graph's event lock. Streaming calls take m_receiveLock only.
#pragma once

#include "platform/base_filter.h"
#include "platform/base_input_pin.h"

class CRendererBase;

class CRendererInputPin final : public CBaseInputPin {
 public:
  CRendererInputPin(CRendererBase* renderer, CCritSec* lock, HRESULT* phr, LPCWSTR name);

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT ReceiveCanBlock() override { return S_FALSE; }
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // The connection's type (under the caller's lock).
  const CMediaType& ConnectionType() const { return m_mt; }

 private:
  CRendererBase* m_renderer;
};

class CRendererBase : public CBaseFilter, public IAMFilterMiscFlags {
 public:
  CRendererBase(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT* phr);
  ~CRendererBase() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;

 protected:
  // Hooks, called under m_receiveLock (CheckRenderType under the pin lock).
  virtual HRESULT CheckRenderType(const CMediaType* mt) = 0;
  virtual HRESULT OnSample(IMediaSample* sample) = 0;
  virtual void OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {}
  virtual void OnBeginFlush() {}
  virtual void OnEndFlush() {}
  virtual void OnEndOfStream() {}

  CCritSec m_filterLock;
  CCritSec m_receiveLock;
  CRendererInputPin m_pin;

 private:
  friend class CRendererInputPin;

  HRESULT ReceiveSample(IMediaSample* sample);
  HRESULT EndOfStreamReceived();
  // Under m_receiveLock.
  void SendCompleteIfDue();
  void ForgetEndOfStream();

  bool m_eos = false;
  bool m_eosDelivered = false;
};
