// The delivery path end to end: a file of two interleaved tracks played
// through a graph (file source, the ISO demultiplexer, a null renderer per
// pin) from Run to completion, and the per-sample read through the file
// source alone. The file is written once into the temporary directory.
//
//   delivery_bench [--benchmark_filter=...]
//
// Counters: time_per_sample (seconds with an SI prefix) and bytes_per_second.
// Small samples measure the per-sample overhead (reads, buffers, queue,
// locks); large ones how close delivery comes to copying the file.
#include "daredo/dar_edo.h"
#include "engine/output_pin.h"
#include "platform/class_table.h"
#include "platform/file_byte_source.h"
#include "platform/filter_graph.h"
#include "platform/media_guids.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

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
  void Text(const char* text) {
    for (; *text != '\0'; ++text) U8(static_cast<uint8_t>(*text));
  }
  void Box(const char (&type)[5], const std::function<void()>& body) {
    const size_t start = bytes_.size();
    U32(0);
    Text(type);
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
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

struct TrackLayout {
  const char* handler;
  const char* mediaHeader;
  const char* format;
  uint32_t timescale;
  uint32_t delta;
  uint32_t sampleSize;
  std::vector<uint64_t> chunkOffsets;
};

// Motion JPEG video and raw 8-bit audio, `chunks` chunks of `perChunk`
// samples each, interleaved in one "mdat".
std::vector<uint8_t> MakeFile(uint32_t chunks, uint32_t perChunk, uint32_t videoSize, uint32_t audioSize) {
  TrackLayout tracks[] = {
      {"vide", "vmhd", "jpeg", 25, 1, videoSize, {}},
      {"soun", "smhd", "ulaw", 8000, 320, audioSize, {}},
  };
  MovieWriter w;
  w.Box("ftyp", [&] {
    w.Text("isom");
    w.U32(0);
  });
  const uint64_t mdatStart = w.Bytes().size();
  uint64_t offset = mdatStart + 16;
  for (uint32_t c = 0; c < chunks; ++c) {
    for (TrackLayout& track : tracks) {
      track.chunkOffsets.push_back(offset);
      offset += static_cast<uint64_t>(track.sampleSize) * perChunk;
    }
  }
  // A 64-bit "mdat" header; its payload stays zero.
  w.U32(1);
  w.Text("mdat");
  w.U32(static_cast<uint32_t>((offset - mdatStart) >> 32));
  w.U32(static_cast<uint32_t>(offset - mdatStart));
  w.Bytes().resize(offset, 0x5A);
  const uint32_t samples = chunks * perChunk;
  w.Box("moov", [&] {
    w.FullBox("mvhd", [&] {
      w.U32(0);
      w.U32(0);
      w.U32(25);
      w.U32(samples);
      w.U32(0x00010000);
      w.U16(0x0100);
      w.Zeros(10);
      for (uint32_t value : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) w.U32(value);
      w.Zeros(24);
      w.U32(3);
    });
    uint32_t trackId = 1;
    for (const TrackLayout& track : tracks) {
      w.Box("trak", [&] {
        w.FullBox("tkhd", [&] {
          w.U32(0);
          w.U32(0);
          w.U32(trackId++);
          w.Zeros(4 + 4 + 16);
          for (uint32_t value : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) w.U32(value);
          w.Zeros(8);
        });
        w.Box("mdia", [&] {
          w.FullBox("mdhd", [&] {
            w.U32(0);
            w.U32(0);
            w.U32(track.timescale);
            w.U32(samples * track.delta);
            w.U16(0x55C4);
            w.U16(0);
          });
          w.FullBox("hdlr", [&] {
            w.U32(0);
            w.Text(track.handler);
            w.Zeros(13);
          });
          w.Box("minf", [&] {
            w.Box(track.mediaHeader[0] == 'v' ? "vmhd" : "smhd", [&] { w.Zeros(8); });
            w.Box("stbl", [&] {
              w.FullBox("stsd", [&] {
                w.U32(1);
                w.Box(track.format[0] == 'j' ? "jpeg" : "ulaw", [&] {
                  w.Zeros(6);
                  w.U16(1);
                  if (track.format[0] == 'j') {
                    w.Zeros(16);
                    w.U16(160);
                    w.U16(90);
                    w.U32(0x00480000);
                    w.U32(0x00480000);
                    w.U32(0);
                    w.U16(1);
                    w.Zeros(32);
                    w.U16(24);
                    w.U16(0xFFFF);
                  } else {
                    w.U16(0);
                    w.Zeros(6);
                    w.U16(1);
                    w.U16(8);
                    w.U32(0);
                    w.U32(8000u << 16);
                  }
                });
              });
              w.FullBox("stts", [&] {
                w.U32(1);
                w.U32(samples);
                w.U32(track.delta);
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
                for (uint32_t i = 0; i < samples; ++i) w.U32(track.sampleSize);
              });
              w.FullBox("co64", [&] {
                w.U32(chunks);
                for (uint64_t chunk : track.chunkOffsets) {
                  w.U32(static_cast<uint32_t>(chunk >> 32));
                  w.U32(static_cast<uint32_t>(chunk));
                }
              });
            });
          });
        });
      });
    }
  });
  return w.Bytes();
}

// A file in the temporary directory, removed at exit.
class BenchFile {
 public:
  BenchFile(const char* name, const std::vector<uint8_t>& bytes)
      : path_(std::string(std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp") + "/" + name) {
    FILE* file = std::fopen(path_.c_str(), "wb");
    if (file != nullptr) {
      std::fwrite(bytes.data(), 1, bytes.size(), file);
      std::fclose(file);
    }
  }
  ~BenchFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// After the 16-byte "ftyp" and the 16-byte header of the 64-bit "mdat".
constexpr LONGLONG kFirstChunk = 32;

struct Shape {
  uint32_t chunks, perChunk, videoSize, audioSize;
};

// Small samples: many per second, like a low-bit-rate H.264 + AAC movie.
// Large: few, like a high-bit-rate one.
constexpr Shape kShapes[] = {{5000, 20, 500, 80}, {200, 5, 400000, 8000}};

const BenchFile& FileFor(int shape) {
  static const BenchFile small("isodmx_delivery_small.mp4",
                               MakeFile(kShapes[0].chunks, kShapes[0].perChunk, kShapes[0].videoSize,
                                        kShapes[0].audioSize));
  static const BenchFile large("isodmx_delivery_large.mp4",
                               MakeFile(kShapes[1].chunks, kShapes[1].perChunk, kShapes[1].videoSize,
                                        kShapes[1].audioSize));
  return shape == 0 ? small : large;
}

void SetCounters(benchmark::State& state, const Shape& shape) {
  const double samples = 2.0 * shape.chunks * shape.perChunk;
  const double bytes = static_cast<double>(shape.chunks) * shape.perChunk * (shape.videoSize + shape.audioSize);
  state.counters["time_per_sample"] =
      benchmark::Counter(samples, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["bytes_per_second"] = benchmark::Counter(bytes, benchmark::Counter::kIsIterationInvariantRate);
}

// Graph building and connection stay outside the timing: only Run to
// completion is measured, with a seek back to 0 between runs.
void BM_PlayThroughGraph(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  const std::string& path = FileFor(shape).Path();
  ComPtr<IFilterGraph> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IBaseFilter> source, demux;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph, graph.PutVoid());
  graph.As(IID_IMediaControl, control);
  graph.As(IID_IMediaEventEx, events);
  graph.As(IID_IMediaSeeking, seeking);
  CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid());
  ComPtr<IFileSourceFilter> file;
  source.As(IID_IFileSourceFilter, file);
  file->Load(std::wstring(path.begin(), path.end()).c_str(), nullptr);
  graph->AddFilter(source.Get(), L"Source");
  CoCreateInstance(CLSID_DarEdo, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, demux.PutVoid());
  graph->AddFilter(demux.Get(), L"Demux");
  CDarEdo* dmx = CDarEdo::FromFilter(demux.Get());
  ComPtr<IPin> out;
  source->FindPin(L"Output", out.Put());
  if (FAILED(graph->ConnectDirect(out.Get(), dmx->GetPin(0), nullptr)) || dmx->GetOutputPinCount() != 2) {
    state.SkipWithError("connect failed");
    return;
  }
  std::vector<ComPtr<IBaseFilter>> sinks;
  for (int k = 0; k < 2; ++k) {
    ComPtr<IBaseFilter> sink;
    CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, sink.PutVoid());
    graph->AddFilter(sink.Get(), k == 0 ? L"Null 1" : L"Null 2");
    ComPtr<IPin> in;
    sink->FindPin(L"In", in.Put());
    graph->ConnectDirect(dmx->GetOutputPin(k), in.Get(), nullptr);
    sinks.push_back(sink);
  }
  for (auto _ : state) {
    LONGLONG start = 0;
    seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    control->Run();
    LONG code = 0;
    if (events->WaitForCompletion(60000, &code) != S_OK || code != EC_COMPLETE) state.SkipWithError("no completion");
    control->Stop();
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    }
  }
  SetCounters(state, kShapes[shape]);
  for (auto& sink : sinks) graph->RemoveFilter(sink.Get());
  graph->RemoveFilter(demux.Get());
  graph->RemoveFilter(source.Get());
}

// One synchronous read per sample of the first track, in file order: what
// the delivery loop pays for the bytes alone.
void BM_ReadEverySample(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  const Shape& layout = kShapes[shape];
  IAsyncReader* reader = nullptr;
  if (FAILED(CFileByteSource::Open(FileFor(shape).Path(), &reader))) {
    state.SkipWithError("open failed");
    return;
  }
  std::vector<BYTE> buffer(layout.videoSize);
  const LONGLONG chunkBytes = static_cast<LONGLONG>(layout.videoSize + layout.audioSize) * layout.perChunk;
  for (auto _ : state) {
    for (uint32_t c = 0; c < layout.chunks; ++c) {
      for (uint32_t s = 0; s < layout.perChunk; ++s) {
        const LONGLONG offset = kFirstChunk + c * chunkBytes + static_cast<LONGLONG>(s) * layout.videoSize;
        reader->SyncRead(offset, static_cast<LONG>(layout.videoSize), buffer.data());
      }
    }
  }
  reader->Release();
  state.counters["time_per_sample"] = benchmark::Counter(
      static_cast<double>(layout.chunks) * layout.perChunk,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_PlayThroughGraph)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadEverySample)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
