// CBasePin: a pin's connection protocol and state, with virtual hooks for
// the derived pins (media types, connection checks, activation).
//
// Connection, as the output side runs it: Connect → AgreeMediaType, which
// tries the types of both pins (the peer's first unless m_bTryMyTypesFirst)
// → AttemptConnection per type: CheckConnect, CheckMediaType, SetMediaType,
// the peer's ReceiveConnection, then CompleteConnect. Any failure undoes the
// attempt with BreakConnect.
//
// A pin lives inside its filter: its AddRef and Release are the filter's.
// Calls that change the connection take m_pLock (normally the filter lock),
// and m_connectionLock around the write itself. ConnectedTo and
// ConnectionMediaType take only m_connectionLock (innermost, nothing is
// called under it but the peer's AddRef), so that streaming threads may ask
// them while the filter lock waits for those threads.
#pragma once

#include "platform/critical_section.h"
#include "platform/filter_interfaces.h"

#include <atomic>

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name,
           PIN_DIRECTION dir);
  ~CBasePin() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  // IPin
  HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* dir) override;
  HRESULT QueryId(LPWSTR* id) override;
  HRESULT QueryAccept(const AM_MEDIA_TYPE* mt) override;
  HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) override;
  HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override = 0;
  HRESULT EndFlush() override = 0;
  // Records the segment for CurrentStartTime/CurrentStopTime/CurrentRate.
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IQualityControl
  HRESULT Notify(IBaseFilter* self, Quality q) override;
  HRESULT SetSink(IQualityControl* sink) override;

  // Hooks.
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT BreakConnect();
  virtual HRESULT CompleteConnect(IPin* receivePin);
  virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
  virtual HRESULT SetMediaType(const CMediaType* mt);
  // The type at `position` (0-based); VFW_S_NO_MORE_ITEMS past the end.
  virtual HRESULT GetMediaType(int position, CMediaType* mt);
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME start);
  virtual HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* mt);
  virtual HRESULT AttemptConnection(IPin* receivePin, const CMediaType* mt);
  virtual HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* mt, IEnumMediaTypes* types);
  virtual LONG GetMediaTypeVersion() { return m_TypeVersion.load(); }
  void IncrementTypeVersion() { m_TypeVersion.fetch_add(1); }

  HRESULT DisconnectInternal();
  // Holds `pin` (one reference) as the peer, dropping the old one.
  void SetConnected(IPin* pin);
  BOOL IsConnected() const { return m_Connected != nullptr ? TRUE : FALSE; }
  // Not reference-counted.
  IPin* GetConnected() const { return m_Connected; }
  BOOL IsStopped() const;
  LPWSTR Name() const { return m_pName; }
  BOOL CanReconnectWhenActive() const { return m_bCanReconnectWhenActive; }
  void SetReconnectWhenActive(BOOL reconnect) { m_bCanReconnectWhenActive = reconnect; }
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  double CurrentRate() const { return m_dRate; }

 protected:
  WCHAR* m_pName;                      // owned copy
  IPin* m_Connected = nullptr;         // one reference while connected
  PIN_DIRECTION m_dir;
  CCritSec* m_pLock;                   // the filter's object lock
  mutable CCritSec m_connectionLock;   // m_Connected and m_mt; innermost
  std::atomic<BOOL> m_bRunTimeError{FALSE};  // read by streaming threads
  BOOL m_bCanReconnectWhenActive = FALSE;
  BOOL m_bTryMyTypesFirst = FALSE;
  CBaseFilter* m_pFilter;              // owner, not reference-counted
  IQualityControl* m_pQSink = nullptr; // not reference-counted, as published
  std::atomic<LONG> m_TypeVersion{1};
  CMediaType m_mt;                     // the connection's type
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = MAX_TIME;
  double m_dRate = 1.0;
};

// A task-memory copy of a wide string (for QueryId and file names).
LPWSTR CoTaskMemDuplicateString(LPCWSTR text);
// A new[] copy, or null for null.
WCHAR* DuplicateWideString(LPCWSTR text);
