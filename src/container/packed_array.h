// PackedArray: a counted array of unsigned values kept at the narrowest
// width (1, 2, 4 or 8 bytes, never below kMinWidth) that holds every value
// stored so far. The per-sample and per-chunk tables are most of a long
// file's memory, and their values are mostly small: a sample of a few
// hundred bytes takes one byte, a chunk offset in a file under 4 GB four.
// A value that does not fit widens every entry in place, once per width;
// the width never narrows.
//
// Errors as GrowableArray's: an index outside the count raises E_INVALIDARG
// and Append that cannot grow raises E_OUTOFMEMORY (both as ArrayError);
// SetCount and Set report E_OUTOFMEMORY as their result. Not thread-safe:
// the owner's lock guards it.
#pragma once

#include "container/growable_array.h"

#include <cstring>

template <class T, unsigned kMinWidth = 1>
class PackedArray {
  static_assert(std::is_unsigned_v<T> && sizeof(T) <= 8);
  static_assert(kMinWidth == 1 || kMinWidth == 2 || kMinWidth == 4 || kMinWidth == 8);
  static_assert(kMinWidth <= sizeof(T));

 public:
  static constexpr ULONG kGrowthStep = GrowableArray<T>::kDefaultGrowthStep;

  PackedArray() = default;
  PackedArray(const PackedArray&) = delete;
  PackedArray& operator=(const PackedArray&) = delete;
  ~PackedArray() { std::free(data_); }

  ULONG Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  // Bytes per entry.
  unsigned Width() const { return width_; }
  size_t StorageBytes() const { return static_cast<size_t>(capacity_) * width_; }

  // The entry at `index`; the caller has checked it against the count.
  T At(ULONG index) const { return Load(data_, index, width_); }
  T operator[](ULONG index) const {
    if (index >= count_) throw ArrayError(E_INVALIDARG);
    return At(index);
  }
  T Last() const { return (*this)[count_ - 1]; }

  // Sets the count: new entries are 0; 0 frees the storage and returns to
  // the narrowest width. E_OUTOFMEMORY leaves the array as it was.
  HRESULT SetCount(ULONG count) {
    if (count == 0) {
      Free();
      return S_OK;
    }
    if (!Reserve(count, count, width_)) return E_OUTOFMEMORY;
    if (count > count_) std::memset(data_ + static_cast<size_t>(count_) * width_, 0, (count - count_) * size_t{width_});
    count_ = count;
    return S_OK;
  }

  // Stores `value` at `index` (within the count), widening the array when
  // it needs more bytes; E_OUTOFMEMORY leaves the array as it was.
  HRESULT Set(ULONG index, T value) {
    if (index >= count_) return E_INVALIDARG;
    if (value > maxValue_ && !Widen(WidthOf(value))) return E_OUTOFMEMORY;
    Store(data_, index, width_, value);
    return S_OK;
  }

  // Stores `count` values from `first` on (within the count), widening once
  // for the largest; E_OUTOFMEMORY leaves the array as it was.
  HRESULT SetRange(ULONG first, const T* values, ULONG count) {
    if (first > count_ || count > count_ - first) return E_INVALIDARG;
    if (count == 0) return S_OK;
    const T largest = *std::max_element(values, values + count);
    if (largest > maxValue_ && !Widen(WidthOf(largest))) return E_OUTOFMEMORY;
    switch (width_) {
      case 1:
        return StoreRange<uint8_t>(first, values, count);
      case 2:
        return StoreRange<uint16_t>(first, values, count);
      case 4:
        return StoreRange<uint32_t>(first, values, count);
      default:
        return StoreRange<uint64_t>(first, values, count);
    }
  }

  // The sum of the entries [first, last) (within the count), wrapping at 64
  // bits; one pass at the stored width.
  ULONGLONG Sum(ULONG first, ULONG last) const {
    switch (width_) {
      case 1:
        return SumRange<uint8_t>(first, last);
      case 2:
        return SumRange<uint16_t>(first, last);
      case 4:
        return SumRange<uint32_t>(first, last);
      default:
        return SumRange<uint64_t>(first, last);
    }
  }

  // Adds one entry at the end; raises E_OUTOFMEMORY when it cannot grow.
  void Append(T value) {
    const unsigned width = value > maxValue_ ? WidthOf(value) : width_;
    if (count_ == UINT32_MAX || !Reserve(count_ + 1, StepAbove(count_ + 1), width)) {
      throw ArrayError(E_OUTOFMEMORY);
    }
    Store(data_, count_++, width_, value);
  }

  // This array becomes a copy of `other`; E_OUTOFMEMORY leaves it empty.
  HRESULT CopyFrom(const PackedArray& other) {
    Free();
    if (other.Empty()) return S_OK;
    if (!Reserve(other.count_, other.count_, other.width_)) return E_OUTOFMEMORY;
    std::memcpy(data_, other.data_, static_cast<size_t>(other.count_) * other.width_);
    count_ = other.count_;
    return S_OK;
  }

  void Free() {
    std::free(data_);
    data_ = nullptr;
    count_ = 0;
    capacity_ = 0;
    width_ = kMinWidth;
    maxValue_ = MaxOfWidth(kMinWidth);
  }

 private:
  static T Load(const BYTE* data, ULONG index, unsigned width) {
    const BYTE* at = data + static_cast<size_t>(index) * width;
    switch (width) {
      case 1:
        return *at;
      case 2:
        return Word<uint16_t>(at);
      case 4:
        return static_cast<T>(Word<uint32_t>(at));
      default:
        return static_cast<T>(Word<uint64_t>(at));
    }
  }
  static void Store(BYTE* data, ULONG index, unsigned width, T value) {
    BYTE* at = data + static_cast<size_t>(index) * width;
    switch (width) {
      case 1:
        *at = static_cast<BYTE>(value);
        break;
      case 2:
        PutWord(at, static_cast<uint16_t>(value));
        break;
      case 4:
        PutWord(at, static_cast<uint32_t>(value));
        break;
      default:
        PutWord(at, static_cast<uint64_t>(value));
    }
  }
  template <class W>
  static W Word(const BYTE* at) {
    W value;
    std::memcpy(&value, at, sizeof value);
    return value;
  }
  template <class W>
  static void PutWord(BYTE* at, W value) {
    std::memcpy(at, &value, sizeof value);
  }

  template <class W>
  HRESULT StoreRange(ULONG first, const T* values, ULONG count) {
    BYTE* at = data_ + static_cast<size_t>(first) * sizeof(W);
    for (ULONG i = 0; i < count; ++i, at += sizeof(W)) PutWord(at, static_cast<W>(values[i]));
    return S_OK;
  }
  template <class W>
  ULONGLONG SumRange(ULONG first, ULONG last) const {
    ULONGLONG sum = 0;
    const BYTE* at = data_ + static_cast<size_t>(first) * sizeof(W);
    for (ULONG i = first; i < last; ++i, at += sizeof(W)) sum += Word<W>(at);
    return sum;
  }

  static constexpr T MaxOfWidth(unsigned width) {
    return width >= sizeof(T) ? static_cast<T>(~T{0}) : static_cast<T>((T{1} << (width * 8)) - 1);
  }
  static unsigned WidthOf(T value) {
    unsigned width = kMinWidth;
    while (value > MaxOfWidth(width)) width *= 2;
    return width;
  }

  ULONG StepAbove(ULONG count) const {
    const ULONGLONG steps = (static_cast<ULONGLONG>(count) + kGrowthStep - 1) / kGrowthStep;
    return static_cast<ULONG>(std::min<ULONGLONG>(steps * kGrowthStep, UINT32_MAX));
  }

  // Room for `count` entries of `width` bytes, allocating `capacity` of
  // them when it must grow; a wider width converts the entries there.
  bool Reserve(ULONG count, ULONG capacity, unsigned width) {
    if (width <= width_) {
      if (count <= capacity_) return true;
      width = width_;
    } else {
      capacity = std::max(capacity, capacity_);
    }
    const ULONGLONG bytes = static_cast<ULONGLONG>(capacity) * width;
    if (bytes > SIZE_MAX) return false;
    void* grown = std::realloc(data_, static_cast<size_t>(bytes));
    if (grown == nullptr) return false;
    data_ = static_cast<BYTE*>(grown);
    capacity_ = capacity;
    if (width != width_) {
      // From the last entry down: entry i's new place starts at or after
      // its old one and ends before entry i + 1's old place is needed.
      for (ULONG i = count_; i-- > 0;) Store(data_, i, width, Load(data_, i, width_));
      width_ = width;
      maxValue_ = MaxOfWidth(width);
    }
    return true;
  }

  bool Widen(unsigned width) { return Reserve(count_, capacity_, width); }

  BYTE* data_ = nullptr;
  ULONG count_ = 0;
  ULONG capacity_ = 0;
  unsigned width_ = kMinWidth;
  T maxValue_ = MaxOfWidth(kMinWidth);
};
