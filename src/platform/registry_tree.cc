#include "platform/registry_tree.h"

#include "platform/code_page.h"

#include <cstdio>
#include <cstring>
#include <cwctype>

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr const char* kRootNames[kRegistryRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE",
                                                        "HKEY_CURRENT_USER"};
// Where a hex value breaks its line, as the export format does.
constexpr size_t kHexBytesPerLine = 25;

std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8FromWide(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

// Reads a quoted string at text[*pos]; *pos ends after the closing quote.
bool ReadQuoted(const std::string& text, size_t* pos, std::wstring* out) {
  if (*pos >= text.size() || text[*pos] != '"') return false;
  std::string raw;
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      raw += text[++i];
    } else if (text[i] == '"') {
      *pos = i + 1;
      *out = WideFromUtf8(raw);
      return true;
    } else {
      raw += text[i];
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "02,00,ff": two hex digits per byte, commas between, blanks allowed.
bool ReadHexBytes(const std::string& text, std::vector<BYTE>* out) {
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  skipBlanks();
  if (i == text.size()) return true;
  for (;;) {
    skipBlanks();
    const int high = i < text.size() ? HexDigit(text[i]) : -1;
    const int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<BYTE>(high * 16 + low));
    i += 2;
    skipBlanks();
    if (i == text.size()) return true;
    if (text[i] != ',') return false;
    ++i;
  }
}

bool ReadValueData(const std::string& text, RegistryValue* value) {
  if (!text.empty() && text[0] == '"') {
    size_t pos = 0;
    std::wstring chars;
    if (!ReadQuoted(text, &pos, &chars) || text.find_first_not_of(" \t", pos) != std::string::npos) return false;
    value->type = REG_SZ;
    chars.push_back(L'\0');
    const auto* bytes = reinterpret_cast<const BYTE*>(chars.data());
    value->data.assign(bytes, bytes + chars.size() * sizeof(WCHAR));
    return true;
  }
  if (text.rfind("dword:", 0) == 0) {
    const std::string digits = text.substr(6);
    if (digits.size() != 8) return false;
    DWORD number = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      number = number * 16 + static_cast<DWORD>(d);
    }
    value->type = REG_DWORD;
    value->data.resize(sizeof number);
    std::memcpy(value->data.data(), &number, sizeof number);
    return true;
  }
  if (text.rfind("hex:", 0) == 0) {
    value->type = REG_BINARY;
    return ReadHexBytes(text.substr(4), &value->data);
  }
  if (text.rfind("hex(", 0) == 0) {
    const size_t close = text.find("):");
    if (close == std::string::npos || close == 4 || close > 12) return false;
    DWORD type = 0;
    for (size_t i = 4; i < close; ++i) {
      const int d = HexDigit(text[i]);
      if (d < 0) return false;
      type = type * 16 + static_cast<DWORD>(d);
    }
    value->type = type;
    return ReadHexBytes(text.substr(close + 2), &value->data);
  }
  return false;
}

std::string HexList(const std::vector<BYTE>& data) {
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
    if (i + 1 < data.size()) {
      out += ',';
      if ((i + 1) % kHexBytesPerLine == 0) out += "\\\n  ";
    }
  }
  return out;
}

std::string DataText(const RegistryValue& value) {
  if (value.type == REG_SZ) {
    const size_t count = value.data.size() / sizeof(WCHAR);
    std::wstring chars(count, L'\0');
    if (count != 0) std::memcpy(chars.data(), value.data.data(), count * sizeof(WCHAR));
    chars.resize(std::wcslen(chars.c_str()));
    return Quoted(chars);
  }
  if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, value.data.data(), sizeof number);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", number);
    return text;
  }
  std::string prefix = "hex:";
  if (value.type != REG_BINARY) {
    char typed[24];
    std::snprintf(typed, sizeof typed, "hex(%x):", value.type);
    prefix = typed;
  }
  return prefix + HexList(value.data);
}

void SerializeKey(const RegistryKey& key, const std::string& path, bool isRoot, std::string* out) {
  if (!key.values.empty() || (!isRoot && key.subkeys.empty())) {
    *out += "[" + path + "]\n";
    for (const RegistryValue& value : key.values) {
      const std::string name = value.name.empty() ? "@" : Quoted(value.name);
      *out += name + "=" + DataText(value) + "\n";
    }
    *out += "\n";
  }
  for (const auto& [name, subkey] : key.subkeys) SerializeKey(*subkey, path + "\\" + Utf8FromWide(subkey->name), false, out);
}

std::string LineError(size_t line, const char* reason) { return "line " + std::to_string(line) + ": " + reason; }

}  // namespace

bool NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const wint_t x = std::towlower(a[i]);
    const wint_t y = std::towlower(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) { return !NoCaseLess()(a, b) && !NoCaseLess()(b, a); }

RegistryValue* RegistryKey::FindValue(const std::wstring& valueName) {
  for (RegistryValue& value : values) {
    if (EqualNoCase(value.name, valueName)) return &value;
  }
  return nullptr;
}

RegistryKey* RegistryKey::FindSubkey(const std::wstring& subkeyName) {
  const auto found = subkeys.find(subkeyName);
  return found != subkeys.end() ? found->second.get() : nullptr;
}

std::vector<std::wstring> SplitRegistryPath(const std::wstring& path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find(L'\\', start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

RegistryTree::RegistryTree() {
  for (int i = 0; i < kRegistryRootCount; ++i) {
    roots_[i] = std::make_unique<RegistryKey>();
    roots_[i]->name = WideFromUtf8(kRootNames[i]);
  }
}

RegistryKey* RegistryTree::Find(RegistryRoot root, const std::wstring& path) {
  RegistryKey* key = &Root(root);
  for (const std::wstring& part : SplitRegistryPath(path)) {
    key = key->FindSubkey(part);
    if (key == nullptr) return nullptr;
  }
  return key;
}

RegistryKey* RegistryTree::Create(RegistryRoot root, const std::wstring& path, bool* created) {
  RegistryKey* key = &Root(root);
  bool made = false;
  const std::vector<std::wstring> parts = SplitRegistryPath(path);
  if (parts.size() > kMaxRegistryKeyDepth) return nullptr;
  for (const std::wstring& part : parts) {
    RegistryKey* next = key->FindSubkey(part);
    made = next == nullptr;
    if (made) {
      auto fresh = std::make_unique<RegistryKey>();
      fresh->name = part;
      next = fresh.get();
      key->subkeys.emplace(part, std::move(fresh));
    }
    key = next;
  }
  if (created != nullptr) *created = made;
  return key;
}

bool RegistryTree::Remove(RegistryRoot root, const std::wstring& path) {
  std::vector<std::wstring> parts = SplitRegistryPath(path);
  if (parts.empty()) {
    RegistryKey& top = Root(root);
    top.values.clear();
    top.subkeys.clear();
    return true;
  }
  const std::wstring last = parts.back();
  parts.pop_back();
  RegistryKey* parent = &Root(root);
  for (const std::wstring& part : parts) {
    parent = parent->FindSubkey(part);
    if (parent == nullptr) return false;
  }
  return parent->subkeys.erase(last) != 0;
}

bool RegistryTree::Parse(const std::string& text, std::string* error) {
  *this = RegistryTree();
  size_t pos = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  size_t lineNumber = 0;
  bool headerSeen = false;
  RegistryKey* current = nullptr;
  auto fail = [&](size_t line, const char* reason) {
    *this = RegistryTree();
    *error = LineError(line, reason);
    return false;
  };
  while (pos < text.size()) {
    const size_t firstLine = ++lineNumber;
    size_t end = std::min(text.find('\n', pos), text.size());
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A long hex value goes on after a trailing backslash.
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos && pos < text.size()) {
      line.pop_back();
      ++lineNumber;
      end = std::min(text.find('\n', pos), text.size());
      std::string more = text.substr(pos, end - pos);
      pos = end + 1;
      if (!more.empty() && more.back() == '\r') more.pop_back();
      line += more.substr(std::min(more.find_first_not_of(" \t"), more.size()));
    }
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    line = line.substr(first);
    if (!headerSeen) {
      if (line != kHeader) return fail(firstLine, "not a registry export (the first line must be the header)");
      headerSeen = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') return fail(firstLine, "a key line must end with ']'");
      const std::wstring path = WideFromUtf8(line.substr(1, line.size() - 2));
      const size_t slash = std::min(path.find(L'\\'), path.size());
      const std::wstring rootName = path.substr(0, slash);
      int root = -1;
      for (int i = 0; i < kRegistryRootCount; ++i) {
        if (EqualNoCase(rootName, roots_[i]->name)) root = i;
      }
      if (root < 0) return fail(firstLine, "unknown root key");
      current = Create(static_cast<RegistryRoot>(root), path.substr(std::min(slash + 1, path.size())), nullptr);
      if (current == nullptr) return fail(firstLine, "key nested too deep");
      continue;
    }
    if (current == nullptr) return fail(firstLine, "a value before any key");
    RegistryValue value;
    size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (!ReadQuoted(line, &at, &value.name)) {
      return fail(firstLine, "a value name must be quoted");
    }
    if (at >= line.size() || line[at] != '=') return fail(firstLine, "'=' expected after the value name");
    if (!ReadValueData(line.substr(at + 1), &value)) return fail(firstLine, "malformed value data");
    if (RegistryValue* existing = current->FindValue(value.name)) {
      *existing = std::move(value);
    } else {
      current->values.push_back(std::move(value));
    }
  }
  if (!headerSeen && !text.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos) {
    return fail(1, "not a registry export");
  }
  return true;
}

std::string RegistryTree::Serialize() const {
  std::string out = std::string(kHeader) + "\n\n";
  for (int i = 0; i < kRegistryRootCount; ++i) SerializeKey(*roots_[i], kRootNames[i], true, &out);
  return out;
}
