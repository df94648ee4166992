// CBaseInputPin: an input pin of the push transport (IMemInputPin). It keeps
// the allocator the upstream pin chose, refuses samples while stopped or
// flushing, and leaves what a sample means to the derived pin.
//
// Streaming calls (Receive, EndOfStream) arrive on the upstream thread;
// flushing calls and state changes on the application thread. m_bFlushing
// is atomic because Receive reads it without the lock.
#pragma once

#include "platform/base_pin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
  ~CBaseInputPin() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemInputPin
  // A CMemAllocator of our own unless one was already notified.
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  // The checks every sample passes: CheckStreaming, then a type change is
  // checked with CheckMediaType (a refused one stops the stream with
  // EC_ERRORABORT and VFW_E_INVALIDMEDIATYPE). Derived pins call this first.
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  // S_OK when any connected output pin of the filter may block downstream,
  // or when the filter has no connected output pin.
  HRESULT ReceiveCanBlock() override;

  // IPin: flushing only sets the mark; derived pins pass it downstream.
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  // IQualityControl: input pins pass quality messages upstream (PassNotify).
  HRESULT Notify(IBaseFilter* self, Quality q) override;
  HRESULT PassNotify(Quality& q);

  HRESULT BreakConnect() override;
  // Clears the error and flushing marks and decommits the allocator;
  // VFW_E_NO_ALLOCATOR when none was ever negotiated.
  HRESULT Inactive() override;

  // VFW_E_WRONG_STATE while stopped, S_FALSE while flushing,
  // VFW_E_RUNTIME_ERROR after a runtime error, else S_OK.
  virtual HRESULT CheckStreaming();

  BOOL IsReadOnly() const { return m_bReadOnly; }
  BOOL IsFlushing() const { return m_bFlushing; }

 protected:
  IMemAllocator* m_pAllocator = nullptr;  // one reference; guarded by m_pLock
  BOOL m_bReadOnly = FALSE;
  std::atomic<BOOL> m_bFlushing{FALSE};
};
