#include "box_builder.h"

#include "container/read_from_buffer.h"

#include <stdexcept>

BoxBuilder& BoxBuilder::FullBox(BoxSize size, const char (&type)[5], uint8_t version, uint32_t flags,
                                const Body& body) {
  return Box(size, type, [&] {
    U8(version).U24(flags);
    if (body) body();
  });
}

BoxBuilder& BoxBuilder::Box(BoxSize size, const char (&type)[5], const Body& body) {
  const size_t start = bytes_.size();
  const bool large = size.kind == BoxSize::Kind::kLarge || size.kind == BoxSize::Kind::kForcedLarge;
  switch (size.kind) {
    case BoxSize::Kind::kAuto:
    case BoxSize::Kind::kToEnd: U32(0); break;
    case BoxSize::Kind::kForced: U32(static_cast<uint32_t>(size.declared)); break;
    case BoxSize::Kind::kLarge:
    case BoxSize::Kind::kForcedLarge: U32(1); break;
  }
  FourCC(type);
  const size_t largeAt = bytes_.size();
  if (large) U64(size.declared);
  if (body) body();
  const uint64_t total = bytes_.size() - start;
  if (size.kind == BoxSize::Kind::kAuto) {
    if (total > UINT32_MAX) throw std::length_error("box too large for a 32-bit size");
    PatchU32(start, static_cast<uint32_t>(total));
  } else if (size.kind == BoxSize::Kind::kLarge) {
    PatchU64(largeAt, total);
  }
  return *this;
}

void BoxBuilder::PatchU32(size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void BoxBuilder::PatchU64(size_t at, uint64_t value) {
  PatchU32(at, static_cast<uint32_t>(value >> 32));
  PatchU32(at + 4, static_cast<uint32_t>(value));
}

BoxBuilder& BoxBuilder::U8(uint8_t value) {
  bytes_.push_back(value);
  return *this;
}

BoxBuilder& BoxBuilder::U16(uint16_t value) { return U8(static_cast<uint8_t>(value >> 8)).U8(static_cast<uint8_t>(value)); }

BoxBuilder& BoxBuilder::U24(uint32_t value) {
  return U8(static_cast<uint8_t>(value >> 16)).U16(static_cast<uint16_t>(value));
}

BoxBuilder& BoxBuilder::U32(uint32_t value) {
  return U16(static_cast<uint16_t>(value >> 16)).U16(static_cast<uint16_t>(value));
}

BoxBuilder& BoxBuilder::U64(uint64_t value) {
  return U32(static_cast<uint32_t>(value >> 32)).U32(static_cast<uint32_t>(value));
}

BoxBuilder& BoxBuilder::FourCC(const char (&code)[5]) {
  for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(code[i]));
  return *this;
}

BoxBuilder& BoxBuilder::Bytes(std::initializer_list<uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

BoxBuilder& BoxBuilder::Bytes(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

BoxBuilder& BoxBuilder::Zeros(size_t count) {
  bytes_.insert(bytes_.end(), count, 0);
  return *this;
}

BoxBuilder& BoxBuilder::Text(std::string_view text) {
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}

ComPtr<IAsyncReader> BoxBuilder::Reader() const { return MakeMemoryReader(bytes_); }

ComPtr<IAsyncReader> MakeMemoryReader(const std::vector<uint8_t>& bytes) {
  auto* reader = new CReadFromBuffer;
  if (FAILED(reader->Assign(bytes.data(), static_cast<LONG>(bytes.size())))) {
    reader->Release();
    throw std::bad_alloc();
  }
  return ComPtr<IAsyncReader>::Attach(reader);
}
