// IServiceProvider2: the filter's second service interface. Only its last
// method does anything: it hands a caller the filter's service object.
#pragma once

#include "platform/variant.h"

inline constexpr IID IID_IServiceProvider2 = {
    0x3E9B6C14, 0x5A70, 0x4D2E, {0x8F, 0x61, 0xC4, 0x0B, 0x27, 0x9A, 0xD3, 0x58}};

// The second identifier under which GetServiceForObject hands out the
// service object (the first is the service object's class identifier).
inline constexpr GUID SID_DmxFilterService = {
    0x3E9B6C15, 0x5A70, 0x4D2E, {0x8F, 0x61, 0xC4, 0x0B, 0x27, 0x9A, 0xD3, 0x58}};

struct IServiceProvider2 : public IUnknown {
  virtual HRESULT ProfferService(REFGUID service, IUnknown* provider, DWORD* cookie) = 0;
  virtual HRESULT RevokeService(DWORD cookie) = 0;
  virtual HRESULT QueryServiceFor(IUnknown* object, REFGUID service, REFIID riid, void** ppv) = 0;
  virtual HRESULT GetServiceCount(ULONG* count) = 0;
  // `object` names the service it wants by its class identifier
  // (IPersist::GetClassID); the answer is a VT_UNKNOWN in *service.
  virtual HRESULT GetServiceForObject(IUnknown* object, VARIANT* service) = 0;

 protected:
  ~IServiceProvider2() = default;
};
