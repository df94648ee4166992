#include "container/byte_buffer.h"

#include "platform/code_page.h"
#include "platform/task_memory.h"
#include "platform/win32_error.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <utility>

namespace {

// A wide length with this bit set is taken as a corrupt count.
constexpr LONG kWideLengthLimitBit = 0x40000000;

void ReleaseCrt(void* block) { std::free(block); }
void* ReallocateCrt(void* block, size_t bytes) { return std::realloc(block, bytes); }

// The process heap is the C heap here; it keeps its own entry points so that
// what CHeapBuffer allocates is visibly released to the same heap.
void* ProcessHeapAllocate(size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }
void ProcessHeapRelease(void* block) { std::free(block); }
void* ReallocateProcessHeap(void* block, size_t bytes) {
  if (block == nullptr) return ProcessHeapAllocate(bytes);
  return std::realloc(block, bytes == 0 ? 1 : bytes);
}

}  // namespace

CBaseBuffer::~CBaseBuffer() { ReleaseStorage(); }

void CBaseBuffer::ReleaseStorage() {
  if (data_ != nullptr) release_(data_);
  data_ = nullptr;
  length_ = 0;
  capacity_ = 0;
}

void CBaseBuffer::Free() { ReleaseStorage(); }

bool CBaseBuffer::Reserve(LONG bytes) {
  if (capacity_ >= bytes) return true;
  void* grown = reallocate_(data_, static_cast<size_t>(bytes));
  if (grown == nullptr) return false;
  data_ = static_cast<BYTE*>(grown);
  capacity_ = bytes;
  return true;
}

HRESULT CBaseBuffer::ReserveTotal(LONGLONG bytes) {
  if (bytes < 0 || bytes > INT32_MAX) return E_OUTOFMEMORY;
  return Reserve(static_cast<LONG>(bytes)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBaseBuffer::Append(const void* bytes, LONG count) {
  if (count < 0 || (bytes == nullptr && count > 0)) return E_INVALIDARG;
  const HRESULT hr = ReserveTotal(static_cast<LONGLONG>(length_) + count);
  if (FAILED(hr)) return hr;
  if (count > 0) std::memmove(data_ + length_, bytes, static_cast<size_t>(count));
  length_ += count;
  return S_OK;
}

HRESULT CBaseBuffer::AppendByte(BYTE value) { return Append(&value, 1); }

HRESULT CBaseBuffer::Assign(const void* bytes, LONG count) {
  if (count < 0) return E_INVALIDARG;
  const HRESULT hr = ReserveTotal(count);
  if (FAILED(hr)) return hr;
  if (count > 0) {
    if (bytes != nullptr) {
      std::memmove(data_, bytes, static_cast<size_t>(count));
    } else {
      std::memset(data_, 0, static_cast<size_t>(count));
    }
  }
  length_ = count;
  return S_OK;
}

HRESULT CBaseBuffer::GetWritePointer(BYTE** out, LONG count) {
  if (out == nullptr) return E_POINTER;
  if (count < 0) return E_INVALIDARG;
  const HRESULT hr = ReserveTotal(static_cast<LONGLONG>(length_) + count);
  if (FAILED(hr)) return hr;
  *out = data_ + length_;
  return S_OK;
}

HRESULT CBaseBuffer::ReserveMore(LONG count) {
  if (count < 0) return E_INVALIDARG;
  return ReserveTotal(static_cast<LONGLONG>(length_) + count);
}

HRESULT CBaseBuffer::Swap(CBaseBuffer* other) {
  if (other == nullptr) return E_POINTER;
  std::swap(data_, other->data_);
  std::swap(length_, other->length_);
  std::swap(capacity_, other->capacity_);
  return S_OK;
}

HRESULT CBaseBuffer::SetLength(LONG length) {
  if (length < 0 || length > capacity_) return E_INVALIDARG;
  length_ = length;
  return S_OK;
}

void CBaseBuffer::DropTrailingNul() {
  if (length_ > 0 && data_[length_ - 1] == 0) --length_;
}

HRESULT CBaseBuffer::TerminateText() {
  if (length_ > 0 && data_[length_ - 1] == 0) return S_OK;
  return AppendByte(0);
}

void CBaseBuffer::TrimTrailingNuls() {
  while (length_ > 0 && data_[length_ - 1] == 0) --length_;
}

HRESULT CBaseBuffer::AppendConvertedText(const char* text, size_t length) {
  // The old terminator goes only once the new text surely fits, so that a
  // failure leaves the text as it was.
  const bool hadNul = length_ > 0 && data_[length_ - 1] == 0;
  const LONGLONG total = static_cast<LONGLONG>(length_) - (hadNul ? 1 : 0) + static_cast<LONGLONG>(length) + 1;
  HRESULT hr = ReserveTotal(total);
  if (FAILED(hr)) return hr;
  DropTrailingNul();
  hr = Append(text, static_cast<LONG>(length));
  if (FAILED(hr)) return hr;
  return TerminateText();
}

HRESULT CBaseBuffer::AppendText(char value) { return AppendConvertedText(&value, 1); }

HRESULT CBaseBuffer::AppendText(const CBaseBuffer& other) {
  LONG length = other.length_;
  if (length > 0 && other.data_[length - 1] == 0) --length;
  // Copied first: appending a buffer to itself may move the bytes it reads.
  const std::string text(reinterpret_cast<const char*>(other.data_), static_cast<size_t>(length));
  return AppendConvertedText(text.data(), text.size());
}

HRESULT CBaseBuffer::AppendText(const WCHAR* text, LONG length, UINT codePage) {
  if (length >= 0 && (length & kWideLengthLimitBit) != 0) return E_INVALIDARG;
  if (text == nullptr && length != 0) return E_POINTER;
  const size_t count = length < 0 ? std::wcslen(text) + 1 : static_cast<size_t>(length);
  std::string converted;
  if (!AppendWideAsCodePage(codePage, text, count, &converted)) return E_INVALIDARG;
  return AppendConvertedText(converted.data(), converted.size());
}

HRESULT CBaseBuffer::Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const HRESULT hr = FormatV(format, arguments);
  va_end(arguments);
  return hr;
}

HRESULT CBaseBuffer::FormatV(const char* format, va_list arguments) {
  const LONG oldLength = length_;
  length_ = 0;
  const HRESULT hr = AppendFormatted(format, arguments);
  if (FAILED(hr)) length_ = oldLength;
  return hr;
}

HRESULT CBaseBuffer::AppendFormat(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const HRESULT hr = AppendFormatV(format, arguments);
  va_end(arguments);
  return hr;
}

HRESULT CBaseBuffer::AppendFormatV(const char* format, va_list arguments) {
  const LONG oldLength = length_;
  DropTrailingNul();
  const HRESULT hr = AppendFormatted(format, arguments);
  if (FAILED(hr)) length_ = oldLength;
  return hr;
}

HRESULT CBaseBuffer::AppendFormatted(const char* format, va_list arguments) {
  if (format == nullptr) return E_POINTER;
  va_list counting;
  va_copy(counting, arguments);
  const int count = std::vsnprintf(nullptr, 0, format, counting);
  va_end(counting);
  if (count < 0) return E_INVALIDARG;
  BYTE* at = nullptr;
  const LONGLONG withNul = static_cast<LONGLONG>(count) + 1;
  if (withNul > INT32_MAX) return E_OUTOFMEMORY;
  const HRESULT hr = GetWritePointer(&at, static_cast<LONG>(withNul));
  if (FAILED(hr)) return hr;
  std::vsnprintf(reinterpret_cast<char*>(at), static_cast<size_t>(withNul), format, arguments);
  length_ += static_cast<LONG>(withNul);
  return S_OK;
}

HRESULT CBaseBuffer::ToWide(WCHAR* out, LONG capacity, UINT codePage) {
  if (out == nullptr) return E_POINTER;
  HRESULT hr = TerminateText();
  if (FAILED(hr)) return hr;
  std::wstring wide;
  const char* text = reinterpret_cast<const char*>(data_);
  if (!AppendCodePageAsWide(codePage, text, std::strlen(text), &wide)) return E_INVALIDARG;
  if (capacity < 0 || wide.size() + 1 > static_cast<size_t>(capacity)) {
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  std::wmemcpy(out, wide.c_str(), wide.size() + 1);
  return S_OK;
}

HRESULT CBaseBuffer::ToBstr(BSTR* out, UINT codePage) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  HRESULT hr = TerminateText();
  if (FAILED(hr)) return hr;
  std::wstring wide;
  const char* text = reinterpret_cast<const char*>(data_);
  if (!AppendCodePageAsWide(codePage, text, std::strlen(text), &wide)) return E_INVALIDARG;
  *out = SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

CBuffer::CBuffer() : CBaseBuffer(ReleaseCrt, ReallocateCrt) {}

CBuffer::~CBuffer() = default;

void CBuffer::Free() {
  side_.reset();
  ReleaseStorage();
}

HRESULT CBuffer::SetSideData(const void* bytes, LONG count) {
  if (bytes == nullptr || count == 0) {
    side_.reset();
    return S_OK;
  }
  if (!side_) {
    side_.reset(new (std::nothrow) CBuffer);
    if (!side_) return E_OUTOFMEMORY;
  }
  return side_->Assign(bytes, count);
}

void CBuffer::GetSideData(const BYTE** out, LONG* length) const {
  if (out != nullptr) *out = side_ ? side_->Data() : nullptr;
  if (length != nullptr) *length = side_ ? side_->Length() : 0;
}

CHeapBuffer::CHeapBuffer() : CBaseBuffer(ProcessHeapRelease, ReallocateProcessHeap) {}

CHeapBuffer::~CHeapBuffer() = default;

void* CHeapBuffer::operator new(size_t bytes) {
  void* block = ProcessHeapAllocate(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* CHeapBuffer::operator new(size_t bytes, const std::nothrow_t&) noexcept { return ProcessHeapAllocate(bytes); }

void CHeapBuffer::operator delete(void* block) { ProcessHeapRelease(block); }
