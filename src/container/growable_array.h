// GrowableArray: a counted array of plain entries that grows in steps, used
// for the sample tables, the track list and the source list.
//
// Its errors are exceptions, as the callers' contracts expect: an index
// outside the count raises E_INVALIDARG, and Append that cannot grow raises
// E_OUTOFMEMORY (both as ArrayError). SetCount is the one exception to the
// rule: it reports E_OUTOFMEMORY as a result, because the table handlers
// return it. Not thread-safe: the owner's lock guards it.
#pragma once

#include "platform/hresult.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <type_traits>

// An array error carrying its HRESULT.
class ArrayError : public std::exception {
 public:
  explicit ArrayError(HRESULT result) : result_(result) {}
  HRESULT Result() const { return result_; }
  const char* what() const noexcept override { return "growable array error"; }

 private:
  HRESULT result_;
};

template <class T>
class GrowableArray {
  static_assert(std::is_trivially_copyable_v<T>, "entries are moved with memcpy and zero-filled");

 public:
  static constexpr ULONG kDefaultGrowthStep = 32768;

  explicit GrowableArray(ULONG growthStep = kDefaultGrowthStep) : growthStep_(growthStep == 0 ? 1 : growthStep) {}
  GrowableArray(const GrowableArray&) = delete;
  GrowableArray& operator=(const GrowableArray&) = delete;
  ~GrowableArray() { std::free(data_); }

  ULONG Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  ULONG Capacity() const { return capacity_; }
  // Bytes held in storage, for memory accounting.
  size_t StorageBytes() const { return static_cast<size_t>(capacity_) * sizeof(T); }
  T* Data() { return data_; }
  const T* Data() const { return data_; }

  T& operator[](ULONG index) {
    if (index >= count_) throw ArrayError(E_INVALIDARG);
    return data_[index];
  }
  const T& operator[](ULONG index) const {
    if (index >= count_) throw ArrayError(E_INVALIDARG);
    return data_[index];
  }
  T& Last() { return (*this)[count_ - 1]; }
  const T& Last() const { return (*this)[count_ - 1]; }

  // Sets the count: storage for at least `count` entries, new entries
  // zero-filled; 0 frees the storage. E_OUTOFMEMORY leaves the array as it
  // was. The storage is not rounded up to the growth step: a count from a
  // file is usually final, and many small tables must stay small.
  HRESULT SetCount(ULONG count) {
    if (count == 0) {
      Free();
      return S_OK;
    }
    if (!Reserve(count, count)) return E_OUTOFMEMORY;
    if (count > count_) std::memset(static_cast<void*>(data_ + count_), 0, (count - count_) * sizeof(T));
    count_ = count;
    return S_OK;
  }

  // Adds one entry at the end; raises E_OUTOFMEMORY when it cannot grow.
  void Append(const T& value) {
    if (count_ == UINT32_MAX || !Reserve(count_ + 1, StepAbove(count_ + 1))) throw ArrayError(E_OUTOFMEMORY);
    data_[count_++] = value;
  }

  void Free() {
    std::free(data_);
    data_ = nullptr;
    count_ = 0;
    capacity_ = 0;
  }

 private:
  // `count` rounded up to the growth step, so that appending one entry at a
  // time reallocates once per step.
  ULONG StepAbove(ULONG count) const {
    const ULONGLONG steps = (static_cast<ULONGLONG>(count) + growthStep_ - 1) / growthStep_;
    return static_cast<ULONG>(std::min<ULONGLONG>(steps * growthStep_, UINT32_MAX));
  }

  // Room for `count` entries, allocating `capacity` when it must grow.
  bool Reserve(ULONG count, ULONG capacity) {
    if (count <= capacity_) return true;
    const ULONGLONG bytes = static_cast<ULONGLONG>(capacity) * sizeof(T);
    if (bytes > SIZE_MAX) return false;
    void* grown = std::realloc(data_, static_cast<size_t>(bytes));
    if (grown == nullptr) return false;
    data_ = static_cast<T*>(grown);
    capacity_ = capacity;
    return true;
  }

  T* data_ = nullptr;
  ULONG count_ = 0;
  ULONG capacity_ = 0;
  ULONG growthStep_;
};
