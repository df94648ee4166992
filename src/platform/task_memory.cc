#include "platform/task_memory.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

void* CoTaskMemAlloc(SIZE_T size) { return std::malloc(size == 0 ? 1 : size); }

void* CoTaskMemRealloc(void* block, SIZE_T size) { return std::realloc(block, size == 0 ? 1 : size); }

void CoTaskMemFree(void* block) { std::free(block); }

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);

uint32_t* PrefixOf(BSTR text) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - kPrefixBytes);
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  // The byte length must fit the 32-bit prefix.
  if (length > (UINT32_MAX - kPrefixBytes) / sizeof(OLECHAR) - 1) return nullptr;
  const size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  // The prefix is placed so that the characters keep wchar_t alignment.
  constexpr size_t kHeader = alignof(OLECHAR) > kPrefixBytes ? alignof(OLECHAR) : kPrefixBytes;
  auto* block = static_cast<char*>(std::malloc(kHeader + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  auto* chars = reinterpret_cast<OLECHAR*>(block + kHeader);
  *PrefixOf(chars) = static_cast<uint32_t>(bytes);
  if (text != nullptr) {
    std::memcpy(chars, text, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  chars[length] = L'\0';
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  constexpr size_t kHeader = alignof(OLECHAR) > kPrefixBytes ? alignof(OLECHAR) : kPrefixBytes;
  std::free(reinterpret_cast<char*>(text) - kHeader);
}

UINT SysStringByteLen(BSTR text) { return text == nullptr ? 0 : *PrefixOf(text); }

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }
