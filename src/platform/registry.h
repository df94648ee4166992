// The registry: HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER
// with REG_SZ, REG_DWORD and REG_BINARY values, behind the Win32-shaped
// calls, kept in one text file (RegistryTree's format) at
// $ISODMX_REGISTRY, else $XDG_DATA_HOME/isodmx/registry.reg, else
// ~/.local/share/isodmx/registry.reg.
//
// Every call reads the file afresh; a change is read-modify-written under
// an advisory lock on "<file>.lock" and lands by renaming a finished
// temporary file over the old one, so readers never see half a file and
// concurrent writers lose nothing. A CRegistryTransaction stretches one
// read-modify-write over many calls (a read-then-write such as a usage
// count must not interleave with another process's).
//
// A file that does not parse makes every call fail with ERROR_BADDB and is
// never written; RegistryFileError() says where it broke.
//
// Threads: any. One process-wide re-entrant lock serialises the calls; a
// transaction holds it (and the file lock) from its start to its end, so
// it is the innermost lock of whoever opens one.
#pragma once

#include "platform/registry_tree.h"
#include "platform/win32_error.h"

#include <string>
#include <vector>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u));

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// The calls return Win32 codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND,
// ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_INVALID_HANDLE,
// ERROR_ACCESS_DENIED for a write through a key opened without write
// access, ERROR_KEY_DELETED for a key removed since it was opened,
// ERROR_BADDB, ERROR_CANTWRITE). Class, security and reserved arguments are
// accepted and ignored.
LONG RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                    void* security, PHKEY result, DWORD* disposition);
LONG RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCloseKey(HKEY key);
// REG_SZ data is wide characters; a missing terminating null is added.
LONG RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// With data null, *size gets the size needed; ERROR_MORE_DATA when the
// buffer is too small (and *size the size needed).
LONG RegQueryValueEx(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
// *nameLength is in characters, in: the buffer's, out: without the null.
LONG RegEnumValue(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved, DWORD* type, BYTE* data,
                  DWORD* size);
LONG RegEnumKeyEx(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved, LPWSTR keyClass,
                  DWORD* classLength, void* lastWriteTime);
LONG RegDeleteValue(HKEY key, LPCWSTR valueName);
// Deletes `subKey` and everything below it; null deletes what is below
// `key` and its values.
LONG RegDeleteTree(HKEY key, LPCWSTR subKey);

// Holds the file lock and one loaded copy of the registry from its
// construction to Commit or destruction; every registry call of this
// process made meanwhile (other threads wait) works on that copy. Nested
// transactions join the outer one.
class CRegistryTransaction {
 public:
  CRegistryTransaction();
  ~CRegistryTransaction();  // commits what Commit was not called for
  CRegistryTransaction(const CRegistryTransaction&) = delete;
  CRegistryTransaction& operator=(const CRegistryTransaction&) = delete;

  // ERROR_SUCCESS, or why the file could not be read or written. The
  // outermost transaction writes; an inner one only reports.
  LONG Commit();

 private:
  bool committed_ = false;
};

// The file the registry is kept in.
std::string RegistryFilePath();
// "<path>: line N: reason" for a file that does not parse, or what failed
// in the last load or save of this thread; empty when all went well.
std::string RegistryFileError();

// REG_SZ from a wide string.
LONG RegSetString(HKEY key, LPCWSTR valueName, const std::wstring& text);
// The names of the key's subkeys, in enumeration order.
std::vector<std::wstring> RegSubkeyNames(HKEY key);
// A registry call's result as an HRESULT (ERROR_SUCCESS is S_OK).
inline HRESULT HResultFromRegistry(LONG code) { return HRESULT_FROM_WIN32(static_cast<DWORD>(code)); }

// Convenience for the callers that read one string: the REG_SZ value
// `valueName` (empty for the default) of the key, or nothing.
bool RegReadString(HKEY root, const std::wstring& subKey, const std::wstring& valueName, std::wstring* out);
