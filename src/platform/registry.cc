#include "platform/registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct HKEY__ {
  RegistryRoot root;
  std::wstring path;
  bool writable;
};

namespace {

// A registry is a few kilobytes; anything near this is not one of ours.
constexpr off_t kMaxRegistryFileSize = 16 << 20;
constexpr DWORD kMaxValueSize = 1 << 20;

struct Store {
  std::recursive_mutex lock;  // innermost; see the header
  int depth = 0;              // transaction depth
  int lockFd = -1;            // holds the file lock while depth > 0
  LONG loadResult = ERROR_SUCCESS;
  bool dirty = false;
  RegistryTree tree;
  std::set<const HKEY__*> handles;  // open handles, to refuse stale ones
};

Store& TheStore() {
  static Store store;
  return store;
}

thread_local std::string lastFileError;

LONG Fail(const std::string& what, LONG code) {
  lastFileError = what;
  return code;
}

LONG LoadFile(const std::string& path, RegistryTree* tree) {
  lastFileError.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      *tree = RegistryTree();
      return ERROR_SUCCESS;
    }
    return Fail(path + ": " + std::strerror(errno), static_cast<LONG>(Win32ErrorFromErrno(errno)));
  }
  struct stat info {};
  std::string text;
  LONG result = ERROR_SUCCESS;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    result = Fail(path + ": not a regular file", ERROR_BADDB);
  } else if (info.st_size > kMaxRegistryFileSize) {
    result = Fail(path + ": too large for a registry file", ERROR_BADDB);
  } else {
    text.resize(static_cast<size_t>(info.st_size));
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got);
  }
  ::close(fd);
  if (result != ERROR_SUCCESS) return result;
  std::string error;
  if (!tree->Parse(text, &error)) return Fail(path + ": " + error, ERROR_BADDB);
  return ERROR_SUCCESS;
}

LONG SaveFile(const std::string& path, const RegistryTree& tree) {
  const std::string text = tree.Serialize();
  const std::string temporary = path + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(temporary + ": " + std::strerror(errno), ERROR_CANTWRITE);
  size_t put = 0;
  bool ok = true;
  while (put < text.size()) {
    const ssize_t n = ::write(fd, text.data() + put, text.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    put += static_cast<size_t>(n);
  }
  const int savedErrno = errno;
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(ok ? errno : savedErrno);
    ::unlink(temporary.c_str());
    return Fail(path + ": " + reason, ERROR_CANTWRITE);
  }
  return ERROR_SUCCESS;
}

// Under store.lock.
LONG BeginWrite(Store& store) {
  if (store.depth++ > 0) return store.loadResult;
  store.dirty = false;
  const std::string path = RegistryFilePath();
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  store.lockFd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (store.lockFd < 0) {
    store.loadResult = Fail(path + ".lock: " + std::strerror(errno), ERROR_CANTWRITE);
    return store.loadResult;
  }
  while (::flock(store.lockFd, LOCK_EX) != 0 && errno == EINTR) {
  }
  store.loadResult = LoadFile(path, &store.tree);
  return store.loadResult;
}

// Under store.lock; the outermost end writes.
LONG EndWrite(Store& store) {
  if (--store.depth > 0) return store.loadResult;
  LONG result = store.loadResult;
  if (result == ERROR_SUCCESS && store.dirty) result = SaveFile(RegistryFilePath(), store.tree);
  if (store.lockFd >= 0) ::close(store.lockFd);  // releases the lock
  store.lockFd = -1;
  store.dirty = false;
  store.tree = RegistryTree();
  return result;
}

// One call's view of the registry: the transaction's copy when one is
// open, else a fresh read (and, for a change, its own read-modify-write).
class Access {
 public:
  explicit Access(bool write) : store_(TheStore()), hold_(store_.lock), write_(write) {
    if (write_) {
      result_ = BeginWrite(store_);
      tree_ = &store_.tree;
    } else if (store_.depth > 0) {
      result_ = store_.loadResult;
      tree_ = &store_.tree;
    } else {
      result_ = LoadFile(RegistryFilePath(), &own_);
      tree_ = &own_;
    }
  }
  ~Access() {
    if (write_ && !ended_) EndWrite(store_);
  }

  LONG Result() const { return result_; }
  RegistryTree& Tree() { return *tree_; }
  void Changed() { store_.dirty = true; }
  bool KnownHandle(HKEY key) const { return store_.handles.count(key) != 0; }
  HKEY NewHandle(RegistryRoot root, std::wstring path, bool writable) {
    auto* handle = new HKEY__{root, std::move(path), writable};
    store_.handles.insert(handle);
    return handle;
  }
  void CloseHandle(HKEY key) {
    store_.handles.erase(key);
    delete key;
  }
  // Ends a change: the write's result when the call's own change is saved.
  LONG Finish(LONG result) {
    ended_ = true;
    const LONG saved = write_ ? EndWrite(store_) : ERROR_SUCCESS;
    return result == ERROR_SUCCESS ? saved : result;
  }

 private:
  Store& store_;
  std::lock_guard<std::recursive_mutex> hold_;
  bool write_;
  bool ended_ = false;
  LONG result_ = ERROR_SUCCESS;
  RegistryTree own_;
  RegistryTree* tree_ = nullptr;
};

bool PredefinedRoot(HKEY key, RegistryRoot* root) {
  if (key == HKEY_CLASSES_ROOT) *root = RegistryRoot::kClassesRoot;
  else if (key == HKEY_LOCAL_MACHINE) *root = RegistryRoot::kLocalMachine;
  else if (key == HKEY_CURRENT_USER) *root = RegistryRoot::kCurrentUser;
  else return false;
  return true;
}

struct Resolved {
  RegistryRoot root = RegistryRoot::kClassesRoot;
  std::wstring path;
  bool writable = true;
};

LONG Resolve(const Access& access, HKEY key, Resolved* out) {
  if (PredefinedRoot(key, &out->root)) return ERROR_SUCCESS;
  if (key == nullptr || !access.KnownHandle(key)) return ERROR_INVALID_HANDLE;
  *out = {key->root, key->path, key->writable};
  return ERROR_SUCCESS;
}

std::wstring Join(const std::wstring& path, LPCWSTR subKey) {
  if (subKey == nullptr || *subKey == L'\0') return path;
  return path.empty() ? std::wstring(subKey) : path + L"\\" + subKey;
}

// The key a handle names, or the reason it cannot be used.
LONG KeyOf(Access& access, HKEY key, bool forWrite, RegistryKey** out) {
  if (access.Result() != ERROR_SUCCESS) return access.Result();
  Resolved at;
  const LONG hr = Resolve(access, key, &at);
  if (hr != ERROR_SUCCESS) return hr;
  if (forWrite && !at.writable) return ERROR_ACCESS_DENIED;
  *out = access.Tree().Find(at.root, at.path);
  return *out != nullptr ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG CopyOut(const std::vector<BYTE>& bytes, BYTE* data, DWORD* size) {
  if (size == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  const DWORD needed = static_cast<DWORD>(bytes.size());
  const DWORD room = *size;
  *size = needed;
  if (data == nullptr) return ERROR_SUCCESS;
  if (room < needed) return ERROR_MORE_DATA;
  if (needed != 0) std::memcpy(data, bytes.data(), needed);
  return ERROR_SUCCESS;
}

LONG CopyName(const std::wstring& text, LPWSTR name, DWORD* nameLength) {
  if (name == nullptr || nameLength == nullptr) return ERROR_INVALID_PARAMETER;
  if (*nameLength < text.size() + 1) return ERROR_MORE_DATA;
  std::wmemcpy(name, text.c_str(), text.size() + 1);
  *nameLength = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

bool WantsWrite(REGSAM access) { return (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0; }

}  // namespace

std::string RegistryFilePath() {
  if (const char* path = std::getenv("ISODMX_REGISTRY"); path != nullptr && *path != '\0') return path;
  std::string base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.local/share";
  }
  return base + "/isodmx/registry.reg";
}

std::string RegistryFileError() { return lastFileError; }

CRegistryTransaction::CRegistryTransaction() {
  Store& store = TheStore();
  store.lock.lock();
  BeginWrite(store);
}

CRegistryTransaction::~CRegistryTransaction() { Commit(); }

LONG CRegistryTransaction::Commit() {
  if (committed_) return ERROR_SUCCESS;
  committed_ = true;
  Store& store = TheStore();
  const LONG result = EndWrite(store);
  store.lock.unlock();
  return result;
}

LONG RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access, void*, PHKEY result,
                    DWORD* disposition) {
  if (result == nullptr || subKey == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Access view(true);
  RegistryKey* parent = nullptr;
  LONG hr = KeyOf(view, key, false, &parent);
  if (hr != ERROR_SUCCESS) return view.Finish(hr);
  Resolved at;
  Resolve(view, key, &at);
  const std::wstring path = Join(at.path, subKey);
  bool created = false;
  if (view.Tree().Create(at.root, path, &created) == nullptr) return view.Finish(ERROR_INVALID_PARAMETER);
  if (created) view.Changed();
  hr = view.Finish(ERROR_SUCCESS);
  if (hr != ERROR_SUCCESS) return hr;
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = view.NewHandle(at.root, path, WantsWrite(access) || access == 0);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Access view(false);
  RegistryKey* parent = nullptr;
  const LONG hr = KeyOf(view, key, false, &parent);
  if (hr != ERROR_SUCCESS) return hr;
  Resolved at;
  Resolve(view, key, &at);
  const std::wstring path = Join(at.path, subKey);
  if (view.Tree().Find(at.root, path) == nullptr) return ERROR_FILE_NOT_FOUND;
  *result = view.NewHandle(at.root, path, WantsWrite(access));
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  RegistryRoot root;
  if (PredefinedRoot(key, &root)) return ERROR_SUCCESS;
  Access view(false);
  if (key == nullptr || !view.KnownHandle(key)) return ERROR_INVALID_HANDLE;
  view.CloseHandle(key);
  return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (size > kMaxValueSize || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  RegistryValue value;
  value.name = valueName != nullptr ? valueName : L"";
  value.type = type;
  if (size != 0) value.data.assign(data, data + size);
  if (type == REG_SZ) {
    std::wstring chars(size / sizeof(WCHAR), L'\0');
    if (!chars.empty()) std::memcpy(chars.data(), data, chars.size() * sizeof(WCHAR));
    chars.resize(std::wcslen(chars.c_str()));
    chars.push_back(L'\0');
    const auto* bytes = reinterpret_cast<const BYTE*>(chars.data());
    value.data.assign(bytes, bytes + chars.size() * sizeof(WCHAR));
  }
  Access view(true);
  RegistryKey* target = nullptr;
  const LONG hr = KeyOf(view, key, true, &target);
  if (hr != ERROR_SUCCESS) return view.Finish(hr);
  if (RegistryValue* existing = target->FindValue(value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
  } else {
    target->values.push_back(std::move(value));
  }
  view.Changed();
  return view.Finish(ERROR_SUCCESS);
}

LONG RegQueryValueEx(HKEY key, LPCWSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  Access view(false);
  RegistryKey* target = nullptr;
  const LONG hr = KeyOf(view, key, false, &target);
  if (hr != ERROR_SUCCESS) return hr;
  const RegistryValue* value = target->FindValue(valueName != nullptr ? valueName : L"");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  return CopyOut(value->data, data, size);
}

LONG RegEnumValue(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD*, DWORD* type, BYTE* data,
                  DWORD* size) {
  Access view(false);
  RegistryKey* target = nullptr;
  const LONG hr = KeyOf(view, key, false, &target);
  if (hr != ERROR_SUCCESS) return hr;
  if (index >= target->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegistryValue& value = target->values[index];
  const LONG named = CopyName(value.name, name, nameLength);
  if (named != ERROR_SUCCESS) return named;
  if (type != nullptr) *type = value.type;
  return CopyOut(value.data, data, size);
}

LONG RegEnumKeyEx(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD*, LPWSTR, DWORD* classLength,
                  void*) {
  Access view(false);
  RegistryKey* target = nullptr;
  const LONG hr = KeyOf(view, key, false, &target);
  if (hr != ERROR_SUCCESS) return hr;
  if (index >= target->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = target->subkeys.begin();
  std::advance(it, index);
  if (classLength != nullptr) *classLength = 0;
  return CopyName(it->second->name, name, nameLength);
}

LONG RegDeleteValue(HKEY key, LPCWSTR valueName) {
  Access view(true);
  RegistryKey* target = nullptr;
  const LONG hr = KeyOf(view, key, true, &target);
  if (hr != ERROR_SUCCESS) return view.Finish(hr);
  const std::wstring wanted = valueName != nullptr ? valueName : L"";
  for (auto it = target->values.begin(); it != target->values.end(); ++it) {
    if (EqualNoCase(it->name, wanted)) {
      target->values.erase(it);
      view.Changed();
      return view.Finish(ERROR_SUCCESS);
    }
  }
  return view.Finish(ERROR_FILE_NOT_FOUND);
}

LONG RegDeleteTree(HKEY key, LPCWSTR subKey) {
  Access view(true);
  RegistryKey* target = nullptr;
  const LONG hr = KeyOf(view, key, false, &target);
  if (hr != ERROR_SUCCESS) return view.Finish(hr);
  Resolved at;
  Resolve(view, key, &at);
  if (subKey == nullptr || *subKey == L'\0') {
    if (!target->values.empty() || !target->subkeys.empty()) view.Changed();
    target->values.clear();
    target->subkeys.clear();
    return view.Finish(ERROR_SUCCESS);
  }
  if (!view.Tree().Remove(at.root, Join(at.path, subKey))) return view.Finish(ERROR_FILE_NOT_FOUND);
  view.Changed();
  return view.Finish(ERROR_SUCCESS);
}

bool RegReadString(HKEY root, const std::wstring& subKey, const std::wstring& valueName, std::wstring* out) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  bool ok = RegQueryValueEx(key, valueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
            type == REG_SZ && size >= sizeof(WCHAR);
  if (ok) {
    std::wstring text(size / sizeof(WCHAR), L'\0');
    ok = RegQueryValueEx(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) ==
         ERROR_SUCCESS;
    text.resize(std::wcslen(text.c_str()));
    if (ok) *out = std::move(text);
  }
  RegCloseKey(key);
  return ok;
}

LONG RegSetString(HKEY key, LPCWSTR valueName, const std::wstring& text) {
  return RegSetValueEx(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

std::vector<std::wstring> RegSubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    // Registry key names are at most 255 characters.
    wchar_t name[256];
    DWORD length = static_cast<DWORD>(std::size(name));
    const LONG hr = RegEnumKeyEx(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (hr == ERROR_MORE_DATA) continue;
    if (hr != ERROR_SUCCESS) return names;
    names.emplace_back(name);
  }
}
