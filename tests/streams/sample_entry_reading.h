// Test helpers for sample entries: the fixed fields of visual and sound
// entries written with the box builder, an entry read the way the track
// reads it (fixed fields, then the payload), and ES descriptors.
#pragma once

#include "support/box_builder.h"

#include "container/sample_entry.h"
#include "platform/fourcc.h"
#include "streams/sample_entry_factory.h"

#include <cstdint>
#include <memory>
#include <vector>

// Media kinds as the track's "minf" walk records them.
inline constexpr DWORD kTestKindVideo = 1;
inline constexpr DWORD kTestKindSound = 2;

// The 8 bytes every entry begins with.
inline void WriteCommonFields(BoxBuilder& b) { b.Zeros(6).U16(1); }

// The 70 bytes of a visual sample entry after the common fields.
inline void WriteVisualFields(BoxBuilder& b, uint16_t width, uint16_t height, uint16_t depth = 24) {
  b.Zeros(16).U16(width).U16(height).U32(0x00480000).U32(0x00480000).U32(0).U16(1);
  b.U8(5).Text("tests").Zeros(26).U16(depth).U16(0xFFFF);
}

// Sound description version 0 (also the ISO audio entry) after the common
// fields; `fixedRate` is 16.16.
inline void WriteSoundV0(BoxBuilder& b, uint16_t channels, uint16_t bits, uint32_t fixedRate, uint16_t version = 0) {
  b.U16(version).Zeros(6).U16(channels).U16(bits).U16(0).U16(0).U32(fixedRate);
}

inline std::vector<uint8_t> Slice(const CBuffer& buffer) {
  return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Length());
}

struct ReadEntryResult {
  std::unique_ptr<SampleEntry> entry;
  HRESULT fixedFields = E_UNEXPECTED;
  HRESULT payload = E_UNEXPECTED;
};

// Reads the entry box at the start of `b` as a track of `mediaKind` would:
// the header, ReadFixedFields and, when that succeeded, ReadPayload.
inline ReadEntryResult ReadEntry(DWORD mediaKind, const BoxBuilder& b) {
  ReadEntryResult result;
  ComPtr<IAsyncReader> reader = b.Reader();
  LONGLONG position = 0;
  LONGLONG remaining = static_cast<LONGLONG>(b.Size());
  Box header;
  if (header.ReadHeader(reader.Get(), &position, &remaining) != S_OK) return result;
  result.entry.reset(CreateSampleEntry(mediaKind, header, nullptr));
  remaining = header.size;
  result.fixedFields = result.entry->ReadFixedFields(reader.Get(), &position, &remaining);
  if (result.fixedFields == S_OK) result.payload = result.entry->ReadPayload(reader.Get(), &position);
  return result;
}

// An ES descriptor as an "esds" payload (after version and flags) carries it.
struct EsDescriptorSpec {
  uint8_t esFlags = 0;
  std::vector<uint8_t> url;
  uint8_t objectType = 0x40;
  std::vector<uint8_t> decoderSpecificInfo;
  // Sizes as four bytes (80 80 80 nn), as some writers code them.
  bool longSizes = false;
};

inline std::vector<uint8_t> BuildEsDescriptor(const EsDescriptorSpec& spec) {
  const auto descriptor = [&](uint8_t tag, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out = {tag};
    if (spec.longSizes) out.insert(out.end(), {0x80, 0x80, 0x80});
    out.push_back(static_cast<uint8_t>(body.size() & 0x7F));
    out.insert(out.end(), body.begin(), body.end());
    return out;
  };
  std::vector<uint8_t> decoder = {spec.objectType, 0x15, 0x00, 0x01, 0x00, 0x00, 0x01, 0xF4, 0, 0, 0x01, 0xF4, 0};
  if (!spec.decoderSpecificInfo.empty()) {
    const std::vector<uint8_t> specific = descriptor(0x05, spec.decoderSpecificInfo);
    decoder.insert(decoder.end(), specific.begin(), specific.end());
  }
  std::vector<uint8_t> es = {0x00, 0x01, spec.esFlags};
  if (spec.esFlags & 0x80) es.insert(es.end(), {0x00, 0x02});
  if (spec.esFlags & 0x40) es.push_back(static_cast<uint8_t>(spec.url.size()));
  if (spec.esFlags & 0x40) es.insert(es.end(), spec.url.begin(), spec.url.end());
  if (spec.esFlags & 0x20) es.insert(es.end(), {0x00, 0x03});
  const std::vector<uint8_t> decoderConfig = descriptor(0x04, decoder);
  es.insert(es.end(), decoderConfig.begin(), decoderConfig.end());
  es.insert(es.end(), {0x06, 0x01, 0x02});
  return descriptor(0x03, es);
}

inline std::vector<uint8_t> EsdsBox(const EsDescriptorSpec& spec) {
  BoxBuilder b;
  b.FullBox("esds", 0, 0, [&] { b.Bytes(BuildEsDescriptor(spec)); });
  return b.Data();
}
