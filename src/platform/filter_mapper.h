// The filter mapper: writes and removes a filter's registration record
// under its category ("CLSID\{category}\Instance\{instance}" with
// "FriendlyName", "CLSID" and the binary "FilterData"), and reads all
// registered records back for graph building.
//
// "FilterData" is the version-2 record: version, merit, pin count, a
// reserved word, then per pin the tag "<n>pi3", flags, instances, media
// type count, medium count and category offset, followed by its media
// types ("<n>ty3", reserved, offsets of the major and minor type); the
// GUIDs the offsets point at come last, each once. Little-endian.
#pragma once

#include "platform/filter_setup.h"
#include "platform/unknown.h"

#include <string>
#include <vector>

inline constexpr CLSID CLSID_FilterMapper2 = {0xCDA42200, 0xBD88, 0x11D0, {0xBD, 0x4E, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr IID IID_IFilterMapper2 = {0xB79BB0B0, 0x33C1, 0x11D1, {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
inline constexpr CLSID CLSID_LegacyAmFilterCategory = {
    0x083863F1, 0x70DE, 0x11D0, {0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

inline constexpr DWORD MERIT_PREFERRED = 0x800000;
inline constexpr DWORD MERIT_NORMAL = 0x600000;
inline constexpr DWORD MERIT_UNLIKELY = 0x400000;
inline constexpr DWORD MERIT_DO_NOT_USE = 0x200000;

inline constexpr DWORD REG_PINFLAG_B_ZERO = 0x1;
inline constexpr DWORD REG_PINFLAG_B_RENDERER = 0x2;
inline constexpr DWORD REG_PINFLAG_B_MANY = 0x4;
inline constexpr DWORD REG_PINFLAG_B_OUTPUT = 0x8;

// Version 1 only: the pins as AMOVIESETUP_PIN describes them.
struct REGFILTER2 {
  DWORD dwVersion;
  DWORD dwMerit;
  ULONG cPins;
  const REGFILTERPINS* rgPins;
};

struct IFilterMapper2 : public IUnknown {
  virtual HRESULT CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) = 0;
  // `instance` null: the filter's CLSID text names the instance key.
  virtual HRESULT UnregisterFilter(const CLSID* category, LPCWSTR instance, REFCLSID filter) = 0;
  // `moniker` is not supported and must be null; `category` null is the
  // legacy filter category.
  virtual HRESULT RegisterFilter(REFCLSID filter, LPCWSTR name, void** moniker, const CLSID* category,
                                 LPCWSTR instance, const REGFILTER2* record) = 0;

 protected:
  ~IFilterMapper2() = default;
};

struct RegisteredMediaType {
  GUID majortype;
  GUID subtype;
};

struct RegisteredPin {
  DWORD flags = 0;
  std::vector<RegisteredMediaType> mediaTypes;
};

struct RegisteredFilter {
  CLSID clsid{};
  std::wstring name;
  DWORD merit = 0;
  std::vector<RegisteredPin> pins;
};

// The records of the legacy filter category; a record whose
// "FilterData" does not parse is left out.
std::vector<RegisteredFilter> ReadRegisteredFilters();

// The binary record and its reading; false for a truncated or malformed one.
std::vector<BYTE> SerializeFilterData(const REGFILTER2& record);
bool ParseFilterData(const BYTE* data, size_t size, RegisteredFilter* out);

class CFilterMapper final : public CUnknown, public IFilterMapper2 {
 public:
  CFilterMapper(IUnknown* outer, HRESULT* phr);
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) override;
  HRESULT UnregisterFilter(const CLSID* category, LPCWSTR instance, REFCLSID filter) override;
  HRESULT RegisterFilter(REFCLSID filter, LPCWSTR name, void** moniker, const CLSID* category, LPCWSTR instance,
                         const REGFILTER2* record) override;
};
