// A player's worst afternoon: a thousand random seeks (with and without
// flush), rate changes (reverse included) and state changes on a playing
// graph, then a disconnect and a reconnect. Nothing may deadlock, every
// worker and queue thread must be gone at the end, and the graph must still
// play the file to its end.
#include "iso_graph.h"

#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <random>
#include <thread>

namespace {

using namespace isotest;

constexpr int kOperations = 1000;
// Far beyond what the operations take, even under a sanitizer.
constexpr auto kWatchdogLimit = std::chrono::minutes(4);

size_t ThreadCount() {
  std::error_code error;
  const std::filesystem::directory_iterator tasks("/proc/self/task", error);
  return static_cast<size_t>(std::distance(tasks, std::filesystem::directory_iterator()));
}

TEST(DarEdoStressTest, RandomSeeksRatesAndStateChangesNeitherDeadlockNorLeakThreads) {
  // A deadlock must fail the run, not hang it.
  const Watchdog watchdog(kWatchdogLimit, "the stress test (deadlock)");
  const size_t threadsBefore = ThreadCount();
  {
    IsoGraph graph;
    ASSERT_EQ(graph.Open(DataPath("h264_bframes.mp4")), S_OK);
    ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
    LONGLONG duration = 0;
    ASSERT_EQ(graph.seeking->GetDuration(&duration), S_OK);

    std::mt19937 random(20240517);
    const double rates[] = {-2.0, -1.0, 0.5, 1.0, 2.0, 4.0};
    ASSERT_EQ(graph.control->Run(), S_OK);
    for (int i = 0; i < kOperations; ++i) {
      const unsigned operation = random() % 10;
      if (operation < 5) {
        LONGLONG start = static_cast<LONGLONG>(random() % static_cast<unsigned>(duration + 1));
        LONGLONG stop = static_cast<LONGLONG>(random() % static_cast<unsigned>(duration + 1));
        const DWORD noFlush = random() % 3 == 0 ? AM_SEEKING_NoFlush : 0;
        const DWORD stopFlags = random() % 2 == 0 ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning;
        EXPECT_TRUE(SUCCEEDED(graph.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning | noFlush, &stop,
                                                           stopFlags | noFlush)));
      } else if (operation < 7) {
        EXPECT_EQ(graph.seeking->SetRate(rates[random() % std::size(rates)]), S_OK);
      } else if (operation == 7) {
        EXPECT_EQ(graph.control->Stop(), S_OK);
      } else if (operation == 8) {
        EXPECT_TRUE(SUCCEEDED(graph.control->Pause()));
      } else {
        EXPECT_TRUE(SUCCEEDED(graph.control->Run()));
      }
    }
    ASSERT_EQ(graph.control->Stop(), S_OK);
    for (int k = 0; k < graph.dmx->GetOutputPinCount(); ++k) {
      EXPECT_FALSE(graph.dmx->GetOutputPin(k)->ThreadExists()) << k;
      EXPECT_FALSE(graph.dmx->GetOutputPin(k)->HasOutputQueue()) << k;
    }

    // Disconnect everything and connect again: the new pins play the whole
    // file from the start.
    for (auto& sink : graph.sinks) graph.graph->RemoveFilter(sink.Get());
    graph.sinks.clear();
    ASSERT_EQ(graph.graph->Disconnect(graph.sourceOut.Get()), S_OK);
    ASSERT_EQ(graph.graph->Disconnect(graph.dmx->GetPin(0)), S_OK);
    ASSERT_EQ(graph.dmx->GetOutputPinCount(), 0);
    ASSERT_EQ(graph.graph->ConnectDirect(graph.sourceOut.Get(), graph.dmx->GetPin(0), nullptr), S_OK);
    ASSERT_NO_FATAL_FAILURE(graph.ConnectSinks());
    ASSERT_EQ(graph.seeking->SetRate(1.0), S_OK);
    graph.ClearRecords();
    ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
    EXPECT_EQ(graph.sinks[0]->Samples().size(), 48u);
    EXPECT_EQ(graph.sinks[1]->Samples().size(), 95u);
  }
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

}  // namespace
