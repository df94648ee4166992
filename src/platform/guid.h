// GUID with the platform's layout and its registry text form.
#pragma once

#include "platform/wintypes.h"

#include <compare>
#include <cstring>
#include <optional>
#include <string>

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Orders GUIDs by their bytes, for maps keyed by class or interface.
struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// "{E436EB83-524F-11CE-9F53-0020AF0BA770}": braces, upper-case hexadecimal.
std::string GuidToString(REFGUID guid);
std::wstring GuidToWideString(REFGUID guid);

// Reads the registry form back, braces required, either letter case.
std::optional<GUID> GuidFromString(const std::string& text);
std::optional<GUID> GuidFromWideString(const std::wstring& text);

// {data1}-0000-0010-8000-00AA00389B71: the FourCC and WAVE-format-tag rule.
constexpr GUID GuidFromDword(DWORD data1) {
  return {data1, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

// The FourCC subtype of a code given in file order ("avc1" as 0x61766331).
constexpr GUID FourCCSubtype(uint32_t fileOrderCode) {
  return GuidFromDword(((fileOrderCode & 0xFF) << 24) | ((fileOrderCode & 0xFF00) << 8) |
                       ((fileOrderCode >> 8) & 0xFF00) | (fileOrderCode >> 24));
}

// True when the GUID follows the FourCC rule (whatever its first field).
constexpr bool IsFourCCGuid(REFGUID guid) { return guid == GuidFromDword(guid.Data1); }
