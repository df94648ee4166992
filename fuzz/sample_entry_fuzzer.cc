// Drives sample-entry parsing and every media type of the resulting entry.
// The input names a media kind and a format, then holds the entry's bytes
// (after its box header) and the bytes of up to four samples; a minimal
// movie is built around them so that the probes that read samples (H.265
// parameter sets, MPEG-2 sequence headers, MPEG audio frame headers) run
// too. Each offered type is matched against every other.
//
// Input: [kind] [format index] [entry length, u16 BE] [entry] [sample bytes]
#include "container/dar_edo_source.h"
#include "container/growable_array.h"
#include "container/read_from_buffer.h"
#include "platform/fourcc.h"
#include "platform/media_type.h"
#include "streams/media_type_match.h"
#include "streams/sample_entry_factory.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <vector>

namespace {

constexpr size_t kHeaderBytes = 4;
constexpr int kMaxTypes = 8;
constexpr uint32_t kSampleCount = 4;
constexpr uint32_t kMdatHeader = 8;

struct TrackKind {
  const char* handler;
  const char* mediaHeader;
};
constexpr TrackKind kKinds[] = {
    {"vide", "vmhd"}, {"soun", "smhd"}, {"text", "nmhd"}, {"hint", "hint"}, {"meta", nullptr},
};

constexpr const char* kFormats[] = {
    "avc1", "hvc1", "hev1", "mp4v", "s263", "vc-1", "hdv2", "raw ", "yuv2", "yuvs", "2vuy", "2vuY",
    "mjpa", "jpeg", "rpza", "mp4a", "twos", "sowt", "ulaw", "alaw", "wma ", "samr", "sawb", "tx3g",
};

class Writer {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v >> 8));
    U8(static_cast<uint8_t>(v));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v >> 16));
    U16(static_cast<uint16_t>(v));
  }
  void Zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  void Bytes(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
  void Type(const char* type) { Bytes(reinterpret_cast<const uint8_t*>(type), 4); }
  void Box(const char* type, const std::function<void()>& body) {
    const size_t start = bytes_.size();
    U32(0);
    Type(type);
    if (body) body();
    const uint32_t size = static_cast<uint32_t>(bytes_.size() - start);
    for (int i = 0; i < 4; ++i) bytes_[start + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
  }
  void FullBox(const char* type, const std::function<void()>& body) {
    Box(type, [&] {
      U32(0);
      if (body) body();
    });
  }
  void Matrix() {
    for (uint32_t value : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) U32(value);
  }
  const std::vector<uint8_t>& Data() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> BuildMovie(const TrackKind& kind, const char* format, const uint8_t* entry, size_t entrySize,
                                const uint8_t* samples, size_t sampleBytes) {
  uint32_t sizes[kSampleCount];
  for (uint32_t i = 0; i < kSampleCount; ++i) {
    sizes[i] = static_cast<uint32_t>(sampleBytes / kSampleCount);
  }
  sizes[kSampleCount - 1] += static_cast<uint32_t>(sampleBytes % kSampleCount);

  Writer w;
  w.Box("mdat", [&] { w.Bytes(samples, sampleBytes); });
  w.Box("moov", [&] {
    w.FullBox("mvhd", [&] {
      w.U32(0);
      w.U32(0);
      w.U32(600);
      w.U32(600);
      w.U32(0x00010000);
      w.U16(0x0100);
      w.Zeros(10);
      w.Matrix();
      w.Zeros(24);
      w.U32(2);
    });
    w.Box("trak", [&] {
      w.FullBox("tkhd", [&] {
        w.U32(0);
        w.U32(0);
        w.U32(1);
        w.Zeros(8 + 16);
        w.Matrix();
        w.Zeros(8);
      });
      w.Box("mdia", [&] {
        w.FullBox("mdhd", [&] {
          w.Zeros(8);
          w.U32(600);
          w.U32(kSampleCount * 20);
          w.U16(0x15C7);
          w.U16(0);
        });
        w.FullBox("hdlr", [&] {
          w.U32(0);
          w.Type(kind.handler);
          w.Zeros(13);
        });
        w.Box("minf", [&] {
          if (kind.mediaHeader) w.Box(kind.mediaHeader, [&] { w.Zeros(8); });
          w.Box("stbl", [&] {
            w.FullBox("stsd", [&] {
              w.U32(1);
              w.Box(format, [&] { w.Bytes(entry, entrySize); });
            });
            w.FullBox("stts", [&] {
              w.U32(1);
              w.U32(kSampleCount);
              w.U32(20);
            });
            w.FullBox("stsc", [&] {
              w.U32(1);
              w.U32(1);
              w.U32(kSampleCount);
              w.U32(1);
            });
            w.FullBox("stsz", [&] {
              w.U32(0);
              w.U32(kSampleCount);
              for (uint32_t size : sizes) w.U32(size);
            });
            w.FullBox("stco", [&] {
              w.U32(1);
              w.U32(kMdatHeader);
            });
            w.FullBox("stss", [&] {
              w.U32(1);
              w.U32(1);
            });
          });
        });
      });
    });
  });
  return w.Data();
}

void OfferEveryType(trakBox& track) {
  track.PreparePcmLayout();
  std::vector<CMediaType> types;
  CMediaType reused;
  for (int index = 0; index < kMaxTypes; ++index) {
    if (track.GetTrackMediaType(index, &reused) != S_OK) break;
    types.push_back(reused);
  }
  for (const CMediaType& a : types) {
    VideoFormatView view;
    GetVideoFormatView(a, &view);
    for (const CMediaType& b : types) MediaTypesMatch(a, b);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const TrackKind& kind = kKinds[data[0] % std::size(kKinds)];
  const char* format = kFormats[data[1] % std::size(kFormats)];
  const size_t entrySize = std::min<size_t>((size_t{data[2]} << 8) | data[3], size - kHeaderBytes);
  const uint8_t* entry = data + kHeaderBytes;
  const uint8_t* samples = entry + entrySize;
  const size_t sampleBytes = size - kHeaderBytes - entrySize;

  const std::vector<uint8_t> file = BuildMovie(kind, format, entry, entrySize, samples, sampleBytes);
  auto* reader = new CReadFromBuffer;
  if (reader->Assign(file.data(), static_cast<LONG>(file.size())) == S_OK) {
    CDarEdoSource source(reader, 0, CreateSampleEntry);
    try {
      source.ParseFile();
      for (ULONG i = 0; i < source.TrackCount(); ++i) OfferEveryType(*source.Track(i));
    } catch (const ArrayError&) {
      // Out of memory growing a list is a result, not a finding.
    }
  }
  reader->Release();
  return 0;
}
