// TestHttpServer: a small HTTP/1.1 server on 127.0.0.1 and a free port, for
// tests of URL byte sources. It serves files held in memory (GET with or
// without a byte range, HEAD, keep-alive) and can misbehave on request:
// ignore ranges, stall before a byte position until released, drop the
// connection at a byte position, or answer every request with a status.
// It counts the requests it received.
//
// Bounded: each connection has a thread of its own and serves at most
// kMaxRequestsPerConnection requests; every wait polls the stop flag at
// least every 50 ms; the destructor stops and joins every thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TestHttpServer {
 public:
  static constexpr int kMaxRequestsPerConnection = 1000;
  static constexpr int kMaxConnections = 256;

  // `files` maps a path ("/a.mp4") to its bytes.
  explicit TestHttpServer(std::map<std::string, std::string> files);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  // "http://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const;
  bool Listening() const { return m_listener >= 0; }

  void IgnoreRanges(bool ignore) { m_ignoreRanges = ignore; }
  // Body bytes from `position` on are not sent until ReleaseStall().
  void StallAt(int64_t position) { m_stallAt = position; }
  void ReleaseStall() {
    m_stallAt = -1;
    m_stalled = false;
  }
  // The connection closes when the body reaches `position`.
  void DropAt(int64_t position) { m_dropAt = position; }
  // Every request gets this status (404, 500 ...) with an empty body; 0 serves.
  void AnswerWith(int status) { m_status = status; }

  int Requests() const { return m_requests; }
  // Requests that carried a Range header.
  int RangeRequests() const { return m_rangeRequests; }
  // True once a body write is waiting on the stall.
  bool Stalled() const { return m_stalled; }

 private:
  void AcceptLoop();
  void Serve(int connection);
  bool SendAll(int connection, const char* data, size_t size);
  bool SendBody(int connection, const std::string& file, int64_t from, int64_t to);

  std::map<std::string, std::string> m_files;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_ignoreRanges{false};
  std::atomic<int64_t> m_stallAt{-1};
  std::atomic<int64_t> m_dropAt{-1};
  std::atomic<int> m_status{0};
  std::atomic<int> m_requests{0};
  std::atomic<int> m_rangeRequests{0};
  std::atomic<bool> m_stalled{false};
  std::thread m_acceptor;
  std::mutex m_threadsLock;  // guards m_threads
  std::vector<std::thread> m_threads;
};

// Reads a whole file into memory (empty when it cannot be read).
std::string ReadWholeFile(const std::string& path);
