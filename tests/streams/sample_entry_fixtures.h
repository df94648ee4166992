// Fixtures for the streams tests. Byte strings: the committed files under
// tests/data, joined strings, and headers written bit field by bit field
// (most significant first), so that a case states the syntax values it is
// about instead of patching bytes. Sample entries: ES descriptors written
// with the box builder, and a one-track movie file of one chunk, so that the
// entry is read as its track reads it and GetTrackMediaType and the lookups
// it uses (bit rate, frame duration, sample 0) work as on a real file.
#pragma once

#include "container/trak_box.h"
#include "platform/format_blocks.h"
#include "platform/media_type.h"
#include "streams/sample_entry_factory.h"
#include "support/box_builder.h"
#include "support/memory_source.h"
#include "support/movie_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

inline std::vector<uint8_t> LoadTestFile(const std::string& name) {
  std::ifstream file(std::string(ISODMX_TEST_DATA) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class BitWriter {
 public:
  BitWriter& Bits(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    return *this;
  }
  BitWriter& Flag(bool value) { return Bits(value ? 1 : 0, 1); }
  // Exp-Golomb codes.
  BitWriter& Ue(uint64_t value) {
    int length = 0;
    while (((value + 1) >> length) > 1) ++length;
    return Bits(0, length).Bits(value + 1, length + 1);
  }
  BitWriter& Se(int64_t value) { return Ue(value > 0 ? 2 * value - 1 : -2 * value); }

  // The bits, zero-padded to a whole byte.
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> bytes((bits_.size() + 7) / 8);
    for (size_t i = 0; i < bits_.size(); ++i) bytes[i / 8] |= static_cast<uint8_t>(bits_[i] << (7 - i % 8));
    return bytes;
  }
  // A raw byte sequence payload: the bits, a stop bit and alignment zeros.
  std::vector<uint8_t> Rbsp() const { return BitWriter(*this).Flag(true).Bytes(); }

 private:
  std::vector<bool> bits_;
};

// An ES descriptor as an "esds" payload (after version and flags) carries it.
struct EsDescriptorSpec {
  uint8_t objectType = 0x40;
  std::vector<uint8_t> decoderSpecificInfo = {};
  // Sizes as four bytes (80 80 80 nn), as some writers code them.
  bool longSizes = false;
};

inline std::vector<uint8_t> BuildEsDescriptor(const EsDescriptorSpec& spec) {
  const auto descriptor = [&](uint8_t tag, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> head = {tag, 0x80, 0x80, 0x80, static_cast<uint8_t>(body.size())};
    if (!spec.longSizes) head.erase(head.begin() + 1, head.begin() + 4);
    return Concat(head, body);
  };
  // Object type, stream type, buffer size, maximum and average bit rates; the specific info.
  const std::vector<uint8_t> decoder =
      Concat({spec.objectType, 0x15, 0, 1, 0, 0, 1, 0xF4, 0, 0, 1, 0xF4, 0},
             spec.decoderSpecificInfo.empty() ? std::vector<uint8_t>{} : descriptor(0x05, spec.decoderSpecificInfo));
  // ES_ID 1, no flags; the decoder configuration; the SL configuration.
  return descriptor(0x03, Concat(Concat({0, 1, 0}, descriptor(0x04, decoder)), {6, 1, 2}));
}

inline std::vector<uint8_t> EsdsBox(const EsDescriptorSpec& spec) {
  BoxBuilder b;
  return b.FullBox("esds", 0, 0, [&] { b.Bytes(BuildEsDescriptor(spec)); }).Data();
}

// Sound description version 2 after the common fields: rate, channels,
// constBitsPerChannel, format flags and bytes per packet.
inline void WriteSoundV2(BoxBuilder& b, double rate, uint32_t channels, uint32_t bits, uint32_t flags,
                         uint32_t packet) {
  b.U16(2).Zeros(6).U16(3).U16(16).U16(0xFFFE).U16(0).U32(65536).U32(72);
  b.U64(std::bit_cast<uint64_t>(rate)).U32(channels).U32(0x7F000000).U32(bits).U32(flags).U32(packet).U32(1);
}

inline std::vector<uint8_t> Slice(const CBuffer& buffer) {
  return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Length());
}

struct MediaTypeTrack {
  // "vide"/"vmhd", "soun"/"smhd", "text"/"nmhd".
  std::string handler = "vide", mediaHeader = "vmhd", format = "avc1";
  // The entry after its 8 common bytes.
  std::vector<uint8_t> entryBody = {};
  std::vector<std::vector<uint8_t>> samples = {{0, 0, 0, 0}};
  uint32_t timescale = 600;
  int32_t sampleDelta = 20;
  std::optional<std::vector<uint32_t>> syncSamples = {};
};

inline ParsedMovie ParseMediaTypeMovie(const MediaTypeTrack& spec) {
  const StreamSpec stream{.handler = spec.handler, .mediaHeader = spec.mediaHeader, .format = spec.format,
                          .entryBody = spec.entryBody, .timescale = spec.timescale,
                          .durations = std::vector<int32_t>(spec.samples.size(), spec.sampleDelta),
                          .samples = spec.samples, .syncSamples = spec.syncSamples};
  return ParseMovie(MemorySource::Create(BuildMovieFile({stream})).Get(), 0, CreateSampleEntry);
}

inline const SampleEntry& EntryOf(const ParsedMovie& movie) { return *movie.Track(0).sampleEntry; }

// Media type `index` of the movie's only track.
inline HRESULT TrackType(const ParsedMovie& movie, int index, CMediaType* type) {
  return movie.Track(0).GetTrackMediaType(index, type);
}

template <class Block>
Block FormatBlock(const CMediaType& type) {
  Block block{};
  EXPECT_GE(type.cbFormat, sizeof block);
  if (type.cbFormat >= sizeof block) std::memcpy(&block, type.pbFormat, sizeof block);
  return block;
}

// The bytes of the format block from `offset` on.
inline std::vector<uint8_t> BlockTail(const CMediaType& type, size_t offset) {
  if (!type.pbFormat || type.cbFormat < offset) return {};
  return std::vector<uint8_t>(type.pbFormat + offset, type.pbFormat + type.cbFormat);
}

// The bytes of a packed format structure and the extra bytes after it, to compare whole blocks.
template <class Block>
std::vector<uint8_t> BytesOf(const Block& block, const std::vector<uint8_t>& extra = {}) {
  std::vector<uint8_t> bytes(sizeof block + extra.size());
  std::memcpy(bytes.data(), &block, sizeof block);
  std::copy(extra.begin(), extra.end(), bytes.begin() + sizeof block);
  return bytes;
}
