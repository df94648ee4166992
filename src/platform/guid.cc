#include "platform/guid.h"

#include <cstdio>

std::string GuidToString(REFGUID g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return text;
}

std::wstring GuidToWideString(REFGUID guid) {
  const std::string narrow = GuidToString(guid);
  return std::wstring(narrow.begin(), narrow.end());
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[at]; false on any non-digit.
bool ReadHex(const std::string& text, size_t at, int digits, uint32_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexDigit(text[at + i]);
    if (d < 0) return false;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

}  // namespace

std::optional<GUID> GuidFromString(const std::string& text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-') {
    return std::nullopt;
  }
  GUID g{};
  uint32_t value = 0;
  if (!ReadHex(text, 1, 8, value)) return std::nullopt;
  g.Data1 = value;
  if (!ReadHex(text, 10, 4, value)) return std::nullopt;
  g.Data2 = static_cast<WORD>(value);
  if (!ReadHex(text, 15, 4, value)) return std::nullopt;
  g.Data3 = static_cast<WORD>(value);
  static constexpr size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kByteAt[i], 2, value)) return std::nullopt;
    g.Data4[i] = static_cast<BYTE>(value);
  }
  return g;
}

std::optional<GUID> GuidFromWideString(const std::wstring& text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t c : text) {
    if (c < 0 || c > 0x7F) return std::nullopt;
    narrow.push_back(static_cast<char>(c));
  }
  return GuidFromString(narrow);
}
