// The cost of a long track: opening a movie whose one track has a million
// samples, walking every sample with GetSampleInfo as the delivery loop
// does, and the table memory the track keeps per sample.
//
//   sample_walk_bench [--benchmark_filter=...]
//
// Counters: time_per_sample (seconds with an SI prefix, "37.5n" is 37.5 ns)
// and table_bytes_per_sample. The walk must stay flat per sample as the track
// and its chunks grow; the tables must stay near the file's own size.
#include "container/dar_edo_source.h"
#include "container/read_from_buffer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace {

// A big-endian box writer with sizes patched on close; just enough for one
// movie box.
class MovieWriter {
 public:
  void U8(uint8_t value) { bytes_.push_back(value); }
  void U16(uint16_t value) {
    U8(static_cast<uint8_t>(value >> 8));
    U8(static_cast<uint8_t>(value));
  }
  void U32(uint32_t value) {
    U16(static_cast<uint16_t>(value >> 16));
    U16(static_cast<uint16_t>(value));
  }
  void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  void Box(const char (&type)[5], const std::function<void()>& body) {
    const size_t start = bytes_.size();
    U32(0);
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(type[i]));
    body();
    const uint32_t size = static_cast<uint32_t>(bytes_.size() - start);
    for (int i = 0; i < 4; ++i) bytes_[start + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
  }
  void FullBox(const char (&type)[5], const std::function<void()>& body) {
    Box(type, [&] {
      U32(0);
      body();
    });
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// One video track of `samples` samples in chunks of `perChunk`, sizes that
// vary, a key frame every 30 samples, and two frame durations.
std::vector<uint8_t> MakeMovie(uint32_t samples, uint32_t perChunk) {
  constexpr uint32_t kKeyInterval = 30;
  const uint32_t chunks = (samples + perChunk - 1) / perChunk;
  MovieWriter w;
  w.Box("moov", [&] {
    w.FullBox("mvhd", [&] {
      w.U32(0);
      w.U32(0);
      w.U32(600);
      w.U32(samples * 20);
      w.U32(0x00010000);
      w.U16(0x0100);
      w.Zeros(10);
      for (uint32_t value : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) w.U32(value);
      w.Zeros(24);
      w.U32(2);
    });
    w.Box("trak", [&] {
      w.FullBox("tkhd", [&] {
        w.U32(0);
        w.U32(0);
        w.U32(1);
        w.Zeros(8 + 16 + 36 + 8);
      });
      w.Box("mdia", [&] {
        w.FullBox("mdhd", [&] {
          w.U32(0);
          w.U32(0);
          w.U32(600);
          w.U32(samples * 20);
          w.U16(0x55C4);
          w.U16(0);
        });
        w.FullBox("hdlr", [&] {
          w.U32(0);
          for (char c : {'v', 'i', 'd', 'e'}) w.U8(static_cast<uint8_t>(c));
          w.Zeros(13);
        });
        w.Box("minf", [&] {
          w.Box("vmhd", [&] { w.Zeros(12); });
          w.Box("stbl", [&] {
            w.FullBox("stsd", [&] {
              w.U32(1);
              w.Box("avc1", [&] {
                w.Zeros(6);
                w.U16(1);
                w.Zeros(70);
              });
            });
            w.FullBox("stts", [&] {
              w.U32(2);
              w.U32(samples / 2);
              w.U32(20);
              w.U32(samples - samples / 2);
              w.U32(21);
            });
            w.FullBox("stsc", [&] {
              w.U32(1);
              w.U32(1);
              w.U32(perChunk);
              w.U32(1);
            });
            w.FullBox("stsz", [&] {
              w.U32(0);
              w.U32(samples);
              for (uint32_t i = 0; i < samples; ++i) w.U32(100 + (i * 7919) % 5000);
            });
            w.FullBox("co64", [&] {
              w.U32(chunks);
              for (uint64_t i = 0; i < chunks; ++i) {
                const uint64_t offset = 0x100000000ull + i * perChunk * 3000;
                w.U32(static_cast<uint32_t>(offset >> 32));
                w.U32(static_cast<uint32_t>(offset));
              }
            });
            w.FullBox("stss", [&] {
              w.U32((samples + kKeyInterval - 1) / kKeyInterval);
              for (uint32_t i = 0; i < samples; i += kKeyInterval) w.U32(i + 1);
            });
          });
        });
      });
    });
  });
  return w.Bytes();
}

CReadFromBuffer* MakeReader(const std::vector<uint8_t>& bytes) {
  auto* reader = new CReadFromBuffer;
  reader->Assign(bytes.data(), static_cast<LONG>(bytes.size()));
  return reader;
}

// Seconds per sample of one iteration.
benchmark::Counter PerSample(double samples) {
  return benchmark::Counter(samples, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_OpenTrack(benchmark::State& state) {
  const uint32_t samples = static_cast<uint32_t>(state.range(0));
  const std::vector<uint8_t> movie = MakeMovie(samples, static_cast<uint32_t>(state.range(1)));
  CReadFromBuffer* reader = MakeReader(movie);
  size_t tableBytes = 0;
  for (auto _ : state) {
    CDarEdoSource source(reader, 0);
    if (source.ParseFile() != S_OK || source.TrackCount() != 1) state.SkipWithError("parse failed");
    tableBytes = source.Track(0)->sampleTable->TableBytes();
    benchmark::DoNotOptimize(tableBytes);
  }
  reader->Release();
  state.counters["time_per_sample"] = PerSample(samples);
  state.counters["table_bytes_per_sample"] = static_cast<double>(tableBytes) / samples;
}

void BM_WalkAllSamples(benchmark::State& state) {
  const uint32_t samples = static_cast<uint32_t>(state.range(0));
  const std::vector<uint8_t> movie = MakeMovie(samples, static_cast<uint32_t>(state.range(1)));
  CReadFromBuffer* reader = MakeReader(movie);
  CDarEdoSource source(reader, 0);
  if (source.ParseFile() != S_OK) state.SkipWithError("parse failed");
  trakBox& track = *source.Track(0);
  for (auto _ : state) {
    LONGLONG walked = 0;
    for (LONGLONG s = 0;; ++walked) {
      LONGLONG start = 0, end = 0, offset = 0, size = 0;
      LONG units = 0;
      if (track.GetSampleInfo(s, &start, &end, &offset, &size, &units) != S_OK) break;
      benchmark::DoNotOptimize(offset);
      s += units;
    }
    if (walked != samples) state.SkipWithError("walk ended early");
  }
  reader->Release();
  state.counters["time_per_sample"] = PerSample(samples);
}

// {samples, samples per chunk}: the per-sample cost must not grow with the
// track, nor with the chunk (a single chunk of every sample included).
void TrackShapes(benchmark::internal::Benchmark* bench) {
  bench->Args({100000, 10})->Args({1000000, 10})->Args({1000000, 1000})->Args({1000000, 1000000});
  bench->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_OpenTrack)->Apply(TrackShapes);
BENCHMARK(BM_WalkAllSamples)->Apply(TrackShapes);

}  // namespace

BENCHMARK_MAIN();
