// CBaseDmxInputPin: the single input pin of a CBaseDmx filter. It connects
// to an upstream pin that offers random access (IBufferedAsyncReader or
// IAsyncReader), wraps it in a CBufferedAsyncReader, and hands connection
// events to the filter's pin hooks. It pulls: it commits no allocator, and
// samples pushed through IMemInputPin::Receive only reach a filter hook.
//
// Threads: connection calls on the application thread under the filter
// lock (the pin lock); EndOfStream and Receive on the upstream's streaming
// thread under the filter's stream lock; flushes under no filter lock.
#pragma once

#include "platform/base_input_pin.h"

#include <atomic>

class CBaseDmx;
struct IBufferedAsyncReader;

class CBaseDmxInputPin : public CBaseInputPin {
 public:
  CBaseDmxInputPin(CBaseDmx* filter, int index, HRESULT* phr, LPCWSTR name);
  ~CBaseDmxInputPin() override;

  // Nothing to start or stop: the pin never commits an allocator.
  HRESULT Active() override { return S_OK; }
  HRESULT Inactive() override { return S_OK; }
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT CheckConnect(IPin* pin) override;
  // Makes the buffered reader, then lets the filter complete (parse).
  HRESULT CompleteConnect(IPin* pin) override;
  HRESULT BreakConnect() override;

  // IPin
  HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
  // Notifies the filter once per run; VFW_E_WRONG_STATE while stopped.
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  // IMemInputPin
  HRESULT Receive(IMediaSample* sample) override;

  // Called by the filter when it leaves Stopped.
  virtual HRESULT ResetEndOfStream();
  // Called by the filter when it stops: the platform's Inactive (clears the
  // error and flushing marks); VFW_E_NO_ALLOCATOR is the normal answer.
  virtual HRESULT OnFilterStopped();
  virtual BOOL IsEndOfStream();
  // The buffered reader with a reference added, or null. Takes the filter
  // lock: not for streaming threads.
  virtual IBufferedAsyncReader* GetReader();

 private:
  IBufferedAsyncReader* m_reader = nullptr;  // one reference while connected; under the filter lock
  std::atomic<BOOL> m_eosReceived{FALSE};    // under the stream lock, read anywhere
  CBaseDmx* const m_dmx;                     // the owner, not counted
  const int m_index;
};
