// The ISO demultiplexer filter: what its input accepts, what a connect
// builds or refuses, how its pins size their buffers, its seeking answers,
// and seeks and rates applied to a running graph over real files.
#include "iso_graph.h"

#include "container/trak_box.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/mem_allocator.h"
#include "support/box_builder.h"
#include "support/movie_builder.h"
#include "support/temporary_file.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using namespace isotest;

constexpr REFERENCE_TIME kSecond = 10000000;

// A renderer whose first Receive waits until the test is about to stop the
// upstream filter and the filter lock is taken (the Stop holds it while it
// waits for this very Receive), then asks the upstream pin about the
// connection, as downstream filters do.
class QueryingSink final : public CRendererBase {
 public:
  QueryingSink(CCritSec* upstreamFilterLock, HRESULT* phr)
      : CRendererBase("QueryingSink", nullptr, GUID_NULL, phr), upstreamLock_(upstreamFilterLock) {}

  // Waits for the first Receive, then lets it go on to its queries.
  bool ReleaseReceiveOnceEntered() {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!changed_.wait_for(hold, std::chrono::seconds(10), [this] { return stage_ == 1; })) return false;
    stage_ = 2;
    changed_.notify_all();
    return true;
  }
  bool Answered() const { return answered_; }

 protected:
  HRESULT CheckRenderType(const CMediaType*) override { return S_OK; }
  HRESULT OnSample(IMediaSample*) override {
    {
      std::unique_lock<std::mutex> hold(mutex_);
      if (stage_ != 0) return S_OK;
      stage_ = 1;
      changed_.notify_all();
      changed_.wait_for(hold, std::chrono::seconds(10), [this] { return stage_ == 2; });
    }
    for (int i = 0; i < 10000 && upstreamLock_->TryLock(); ++i) {
      upstreamLock_->Unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    IPin* upstream = GetPin(0)->GetConnected();
    CMediaType type;
    ComPtr<IPin> peer;
    PIN_INFO info{};
    answered_ = upstream->ConnectionMediaType(&type) == S_OK && upstream->ConnectedTo(peer.Put()) == S_OK &&
                upstream->QueryPinInfo(&info) == S_OK;
    if (info.pFilter != nullptr) info.pFilter->Release();
    return S_OK;
  }

 private:
  CCritSec* upstreamLock_;
  std::atomic<bool> answered_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  int stage_ = 0;  // 1: first Receive entered; 2: the test stops the filter
};

TEST(DarEdoInputTest, AcceptsStreamsOfItsFileSubtypesOnly) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("mjpeg.mov")), S_OK);
  const struct {
    GUID majortype;
    GUID subtype;
    HRESULT expected;
  } cases[] = {
      {MEDIATYPE_Stream, FourCCSubtype(FourCC("VISO")), S_OK},
      {MEDIATYPE_Stream, FourCCSubtype(FourCC("OSIV")), S_OK},
      {MEDIATYPE_Stream, FourCCSubtype(FourCC("VFLV")), S_OK},
      {MEDIATYPE_Stream, FourCCSubtype(FourCC("VISM")), S_OK},
      {MEDIATYPE_Stream, MEDIASUBTYPE_QTMovie, S_OK},
      {MEDIATYPE_Stream, MEDIASUBTYPE_IsoMp4Family, S_OK},
      {MEDIATYPE_Stream, GUID_NULL, S_OK},
      {GUID_NULL, FourCCSubtype(FourCC("VISO")), S_OK},
      {MEDIATYPE_Stream, FourCCSubtype(FourCC("AVI ")), S_FALSE},
      {MEDIATYPE_Video, FourCCSubtype(FourCC("VISO")), S_FALSE},
  };
  for (const auto& c : cases) {
    CMediaType mt(&c.majortype);
    mt.SetSubtype(&c.subtype);
    EXPECT_EQ(graph.dmx->CheckPinMediaType(0, &mt), c.expected) << GuidToString(c.subtype);
  }
  CMediaType offered;
  ASSERT_EQ(graph.dmx->GetPinMediaType(0, 0, &offered), S_OK);
  EXPECT_EQ(offered.majortype, MEDIATYPE_Stream);
  EXPECT_EQ(offered.subtype, FourCCSubtype(FourCC("VISO")));
  EXPECT_EQ(graph.dmx->GetPinMediaType(0, 1, &offered), VFW_S_NO_MORE_ITEMS);
}

// A movie of one track with samples of 4 bytes in an "mdat" at offset 8.
std::vector<uint8_t> OneTrackMovie(TrackSpec track, uint32_t samples) {
  track.stts = {{samples, 20}};
  track.stsc = {{1, samples, 1}};
  track.sizes.assign(samples, 4);
  track.chunkOffsets = {8};
  BoxBuilder b;
  b.Box("mdat", [&] { b.Zeros(4 * samples); });
  WriteMovie(b, {track});
  return b.Data();
}

TEST(DarEdoConnectTest, RefusalsLeaveNoSourcesAndTracksWithoutSampleEntriesNoPins) {
  // An "ftyp" alone: the walk ends cleanly, but there is nothing to play.
  const TemporaryFile noMovie({0, 0, 0, 16, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0});
  TrackSpec entryless;
  entryless.format = "";
  const TemporaryFile noEntry(OneTrackMovie(entryless, 2));
  CMediaType manifest(&MEDIATYPE_Stream);
  const GUID vism = FourCCSubtype(FourCC("VISM"));
  manifest.SetSubtype(&vism);
  const struct {
    const std::string path;
    const AM_MEDIA_TYPE* type;
    HRESULT expected;
    size_t sources;
  } cases[] = {
      {noMovie.Path(), nullptr, VFW_E_INVALID_FILE_FORMAT, 0},
      // Named a manifest, but not XML.
      {DataPath("mjpeg.mov"), &manifest, E_UNEXPECTED, 0},
      {noEntry.Path(), nullptr, S_OK, 1},
  };
  for (const auto& c : cases) {
    IsoGraph graph;
    EXPECT_EQ(graph.Open(c.path, c.type), c.expected) << c.path;
    EXPECT_EQ(graph.dmx->LastConnectResult(), c.expected);
    EXPECT_EQ(graph.dmx->SourceCount(), c.sources);
    EXPECT_EQ(graph.dmx->GetOutputPinCount(), 0);
    // Nothing to render: the graph completes at once rather than waiting
    // on the demultiplexer, which renders nothing (the wait has a limit).
    if (c.sources != 0) {
      EXPECT_EQ(graph.RunToEnd(), EC_COMPLETE);
    }
  }
}

TEST(DarEdoConnectTest, TrackWithoutDurationTakesTheMoviesInItsOwnTimescale) {
  // The movie: 1800 units of 600 per second. A timescale of 0 is none.
  const struct {
    uint32_t timescale, duration;
    DWORD expectedTimescale;
    ULONGLONG expectedDuration;
  } cases[] = {{1000, 0, 1000, 3000}, {0, 0, 600, 1800}, {1000, 500, 1000, 500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timescale);
    TrackSpec track;
    track.format = "jpeg";
    track.entryBody.assign(70, 0);
    track.timescale = c.timescale;
    track.mediaDuration = c.duration;
    const TemporaryFile file(OneTrackMovie(track, 1));
    IsoGraph graph;
    ASSERT_EQ(graph.Open(file.Path()), S_OK);
    ASSERT_EQ(graph.dmx->GetOutputPinCount(), 1);
    const trakBox* connected = graph.dmx->GetOutputPin(0)->Track();
    EXPECT_EQ(connected->timescale, c.expectedTimescale);
    EXPECT_EQ(connected->mediaDuration, c.expectedDuration);
  }
}

TEST(DarEdoConnectTest, PinsFollowTheTracksWithSubtitlesHidden) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("tx3g.mp4")), S_OK);
  ASSERT_EQ(graph.dmx->GetOutputPinCount(), 2);
  EXPECT_EQ(std::wstring(graph.dmx->GetOutputPin(0)->Name()), L"Output 01");
  EXPECT_EQ(std::wstring(graph.dmx->GetOutputPin(1)->Name()), L"~Output 02");
  EXPECT_EQ(graph.dmx->FirstVideoPin(), graph.dmx->GetOutputPin(0));
  EXPECT_EQ(graph.dmx->FirstAudioPin(), nullptr);
  // Reconnecting starts over: the same pins, no more.
  ASSERT_EQ(graph.graph->Disconnect(graph.sourceOut.Get()), S_OK);
  ASSERT_EQ(graph.graph->Disconnect(graph.dmx->GetPin(0)), S_OK);
  EXPECT_EQ(graph.dmx->GetOutputPinCount(), 0);
  EXPECT_EQ(graph.dmx->SourceCount(), 0u);
  ASSERT_EQ(graph.graph->ConnectDirect(graph.sourceOut.Get(), graph.dmx->GetPin(0), nullptr), S_OK);
  EXPECT_EQ(graph.dmx->GetOutputPinCount(), 2);

  IsoGraph av;
  ASSERT_EQ(av.Open(DataPath("h264_bframes.mp4")), S_OK);
  EXPECT_EQ(av.dmx->FirstAudioPin(), av.dmx->GetOutputPin(1));
}

TEST(DarEdoBufferTest, CountIsAboutTenMegabytesOfTheLargestSampleWithinTwoToThirtyTwo) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("mjpeg.mov")), S_OK);
  CBaseDmxOutputPin* pin = graph.dmx->GetOutputPin(0);
  const struct {
    DWORD maxSampleSize;
    LONG count, size;
  } cases[] = {
      {3333334, 2, 3333334}, {5000000, 2, 5000000}, {312500, 32, 312500},
      {1000, 32, 1000},      {1000000, 10, 1000000},
      // A track of empty samples still gets buffers.
      {0, 32, 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxSampleSize);
    pin->SetMaxSampleSize(c.maxSampleSize);
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(CreateMemoryAllocator(allocator.Put()), S_OK);
    ALLOCATOR_PROPERTIES props{1, 1, 1, 0};
    ASSERT_EQ(graph.dmx->DecidePinBufferSize(1, allocator.Get(), &props), S_OK);
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(allocator->GetProperties(&actual), S_OK);
    EXPECT_EQ(actual.cBuffers, c.count);
    EXPECT_EQ(actual.cbBuffer, c.size);
    EXPECT_EQ(pin->BufferCount(), c.count);
  }
}

TEST(DarEdoSeekingTest, PositionsAndFramesComeFromTheTracks) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("h264_bframes.mp4")), S_OK);
  IMediaSeeking* seeking = graph.filterSeeking.Get();
  LONGLONG duration = 0, stop = 0;
  ASSERT_EQ(seeking->GetStopPosition(&stop), S_OK);
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(stop, duration);
  EXPECT_EQ(graph.dmx->IsRateSupported(-1.0), TRUE);
  EXPECT_EQ(seeking->SetRate(0.0), E_INVALIDARG);

  LONGLONG time = 0, frame = 0;
  ASSERT_EQ(graph.dmx->FrameToTime(24, &time), S_OK);
  EXPECT_EQ(time, kSecond);
  ASSERT_EQ(graph.dmx->TimeToFrame(kSecond + 1, &frame), S_OK);
  EXPECT_EQ(frame, 24);
  ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 48);

  // A new input starts the format and the positions over; the rate is the
  // application's and stays.
  LONGLONG start = 12;
  ASSERT_EQ(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_EQ(seeking->SetRate(2.0), S_OK);
  ASSERT_EQ(graph.graph->Disconnect(graph.sourceOut.Get()), S_OK);
  ASSERT_EQ(graph.graph->Disconnect(graph.dmx->GetPin(0)), S_OK);
  ASSERT_EQ(graph.graph->ConnectDirect(graph.sourceOut.Get(), graph.dmx->GetPin(0), nullptr), S_OK);
  double rate = 0;
  EXPECT_EQ(std::make_tuple(seeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), graph.dmx->StartPosition(),
                            seeking->GetRate(&rate), rate),
            std::make_tuple(S_OK, 0, S_OK, 2.0));

  // Without video there are no frames to count.
  IsoGraph audio;
  ASSERT_EQ(audio.Open(DataPath("aac_only.m4a")), S_OK);
  IMediaSeeking* audioSeeking = audio.filterSeeking.Get();
  EXPECT_EQ(audioSeeking->SetTimeFormat(&TIME_FORMAT_FRAME), E_NOTIMPL);
  EXPECT_EQ(audioSeeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(audio.dmx->TimeToFrame(kSecond, &frame), E_NOTIMPL);
  ASSERT_EQ(audio.dmx->FrameToTime(7, &time), S_OK);
  EXPECT_EQ(time, 7);
}

// Frames are the video track's samples: audio delivered alone moves the
// time, never the frame.
TEST(DarEdoSeekingTest, OnlyTheFirstVideoPinWritesTheCurrentFrame) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("h264_bframes.mp4")), S_OK);
  ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks(1));
  IMediaSeeking* seeking = graph.filterSeeking.Get();
  ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
  EXPECT_GT(graph.sinks[0]->Samples().size(), 90u);
  LONGLONG frame = -1;
  ASSERT_EQ(seeking->GetCurrentPosition(&frame), S_OK);
  EXPECT_EQ(frame, 0);
  ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  LONGLONG time = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&time), S_OK);
  EXPECT_GT(time, kSecond);
}

TEST(DarEdoSeekingTest, FragmentedMovieStopsAtTheEndOfItsFragmentsNotItsHeaders) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("frag_empty_moov.mp4")), S_OK);
  IMediaSeeking* seeking = graph.filterSeeking.Get();
  LONGLONG stop = 0;
  ASSERT_EQ(seeking->GetStopPosition(&stop), S_OK);
  EXPECT_EQ(stop, MAX_TIME);
  // Every track has a typical sample duration for the frame conversions,
  // and buffers sized from its format: a 160x90 picture six times over
  // (read from the VIDEOINFOHEADER2's bitmap header), and 1.5 s of 16-bit
  // stereo 48 kHz audio ten times over.
  ASSERT_EQ(graph.dmx->GetOutputPinCount(), 2);
  for (int k = 0; k < 2; ++k) EXPECT_GT(graph.dmx->GetOutputPin(k)->Track()->fixedSampleDuration, 0) << k;
  CMediaType video;
  ASSERT_EQ(graph.dmx->GetOutputPin(0)->GetMediaType(0, &video), S_OK);
  ASSERT_EQ(video.formattype, FORMAT_VideoInfo2);
  EXPECT_EQ(graph.dmx->GetOutputPin(0)->MaxSampleSize(), 160u * 90 * 6);
  EXPECT_EQ(graph.dmx->GetOutputPin(1)->MaxSampleSize(), 2u * 48000 * 2 * 3 / 2 * 10);
}

TEST(DarEdoSeekingTest, MoviesLastAsLongAsTheirLongestTrackOrTheirFragments) {
  // Fragmented headers say 0. GStreamer writes "mehd"; ffmpeg's files end
  // where the last indexed fragment does, as ffprobe's longest stream
  // (audio). In h264_bframes audio is the longer track: 97024 / 48000 s.
  const std::pair<const char*, LONGLONG> files[] = {{"h264_bframes.mp4", 20213333},
                                                    {"gst_fragmented.mp4", 20054166},
                                                    {"frag_empty_moov.mp4", 20833333},
                                                    {"smooth.ismv", 20213333}};
  for (const auto& [file, expected] : files) {
    IsoGraph graph;
    ASSERT_EQ(graph.Open(DataPath(file)), S_OK) << file;
    LONGLONG duration = 0;
    ASSERT_EQ(graph.dmx->GetDuration(&duration), S_OK) << file;
    EXPECT_EQ(duration, expected) << file;
  }
}

TEST(DarEdoPlaybackTest, ReverseFromAJumpToTheLastFragmentReachesTheFirst) {
  // 16 one-second fragments, one key frame each; 15.5 s lies past what the
  // connection read, so the seek jumps through the index.
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("frag_long.mp4")), S_OK);
  ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
  ASSERT_EQ(graph.seeking->SetRate(-1.0), S_OK);
  LONGLONG start = 15 * kSecond + kSecond / 2, stop = 0;
  ASSERT_EQ(graph.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning),
            S_OK);
  ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
  const std::vector<SinkSample> frames = graph.sinks[0]->Samples();
  ASSERT_EQ(frames.size(), 16u);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_TRUE(frames[i].sync) << i;
    // Stream times run forward from the start: the start less each end (a
    // frame lasts a sixth of a second, rounded up).
    EXPECT_EQ(frames[i].start, start - (15 - static_cast<LONGLONG>(i)) * kSecond - 1666667) << i;
  }
}

TEST(DarEdoPlaybackTest, FlushingSeekWhileRunningRestartsEveryPinFromTheNewKeyFrame) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("h264_bframes.mp4")), S_OK);
  ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
  ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
  graph.ClearRecords();
  LONGLONG start = kSecond;
  ASSERT_EQ(graph.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
            S_OK);
  ASSERT_EQ(graph.WaitForEnd(), EC_COMPLETE);
  // Video restarts a key frame before the one at 1 s (frame 12 of GOPs of
  // 12), audio at the frame holding 1 s.
  const struct {
    LONGLONG firstSample;
    size_t samples;
  } expected[] = {{12, 36}, {46, 49}};
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const std::string sequence = graph.sinks[k]->Sequence();
    EXPECT_EQ(sequence, "BFN" + std::string(expected[k].samples, 'S') + "E");
    const std::vector<SinkSample> samples = graph.sinks[k]->Samples();
    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(samples.front().mediaStart, expected[k].firstSample);
    EXPECT_TRUE(samples.front().discontinuity);
    EXPECT_LE(samples.front().start, 0);
    EXPECT_EQ(graph.sinks[k]->Segments().back().start, kSecond);
    // The restarted pins deliver through their queues again, so a
    // downstream that blocks does not stall the reads.
    EXPECT_GT(graph.dmx->GetOutputPin(static_cast<int>(k))->BufferCount(), 1);
    EXPECT_TRUE(graph.dmx->GetOutputPin(static_cast<int>(k))->HasOutputQueue());
  }
  // The position follows delivery.
  LONGLONG current = 0;
  ASSERT_EQ(graph.seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_GT(current, kSecond);
}

// A downstream filter may ask about its connection from inside Receive
// while a Stop holds the filter lock and waits for that Receive to end.
TEST(DarEdoPlaybackTest, PinQueriesFromInsideReceiveDoNotBlockAStop) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("mjpeg.mov")), S_OK);
  HRESULT hr = S_OK;
  auto* created = new QueryingSink(graph.dmx->FilterLock(), &hr);
  created->NonDelegatingAddRef();
  const ComPtr<QueryingSink> sink = ComPtr<QueryingSink>::Attach(created);
  ASSERT_EQ(graph.graph->AddFilter(sink.Get(), L"Querying sink"), S_OK);
  ASSERT_EQ(graph.graph->ConnectDirect(graph.dmx->GetOutputPin(0), sink->GetPin(0), nullptr), S_OK);
  // Samples flow in Paused already; Run would wait on the sink's own
  // receive lock, which its first Receive holds.
  ASSERT_EQ(graph.control->Pause(), S_OK);
  {
    const Watchdog watchdog(std::chrono::seconds(60), "the filter's Stop");
    ASSERT_TRUE(sink->ReleaseReceiveOnceEntered());
    EXPECT_EQ(graph.filter->Stop(), S_OK);
  }
  EXPECT_TRUE(sink->Answered());
  graph.control->Stop();
  graph.graph->RemoveFilter(sink.Get());
}

TEST(DarEdoPlaybackTest, FileCutWhileConnectedEndsTheStreamsEarlyWithoutACrash) {
  const std::vector<uint8_t> bytes = [] {
    std::ifstream in(DataPath("h264_faststart.mp4"), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }();
  const TemporaryFile file(bytes);
  IsoGraph graph;
  ASSERT_EQ(graph.Open(file.Path()), S_OK);
  ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
  // The movie box comes first: half the file keeps it and half the samples.
  ASSERT_EQ(::truncate(file.Path().c_str(), static_cast<off_t>(bytes.size() / 2)), 0);
  ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
  const size_t video = graph.sinks[0]->Samples().size();
  EXPECT_GT(video, 0u);
  EXPECT_LT(video, 48u);
  EXPECT_EQ(graph.sinks[0]->EndOfStreamCount(), 1);
}

TEST(DarEdoPlaybackTest, RateChangeWhileRunningRestampsTheStreams) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("mjpeg.mov")), S_OK);
  ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
  ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
  graph.ClearRecords();
  ASSERT_EQ(graph.seeking->SetRate(2.0), S_OK);
  // The rate change starts the streams over: the graph completes anew, and
  // only once every stream has ended again.
  ASSERT_EQ(graph.WaitForEnd(), EC_COMPLETE);
  LONG event = 0;
  LONG_PTR p1 = 0, p2 = 0;
  ASSERT_EQ(graph.events->GetEvent(&event, &p1, &p2, 0), S_OK);
  EXPECT_EQ(event, EC_COMPLETE);
  EXPECT_EQ(graph.sinks[0]->EndOfStreamCount(), 1);
  // 6 frames of 1/12 s at twice the speed.
  const std::vector<SinkSample> samples = graph.sinks[0]->Samples();
  ASSERT_EQ(samples.size(), 6u);
  EXPECT_EQ(samples[1].start, kSecond / 12 / 2);
  EXPECT_EQ(graph.sinks[0]->Segments().back().rate, 2.0);
}

}  // namespace
