// TestHttpServer: HTTP/1.1 on 127.0.0.1 and a free port, serving files held
// in memory (GET with or without "Range: bytes=FROM-", HEAD; 404 otherwise;
// one request per connection). On request it ignores ranges, holds a body
// that runs across a byte position until released, or closes the
// connection at a position; it counts requests. Bounded: a thread per
// connection, at most 256 connections, every wait polls the stop flag
// every 50 ms, and the destructor joins every thread.
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
  explicit TestHttpServer(std::map<std::string, std::string> files);
  ~TestHttpServer();

  std::string Url(const std::string& path) const;  // "http://127.0.0.1:PORT" + path

  std::atomic<bool> ignoreRanges{false};
  std::atomic<int64_t> stallAt{-1};
  std::atomic<int64_t> dropAt{-1};
  std::atomic<int> requests{0};
  // Set once a body waits at stallAt; cleared with it by ReleaseStall.
  std::atomic<bool> stalled{false};
  void ReleaseStall() { stallAt = -1, stalled = false; }

 private:
  void AcceptLoop();
  void Serve(int connection);
  bool Send(int connection, const char* data, size_t size);

  const std::map<std::string, std::string> m_files;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_acceptor;
  std::vector<std::thread> m_threads;  // only the acceptor adds, before it is joined
};
