// CFilterPassThru: the IMediaSeeking of every output pin, and the only one
// the graph finds. It forwards to the filter's own seeking interface
// (IID_IDmxFilterSeeking), except that only the main seeking pin may change
// positions or rate: on the other pins such calls succeed and do nothing,
// so that a graph seeking every stream applies one seek, not one per pin.
//
// The IUnknown methods come from the pin that derives from this class.
// Threads: the application thread (the graph's seeking calls and pin
// queries).
#pragma once

#include "platform/filter_interfaces.h"
#include "platform/media_seeking.h"

#include <atomic>

class CFilterPassThru : public IMediaSeeking {
 public:
  // A null filter sets E_POINTER in *phr.
  CFilterPassThru(IBaseFilter* filter, HRESULT* phr);
  CFilterPassThru(const CFilterPassThru&) = delete;
  CFilterPassThru& operator=(const CFilterPassThru&) = delete;
  virtual ~CFilterPassThru() = default;

  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  // The hook's answer when it has one, else the filter's.
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override;
  // Forwarded by the main seeking pin only; S_OK and ignored elsewhere.
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  // Forwarded by the main seeking pin only; S_OK and ignored elsewhere.
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  // A pin-specific current position; E_FAIL leaves the answer to the filter.
  virtual HRESULT GetCurrentPositionHook(LONGLONG* position, DWORD flag);

  BOOL IsMainSeekingPin() const { return m_isMainSeekingPin; }

 protected:
  // The pin's answer to a query for `riid` == IID_IMediaSeeking, after it
  // has stored whether it is the main seeking pin: this interface with a
  // reference added, or E_NOTIMPL when the filter has no seeking.
  HRESULT QuerySeeking(void** ppv);
  void SetIsMainSeekingPin(BOOL isMain) { m_isMainSeekingPin = isMain; }

 private:
  // The filter's seeking interface, found on first use. Not counted: the
  // filter owns this pin, and a counted reference to its owner would keep
  // both alive for ever. The filter outlives the pin's use of it.
  std::atomic<IMediaSeeking*> m_seeking{nullptr};
  IBaseFilter* const m_filter;  // the owner, not counted
  std::atomic<BOOL> m_isMainSeekingPin{TRUE};
};
