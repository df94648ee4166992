// CEnumMediaTypes: a pin's GetMediaType list as an enumerator. Each type
// handed out is a task-memory AM_MEDIA_TYPE the caller deletes. It reports
// VFW_E_ENUM_OUT_OF_SYNC once the pin's type version changes, until Reset.
#pragma once

#include "platform/filter_interfaces.h"

class CBasePin;

class CEnumMediaTypes final : public CUnknown, public IEnumMediaTypes {
 public:
  CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* toCopy);
  ~CEnumMediaTypes() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumMediaTypes** enumerator) override;

 private:
  bool OutOfSync() const;

  CBasePin* m_pPin;  // one reference
  int m_Position = 0;
  LONG m_Version = 0;
};
