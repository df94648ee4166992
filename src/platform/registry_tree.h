// RegistryTree: the registry's keys and values in memory, and their text
// form, the "Windows Registry Editor Version 5.00" export format in UTF-8:
//
//   [HKEY_CLASSES_ROOT\CLSID\{...}]
//   @="default value"
//   "Name"="text"            REG_SZ, with \\ and \" escaped
//   "Count"=dword:00000002   REG_DWORD
//   "Data"=hex:02,00,ff      REG_BINARY (lines may go on after a '\')
//
// Key and value names compare without regard to letter case and keep the
// case they were created with. Not thread-safe: the store owns it.
#pragma once

#include "platform/wintypes.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

struct NoCaseLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};
bool EqualNoCase(const std::wstring& a, const std::wstring& b);

struct RegistryValue {
  std::wstring name;  // empty for the default value
  DWORD type = REG_NONE;
  // REG_SZ: the wide characters with their terminating null, as the
  // Win32 calls hand them out.
  std::vector<BYTE> data;
};

struct RegistryKey {
  std::wstring name;
  std::vector<RegistryValue> values;  // in the order they were first set
  std::map<std::wstring, std::unique_ptr<RegistryKey>, NoCaseLess> subkeys;

  RegistryValue* FindValue(const std::wstring& valueName);
  RegistryKey* FindSubkey(const std::wstring& subkeyName);
};

// As on the platform; it also bounds the recursion of copying and freeing.
inline constexpr size_t kMaxRegistryKeyDepth = 512;

// The three roots, in the order the file lists them.
enum class RegistryRoot { kClassesRoot, kLocalMachine, kCurrentUser };
inline constexpr int kRegistryRootCount = 3;

class RegistryTree {
 public:
  RegistryTree();

  RegistryKey& Root(RegistryRoot root) { return *roots_[static_cast<int>(root)]; }

  // The key at `path` ("A\B\C"; empty is the root itself), or null.
  RegistryKey* Find(RegistryRoot root, const std::wstring& path);
  // Creates the missing keys along `path`; *created tells whether the last
  // one was new. Null for a path deeper than kMaxRegistryKeyDepth.
  RegistryKey* Create(RegistryRoot root, const std::wstring& path, bool* created);
  // Removes the key at `path` with everything under it; false when absent.
  // The root itself cannot be removed, only emptied.
  bool Remove(RegistryRoot root, const std::wstring& path);

  // Replaces the tree with the text; on a malformed line returns false with
  // "line N: reason" in *error and the tree left empty.
  bool Parse(const std::string& text, std::string* error);
  std::string Serialize() const;

 private:
  std::unique_ptr<RegistryKey> roots_[kRegistryRootCount];
};

// Splits "A\B\C" into its non-empty parts.
std::vector<std::wstring> SplitRegistryPath(const std::wstring& path);
