// CEnumPins: the pins of a filter in GetPin order. It remembers the pin
// version it started from and reports VFW_E_ENUM_OUT_OF_SYNC once the
// filter's pins change, until Reset. Not thread-safe, as published.
#pragma once

#include "platform/filter_interfaces.h"

class CBaseFilter;

class CEnumPins final : public CUnknown, public IEnumPins {
 public:
  // Starts where `toCopy` stands when given, else at the first pin.
  CEnumPins(CBaseFilter* filter, const CEnumPins* toCopy);
  ~CEnumPins() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumPins** enumerator) override;

 private:
  bool OutOfSync() const;

  CBaseFilter* m_pFilter;  // one reference
  int m_Position = 0;
  int m_PinCount = 0;
  LONG m_Version = 0;
};
