// CBaseOutputPin: an output pin of the push transport. At connection it
// negotiates an allocator with the input pin (DecideAllocator: the input
// pin's own first, then one of ours, each sized by DecideBufferSize), commits
// it on Active and decommits it on Inactive; the Deliver* calls pass data and
// notifications to the connected input pin.
#pragma once

#include "platform/base_pin.h"

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
  ~CBaseOutputPin() override;

  // Asks the input pin for IMemInputPin.
  HRESULT CheckConnect(IPin* pin) override;
  // Runs DecideAllocator.
  HRESULT CompleteConnect(IPin* receivePin) override;
  // Decommits and releases the allocator and the input pin.
  HRESULT BreakConnect() override;
  // Commit / decommit the allocator; VFW_E_NO_ALLOCATOR without one.
  HRESULT Active() override;
  HRESULT Inactive() override;

  // An output pin receives none of these: E_UNEXPECTED.
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) = 0;
  virtual HRESULT InitAllocator(IMemAllocator** allocator);
  // A sample from the allocator (which may block until one is free).
  virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                    DWORD flags);
  // The input pin's Receive; the caller keeps its reference.
  virtual HRESULT Deliver(IMediaSample* sample);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

 protected:
  IMemAllocator* m_pAllocator = nullptr;  // one reference while connected
  IMemInputPin* m_pInputPin = nullptr;    // one reference while connected
};
