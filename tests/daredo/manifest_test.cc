#include "daredo/manifest.h"
#include "iso_graph.h"
#include "platform/url_source_filter.h"
#include "platform/win32_error.h"
#include "support/box_builder.h"
#include "support/movie_builder.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

using isotest::DataPath;
using isotest::IsoGraph;

constexpr LONGLONG kSecond = 10000000;

std::string Manifest(const std::string& body) {
  return "<?xml version=\"1.0\"?><smil xmlns=\"http://www.w3.org/2001/SMIL20/Language\"><body><switch>" + body +
         "</switch></body></smil>";
}

std::string Element(const char* name, const char* src, const char* bitrate, const char* params) {
  std::string text = std::string("<") + name + " src=\"" + src + "\"";
  if (bitrate != nullptr) text += std::string(" systemBitrate=\"") + bitrate + "\"";
  return text + ">" + params + "</" + name + ">";
}

constexpr char kTrack1[] = "<param name=\"trackID\" value=\"1\"/>";

TEST(ManifestSelectionTest, HighestBitRateWithATrackIsChosen) {
  struct Case {
    const char* name;
    std::string body;
    HRESULT result;
    const wchar_t* location;
    DWORD trackId;
  };
  const Case cases[] = {
      {"higher bit rate second",
       Element("video", "a.ismv", "1000", kTrack1) + Element("video", "b.ismv", "3000", kTrack1), S_OK,
       L"/srv/p/b.ismv", 1},
      {"equal bit rates keep the first",
       Element("video", "a.ismv", "3000", kTrack1) + Element("video", "b.ismv", "3000", kTrack1), S_OK,
       L"/srv/p/a.ismv", 1},
      {"no bit rate is never chosen", Element("video", "a.ismv", nullptr, kTrack1), S_FALSE, nullptr, 0},
      {"zero and negative bit rates", Element("video", "a.ismv", "0", kTrack1) + Element("video", "b.ismv", "-5", kTrack1),
       S_FALSE, nullptr, 0},
      {"bit rate read as atol does",
       Element("video", "a.ismv", " +2000kbps", kTrack1) + Element("video", "b.ismv", "1999", kTrack1), S_OK,
       L"/srv/p/a.ismv", 1},
      {"param and trackID in other letter case",
       Element("video", "a.ismv", "1000", "<PARAM name=\"TRACKID\" value=\"2\"/>"), S_OK, L"/srv/p/a.ismv", 2},
      {"first trackID parameter wins",
       Element("video", "a.ismv", "1000",
               "<param name=\"bitrate\" value=\"9\"/><param name=\"trackID\" value=\"3\"/><param name=\"trackID\" "
               "value=\"4\"/>"),
       S_OK, L"/srv/p/a.ismv", 3},
      {"track 0 selects nothing", Element("video", "a.ismv", "1000", "<param name=\"trackID\" value=\"0\"/>"), S_FALSE,
       nullptr, 0},
      {"no trackID selects nothing", Element("video", "a.ismv", "1000", ""), S_FALSE, nullptr, 0},
      {"the winner without a track is not replaced by the runner-up",
       Element("video", "a.ismv", "1000", kTrack1) + Element("video", "b.ismv", "3000", ""), S_FALSE, nullptr, 0},
      {"an element without src is skipped",
       "<video systemBitrate=\"9000\">" + std::string(kTrack1) + "</video>" + Element("video", "b.ismv", "10", kTrack1),
       S_OK, L"/srv/p/b.ismv", 1},
      {"elements anywhere, audio ignored",
       "<x><y>" + Element("video", "sub/a.ismv", "10", kTrack1) + "</y></x>" +
           Element("audio", "b.isma", "99999", kTrack1),
       S_OK, L"/srv/p/sub/a.ismv", 1},
      {"element names are exact", Element("Video", "a.ismv", "1000", kTrack1), S_FALSE, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CXmlDocument document;
    const std::string text = Manifest(c.body);
    ASSERT_TRUE(document.LoadText(text.data(), text.size()));
    ManifestMedia media;
    EXPECT_EQ(SelectManifestMedia(document, "video", L"/srv/p/a.ism", &media), c.result);
    if (c.result != S_OK) continue;
    EXPECT_EQ(media.location, c.location);
    EXPECT_EQ(media.trackId, c.trackId);
  }
}

// Writes a manifest next to the test data, so that bare names reach it.
class ScratchManifest {
 public:
  explicit ScratchManifest(const std::string& text)
      : m_path(DataPath("scratch_" + std::to_string(getpid()) + "_" + std::to_string(s_counter++) + ".ism")) {
    std::ofstream(m_path) << text;
  }
  ~ScratchManifest() { std::remove(m_path.c_str()); }
  const std::string& Path() const { return m_path; }

 private:
  static inline int s_counter = 0;
  std::string m_path;
};

TEST(ManifestConnectTest, RefusedManifestsLeaveNoSources) {
  struct Case {
    const char* name;
    std::string text;
    HRESULT result;
  };
  const Case cases[] = {
      {"not XML", "<smil><body>", E_UNEXPECTED},
      {"no trackID anywhere", Manifest(Element("video", "smooth.ismv", "1000", "")), VFW_E_INVALID_FILE_FORMAT},
      {"missing media file", Manifest(Element("video", "no_such.ismv", "1000", kTrack1)),
       HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchManifest manifest(c.text);
    IsoGraph graph;
    EXPECT_LT(graph.Open(manifest.Path()), 0);
    EXPECT_EQ(graph.dmx->LastConnectResult(), c.result);
    EXPECT_EQ(graph.dmx->SourceCount(), 0u);
    EXPECT_EQ(graph.dmx->GetOutputPinCount(), 0);
  }
}

// Every sample of every pin, as the sinks recorded them.
std::vector<std::vector<SinkSample>> Play(IsoGraph& graph, LONGLONG start = 0) {
  if (start != 0) {
    EXPECT_EQ(graph.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
              S_OK);
  }
  EXPECT_EQ(graph.RunToEnd(), EC_COMPLETE);
  std::vector<std::vector<SinkSample>> pins;
  for (auto& sink : graph.sinks) pins.push_back(sink->Samples());
  return pins;
}

void ExpectSameSamples(const std::vector<std::vector<SinkSample>>& got,
                       const std::vector<std::vector<SinkSample>>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < got.size(); ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(got[k].size(), want[k].size());
    ASSERT_FALSE(got[k].empty());
    for (size_t i = 0; i < got[k].size(); ++i) {
      EXPECT_EQ(got[k][i].start, want[k][i].start);
      EXPECT_EQ(got[k][i].mediaStart, want[k][i].mediaStart);
      EXPECT_EQ(got[k][i].length, want[k][i].length);
      EXPECT_EQ(got[k][i].crc32, want[k][i].crc32);
    }
  }
}

TEST(ManifestConnectTest, VideoAndAudioComeFromTheirOwnSourcesVideoFirst) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("smooth_manifest.ism")), S_OK);
  ASSERT_EQ(graph.dmx->SourceCount(), 2u);
  EXPECT_EQ(graph.dmx->Source(0).wantedTrackId, 1u);
  EXPECT_EQ(graph.dmx->Source(1).wantedTrackId, 2u);
  // The bare src resolves next to the manifest.
  const std::string media = DataPath("smooth.ismv");
  EXPECT_EQ(graph.dmx->SourceLocation(0), std::wstring(media.begin(), media.end()));
  ASSERT_EQ(graph.dmx->GetOutputPinCount(), 2);
  EXPECT_EQ(graph.dmx->GetOutputPin(0)->Track()->mediaKind, kMediaKindVideo);
  EXPECT_EQ(graph.dmx->GetOutputPin(1)->Track()->mediaKind, kMediaKindSound);
}

class ManifestOverHttpTest : public ::testing::Test {
 protected:
  ManifestOverHttpTest()
      : m_server({{"/p/smooth.ismv", ReadWholeFile(DataPath("smooth.ismv"))},
                  {"/p/a.ism", ReadWholeFile(DataPath("smooth_manifest.ism"))}}) {}

  // The scheme in capitals is still a URL.
  std::string ManifestUrl() const { return "HTTP" + m_server.Url("/p/a.ism").substr(4); }

  TestHttpServer m_server;
};

TEST_F(ManifestOverHttpTest, PlaysAndSeeksAsFromDisk) {
  for (const LONGLONG start : {LONGLONG{0}, kSecond}) {
    SCOPED_TRACE(start);
    IsoGraph local;
    ASSERT_EQ(local.Open(DataPath("smooth_manifest.ism")), S_OK);
    ASSERT_NO_FATAL_FAILURE(local.ConnectSinks());
    IsoGraph remote;
    ASSERT_EQ(remote.Open(ManifestUrl(), nullptr, CLSID_URLReader), S_OK);
    ASSERT_NO_FATAL_FAILURE(remote.ConnectSinks());
    ExpectSameSamples(Play(remote, start), Play(local, start));
  }
}

// Ten 1 MiB pictures in an "mdat" before the movie box, so that playback
// reads far past what the connection read.
std::string BigMovie() {
  constexpr uint32_t kSampleBytes = 1 << 20;
  constexpr int kSamples = 10;
  TrackSpec track;
  track.format = "jpeg";
  track.entryBody.assign(70, 0);
  track.stts = {{kSamples, 60}};
  track.stsc = {{1, 1, 1}};
  BoxBuilder b;
  b.Box("mdat", [&] {
    for (int i = 0; i < kSamples; ++i) {
      track.sizes.push_back(kSampleBytes);
      track.chunkOffsets.push_back(b.Size());
      b.Zeros(kSampleBytes);
    }
  });
  WriteMovie(b, {track});
  return std::string(b.Data().begin(), b.Data().end());
}

// The stall timeout is longer than the test may run: only the flush of
// the sources can let Stop and the flushing seek return.
TEST(ManifestStallTest, StopAndFlushingSeekReturnWhileTheServerStalls) {
  TestHttpServer server({{"/big.mp4", BigMovie()},
                         {"/big.ism", Manifest(Element("video", "big.mp4", "1000", kTrack1))}});
  ::setenv("ISODMX_URL_TIMEOUT", "3600", 1);
  for (const char* input : {"/big.mp4", "/big.ism"}) {
    for (const bool seek : {false, true}) {
      SCOPED_TRACE(std::string(input) + (seek ? " seek" : " stop"));
      server.ReleaseStall();
      IsoGraph graph;
      ASSERT_EQ(graph.Open(server.Url(input), nullptr, CLSID_URLReader), S_OK);
      ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
      server.StallAt(3 << 20);
      ASSERT_EQ(graph.control->Run(), S_OK);
      for (int i = 0; i < 1000 && !server.Stalled(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_TRUE(server.Stalled());
      if (seek) {
        LONGLONG start = kSecond / 2;
        EXPECT_EQ(graph.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                              AM_SEEKING_NoPositioning),
                  S_OK);
      }
      EXPECT_EQ(graph.control->Stop(), S_OK);
    }
  }
  server.ReleaseStall();
  ::unsetenv("ISODMX_URL_TIMEOUT");
}

}  // namespace
