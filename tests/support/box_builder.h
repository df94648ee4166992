// Builds box trees in memory with their sizes computed, for tests:
//
//   BoxBuilder b;
//   b.Box("moov", [&] {
//     b.FullBox("mvhd", 0, 0, [&] { b.U32(0).U32(0).U32(600).U32(1800); });
//     b.Box(BoxSize::Forced(4), "free");  // a size smaller than its header
//   });
//   ComPtr<IAsyncReader> reader = b.Reader();
//
// Fields are written big-endian. A body runs inside its box; the size is
// patched when the body returns, unless the BoxSize says otherwise.
#pragma once

#include "platform/async_reader.h"
#include "platform/unknown.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <vector>

// How a box header declares its size.
struct BoxSize {
  enum class Kind { kAuto, kLarge, kToEnd, kForced, kForcedLarge };

  // 32-bit size, computed.
  static BoxSize Auto() { return {Kind::kAuto, 0}; }
  // Size field 1 and a computed 64-bit size.
  static BoxSize Large() { return {Kind::kLarge, 0}; }
  // Size field 0: the box runs to the end of its container.
  static BoxSize ToEnd() { return {Kind::kToEnd, 0}; }
  // This 32-bit size, whatever the body holds.
  static BoxSize Forced(uint32_t declared) { return {Kind::kForced, declared}; }
  // Size field 1 and this 64-bit size.
  static BoxSize ForcedLarge(uint64_t declared) { return {Kind::kForcedLarge, declared}; }

  Kind kind;
  uint64_t declared;
};

class BoxBuilder {
 public:
  using Body = std::function<void()>;

  BoxBuilder& Box(const char (&type)[5], const Body& body = nullptr) { return Box(BoxSize::Auto(), type, body); }
  BoxBuilder& Box(BoxSize size, const char (&type)[5], const Body& body = nullptr);
  // Version and flags, then the body.
  BoxBuilder& FullBox(const char (&type)[5], uint8_t version, uint32_t flags, const Body& body = nullptr) {
    return FullBox(BoxSize::Auto(), type, version, flags, body);
  }
  BoxBuilder& FullBox(BoxSize size, const char (&type)[5], uint8_t version, uint32_t flags,
                      const Body& body = nullptr);

  BoxBuilder& U8(uint8_t value);
  BoxBuilder& U16(uint16_t value);
  BoxBuilder& U24(uint32_t value);
  BoxBuilder& U32(uint32_t value);
  BoxBuilder& U64(uint64_t value);
  BoxBuilder& I32(int32_t value) { return U32(static_cast<uint32_t>(value)); }
  BoxBuilder& FourCC(const char (&code)[5]);
  BoxBuilder& Bytes(std::initializer_list<uint8_t> bytes);
  BoxBuilder& Bytes(const std::vector<uint8_t>& bytes);
  BoxBuilder& Zeros(size_t count);
  // The characters without a terminator.
  BoxBuilder& Text(std::string_view text);

  size_t Size() const { return bytes_.size(); }
  const std::vector<uint8_t>& Data() const { return bytes_; }
  // A memory byte source (CReadFromBuffer) over a copy of the bytes.
  ComPtr<IAsyncReader> Reader() const;

 private:
  void PatchU32(size_t at, uint32_t value);
  void PatchU64(size_t at, uint64_t value);

  std::vector<uint8_t> bytes_;
};

// A CReadFromBuffer over `bytes` (one reference, held by the result).
ComPtr<IAsyncReader> MakeMemoryReader(const std::vector<uint8_t>& bytes);
