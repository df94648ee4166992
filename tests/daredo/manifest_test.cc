#include "daredo/manifest.h"
#include "iso_graph.h"
#include "platform/url_source_filter.h"
#include "platform/win32_error.h"
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

std::string Manifest(const std::string& body) {
  return "<?xml version=\"1.0\"?><smil xmlns=\"http://www.w3.org/2001/SMIL20/Language\"><body>" + body +
         "</body></smil>";
}

// <video src="SRC" systemBitrate="RATE">PARAMS</video>; a null rate is none.
std::string Video(const char* src, const char* rate,
                  const std::string& params = "<param name=\"trackID\" value=\"1\"/>") {
  return std::string("<video src=\"") + src + "\"" + (rate ? std::string(" systemBitrate=\"") + rate + "\"" : "") +
         ">" + params + "</video>";
}

TEST(ManifestSelectionTest, HighestBitRateWithATrackIsChosen) {
  const struct {
    const char* name;
    std::string body;
    const wchar_t* location;  // null: nothing selected
    DWORD trackId;
  } cases[] = {
      {"higher bit rate second", Video("a", "1000") + Video("b", "3000"), L"/srv/p/b", 1},
      {"equal bit rates keep the first", Video("a", "3000") + Video("b", "3000"), L"/srv/p/a", 1},
      {"no bit rate is never chosen", Video("a", nullptr), nullptr, 0},
      {"zero and negative bit rates", Video("a", "0") + Video("b", "-5"), nullptr, 0},
      {"bit rate read as atol does", Video("a", " +2000kbps") + Video("b", "1999"), L"/srv/p/a", 1},
      {"param and trackID in other letter case", Video("a", "1", "<PARAM name=\"TRACKID\" value=\"2\"/>"), L"/srv/p/a",
       2},
      {"first trackID wins",
       Video(
           "a", "1",
           "<param name=\"x\" value=\"9\"/><param name=\"trackID\" value=\"3\"/><param name=\"trackid\" value=\"4\"/>"),
       L"/srv/p/a", 3},
      {"track 0 selects nothing", Video("a", "1", "<param name=\"trackID\" value=\"0\"/>"), nullptr, 0},
      {"the winner without a track is not replaced", Video("a", "1000") + Video("b", "3000", ""), nullptr, 0},
      {"an element without src is skipped", "<video systemBitrate=\"9\"/>" + Video("b", "1"), L"/srv/p/b", 1},
      {"anywhere in the document, names exact",
       "<x><y>" + Video("s/a", "10") + "</y></x><Video src=\"c\" systemBitrate=\"99\"/>", L"/srv/p/s/a", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CXmlDocument document;
    const std::string text = Manifest(c.body);
    ASSERT_TRUE(document.LoadText(text.data(), text.size()));
    ManifestMedia media;
    EXPECT_EQ(SelectManifestMedia(document, "video", L"/srv/p/a.ism", &media), c.location ? S_OK : S_FALSE);
    if (c.location == nullptr) continue;
    EXPECT_EQ(media.location, c.location);
    EXPECT_EQ(media.trackId, c.trackId);
  }
}

TEST(ManifestConnectTest, VideoThenAudioSourcesNextToTheManifestOrARefusal) {
  IsoGraph graph;
  ASSERT_EQ(graph.Open(DataPath("smooth_manifest.ism")), S_OK);
  ASSERT_EQ(graph.dmx->SourceCount(), 2u);
  const std::string media = DataPath("smooth.ismv");
  EXPECT_EQ(graph.dmx->SourceLocation(0), std::wstring(media.begin(), media.end()));
  EXPECT_EQ(graph.dmx->Source(0).wantedTrackId, 1u);
  EXPECT_EQ(graph.dmx->Source(1).wantedTrackId, 2u);
  ASSERT_EQ(graph.dmx->GetOutputPinCount(), 2);
  EXPECT_EQ(graph.dmx->GetOutputPin(0)->Track()->mediaKind, kMediaKindVideo);
  EXPECT_EQ(graph.dmx->GetOutputPin(1)->Track()->mediaKind, kMediaKindSound);

  const struct {
    std::string text;
    HRESULT result;
  } refusals[] = {
      {Manifest(Video("smooth.ismv", "1000", "")), VFW_E_INVALID_FILE_FORMAT},
      {Manifest(Video("no_such.ismv", "1000")), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
  };
  const std::string path = DataPath("scratch_" + std::to_string(getpid()) + ".ism");
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.text);
    std::ofstream(path) << refusal.text;
    IsoGraph refused;
    EXPECT_LT(refused.Open(path), 0);
    EXPECT_EQ(refused.dmx->LastConnectResult(), refusal.result);
    EXPECT_EQ(refused.dmx->SourceCount(), 0u);
  }
  std::remove(path.c_str());
}

// Twenty 1 MiB pictures before the movie box: playback reads past what
// the connection read and the socket buffers hold.
std::string BigMovie() {
  StreamSpec video;
  video.entryBody.assign(70, 0);
  video.durations.assign(20, 30);
  video.samples.assign(20, std::vector<uint8_t>(1 << 20));
  video.samplesPerChunk = 1;
  const std::vector<uint8_t> bytes = BuildMovieFile({video});
  return std::string(bytes.begin(), bytes.end());
}

// The stall timeout outlasts the test's own: only the flush of the source
// lets Stop and the flushing seek return.
TEST(ManifestStallTest, StopAndFlushingSeekReturnWhileTheServerStalls) {
  TestHttpServer server({{"/big.mp4", BigMovie()}, {"/big.ism", Manifest(Video("big.mp4", "1000"))}});
  ::setenv("ISODMX_URL_TIMEOUT", "3600", 1);
  for (const char* input : {"/big.mp4", "/big.ism"}) {
    for (const bool seek : {false, true}) {
      SCOPED_TRACE(std::string(input) + (seek ? " seek" : " stop"));
      server.ReleaseStall();
      server.stallAt = 12 << 20;
      IsoGraph graph;
      ASSERT_EQ(graph.Open(server.Url(input), nullptr, CLSID_URLReader), S_OK);
      ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
      ASSERT_EQ(graph.control->Run(), S_OK);
      for (int i = 0; i < 1000 && !server.stalled; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_TRUE(server.stalled);
      LONGLONG start = 5000000;
      if (seek) {
        EXPECT_EQ(
            graph.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning),
            S_OK);
      }
      EXPECT_EQ(graph.control->Stop(), S_OK);
    }
  }
  server.ReleaseStall();
  ::unsetenv("ISODMX_URL_TIMEOUT");
}

}  // namespace
