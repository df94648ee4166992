#include "platform/file_type_detection.h"

#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/registry.h"

#include <cwctype>
#include <vector>

namespace {

// Longer patterns than this are not file-type checks; refusing them keeps a
// hostile registry from sizing our reads.
constexpr LONG kMaxCheckLength = 4096;

struct BuiltInCheck {
  const wchar_t* pattern;
  uint32_t subtypeCode;
};

// What the module registers, for before it is registered.
constexpr BuiltInCheck kBuiltInChecks[] = {
    {L"4,4,,66747970", FourCC("VISO")},
    {L"4,4,,6d6f6f76", FourCC("VISO")},
    {L"4,4,,736b6970", FourCC("VISO")},
    {L"4,4,,6a502020", FourCC("VISO")},
};

struct BuiltInExtension {
  const wchar_t* extension;
  uint32_t subtypeCode;
};

constexpr BuiltInExtension kBuiltInExtensions[] = {
    {L".avc", FourCC("VISO")},  {L".mp4", FourCC("VISO")},  {L".m4a", FourCC("VISO")},
    {L".m4v", FourCC("VISO")},  {L".3gp", FourCC("VISO")},  {L".3gpp", FourCC("VISO")},
    {L".3g2", FourCC("VISO")},  {L".mov", FourCC("VISO")},  {L".mj2", FourCC("VISO")},
    {L".ismv", FourCC("VISO")}, {L".isma", FourCC("VISO")}, {L".ism", FourCC("VISM")},
};

std::vector<std::wstring> SplitCommas(const std::wstring& text) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(L',', start);
    std::wstring part = text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
    const size_t first = part.find_first_not_of(L" \t");
    const size_t last = part.find_last_not_of(L" \t");
    parts.push_back(first == std::wstring::npos ? std::wstring() : part.substr(first, last - first + 1));
    if (comma == std::wstring::npos) return parts;
    start = comma + 1;
  }
}

bool ParseDecimal(const std::wstring& text, LONGLONG* out) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == L'-';
  if (negative) ++i;
  if (i == text.size()) return false;
  LONGLONG value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9' || value > (1LL << 40)) return false;
    value = value * 10 + (text[i] - L'0');
  }
  *out = negative ? -value : value;
  return true;
}

bool ParseHex(const std::wstring& text, size_t length, std::vector<BYTE>* out) {
  if (text.size() != 2 * length) return false;
  out->resize(length);
  for (size_t i = 0; i < length; ++i) {
    int byte = 0;
    for (size_t j = 0; j < 2; ++j) {
      const wint_t c = std::towlower(text[2 * i + j]);
      int digit = -1;
      if (c >= L'0' && c <= L'9') digit = static_cast<int>(c - L'0');
      if (c >= L'a' && c <= L'f') digit = static_cast<int>(c - L'a' + 10);
      if (digit < 0) return false;
      byte = byte * 16 + digit;
    }
    (*out)[i] = static_cast<BYTE>(byte);
  }
  return true;
}

std::wstring ExtensionOf(const std::wstring& fileName) {
  const size_t slash = fileName.find_last_of(L"/\\");
  const size_t dot = fileName.rfind(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return {};
  return fileName.substr(dot);
}

bool IsPatternName(const wchar_t* name) {
  if (*name == L'\0') return false;
  for (; *name != L'\0'; ++name) {
    if (*name < L'0' || *name > L'9') return false;
  }
  return true;
}

// Whether any pattern value of an open "Media Type\{major}\{subtype}" key
// matches.
bool AnyPatternMatches(HKEY key, IAsyncReader* reader, LONGLONG length) {
  for (DWORD index = 0;; ++index) {
    wchar_t name[64];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    DWORD type = 0;
    BYTE data[1024];
    DWORD size = sizeof data;
    const LONG hr = RegEnumValue(key, index, name, &nameLength, nullptr, &type, data, &size);
    if (hr == ERROR_NO_MORE_ITEMS || (hr != ERROR_SUCCESS && hr != ERROR_MORE_DATA)) return false;
    if (hr != ERROR_SUCCESS || type != REG_SZ || !IsPatternName(name)) continue;
    std::wstring pattern(reinterpret_cast<const wchar_t*>(data), size / sizeof(WCHAR));
    pattern.resize(std::wcslen(pattern.c_str()));
    if (MatchCheckBytes(pattern, reader, length)) return true;
  }
}

bool DetectByCheckBytes(IAsyncReader* reader, DetectedFileType* out) {
  LONGLONG length = 0, available = 0;
  if (reader == nullptr || FAILED(reader->Length(&length, &available))) return false;
  HKEY types = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, L"Media Type", 0, KEY_READ, &types) != ERROR_SUCCESS) return false;
  bool found = false;
  for (const std::wstring& majorName : RegSubkeyNames(types)) {
    if (found) break;
    const std::optional<GUID> major = GuidFromWideString(majorName);
    HKEY majorKey = nullptr;
    if (!major || RegOpenKeyEx(types, majorName.c_str(), 0, KEY_READ, &majorKey) != ERROR_SUCCESS) continue;
    for (const std::wstring& subtypeName : RegSubkeyNames(majorKey)) {
      if (found) break;
      const std::optional<GUID> subtype = GuidFromWideString(subtypeName);
      HKEY subtypeKey = nullptr;
      if (!subtype || RegOpenKeyEx(majorKey, subtypeName.c_str(), 0, KEY_READ, &subtypeKey) != ERROR_SUCCESS) {
        continue;
      }
      if (AnyPatternMatches(subtypeKey, reader, length)) {
        found = true;
        out->majortype = *major;
        out->subtype = *subtype;
        std::wstring source;
        const std::optional<GUID> filter = RegReadString(subtypeKey, L"", L"Source Filter", &source)
                                               ? GuidFromWideString(source)
                                               : std::nullopt;
        out->sourceFilter = filter.value_or(CLSID_AsyncReader);
      }
      RegCloseKey(subtypeKey);
    }
    RegCloseKey(majorKey);
  }
  RegCloseKey(types);
  return found;
}

bool DetectByExtension(const std::wstring& fileName, DetectedFileType* out) {
  const std::wstring extension = ExtensionOf(fileName);
  if (extension.empty()) return false;
  const std::wstring key = L"Media Type\\Extensions\\" + extension;
  std::wstring major, subtype, source;
  if (!RegReadString(HKEY_CLASSES_ROOT, key, L"Media Type", &major)) return false;
  const std::optional<GUID> majorGuid = GuidFromWideString(major);
  if (!majorGuid) return false;
  out->majortype = *majorGuid;
  out->subtype = RegReadString(HKEY_CLASSES_ROOT, key, L"Subtype", &subtype)
                     ? GuidFromWideString(subtype).value_or(GUID_NULL)
                     : GUID_NULL;
  out->sourceFilter = RegReadString(HKEY_CLASSES_ROOT, key, L"Source Filter", &source)
                          ? GuidFromWideString(source).value_or(CLSID_AsyncReader)
                          : CLSID_AsyncReader;
  return true;
}

bool DetectBuiltIn(const std::wstring& fileName, IAsyncReader* reader, DetectedFileType* out) {
  out->majortype = MEDIATYPE_Stream;
  out->sourceFilter = CLSID_AsyncReader;
  LONGLONG length = 0, available = 0;
  if (reader != nullptr && SUCCEEDED(reader->Length(&length, &available))) {
    for (const BuiltInCheck& check : kBuiltInChecks) {
      if (MatchCheckBytes(check.pattern, reader, length)) {
        out->subtype = FourCCSubtype(check.subtypeCode);
        return true;
      }
    }
  }
  const std::wstring extension = ExtensionOf(fileName);
  for (const BuiltInExtension& entry : kBuiltInExtensions) {
    if (EqualNoCase(extension, entry.extension)) {
      out->subtype = FourCCSubtype(entry.subtypeCode);
      return true;
    }
  }
  return false;
}

}  // namespace

bool MatchCheckBytes(const std::wstring& pattern, IAsyncReader* reader, LONGLONG length) {
  const std::vector<std::wstring> fields = SplitCommas(pattern);
  if (reader == nullptr || fields.size() % 4 != 0) return false;
  std::vector<BYTE> mask, value, bytes;
  for (size_t i = 0; i < fields.size(); i += 4) {
    LONGLONG offset = 0, count = 0;
    if (!ParseDecimal(fields[i], &offset) || !ParseDecimal(fields[i + 1], &count)) return false;
    if (count <= 0 || count > kMaxCheckLength) return false;
    const size_t n = static_cast<size_t>(count);
    if (!ParseHex(fields[i + 3], n, &value)) return false;
    if (fields[i + 2].empty()) {
      mask.assign(n, 0xFF);
    } else if (!ParseHex(fields[i + 2], n, &mask)) {
      return false;
    }
    const LONGLONG position = offset < 0 ? length + offset : offset;
    if (position < 0 || position > length - count) return false;
    bytes.resize(n);
    if (reader->SyncRead(position, static_cast<LONG>(count), bytes.data()) != S_OK) return false;
    for (size_t k = 0; k < n; ++k) {
      if ((bytes[k] & mask[k]) != value[k]) return false;
    }
  }
  return !fields.empty();
}

bool DetectFileType(const std::wstring& fileName, IAsyncReader* reader, DetectedFileType* out) {
  *out = DetectedFileType{};
  if (DetectByCheckBytes(reader, out) || DetectByExtension(fileName, out)) return true;
  *out = DetectedFileType{};
  return DetectBuiltIn(fileName, reader, out);
}
