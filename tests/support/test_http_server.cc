#include "test_http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kPollMs = 50;
constexpr int kMaxConnections = 256;
constexpr int64_t kChunkBytes = 16 << 10;

bool Wait(int fd, short events) {
  pollfd waiting{fd, events, 0};
  return ::poll(&waiting, 1, kPollMs) > 0;
}

}  // namespace

TestHttpServer::TestHttpServer(std::map<std::string, std::string> files) : m_files(std::move(files)) {
  m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(m_listener, 16) == 0 &&
      ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread(&TestHttpServer::AcceptLoop, this);
  }
}

TestHttpServer::~TestHttpServer() {
  m_stop = true;
  if (m_acceptor.joinable()) m_acceptor.join();
  for (std::thread& thread : m_threads) thread.join();
  ::close(m_listener);
}

std::string TestHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void TestHttpServer::AcceptLoop() {
  while (!m_stop && m_threads.size() < kMaxConnections) {
    const int connection = Wait(m_listener, POLLIN) ? ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (connection >= 0) m_threads.emplace_back(&TestHttpServer::Serve, this, connection);
  }
}

bool TestHttpServer::Send(int connection, const char* data, size_t size) {
  while (size > 0 && !m_stop) {
    const ssize_t sent = Wait(connection, POLLOUT) ? ::send(connection, data, size, MSG_NOSIGNAL) : 0;
    if (sent < 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return size == 0;
}

void TestHttpServer::Serve(int connection) {
  std::string head;
  char chunk[4096];
  while (!m_stop && head.find("\r\n\r\n") == std::string::npos && head.size() < sizeof chunk * 4) {
    const ssize_t got = Wait(connection, POLLIN) ? ::recv(connection, chunk, sizeof chunk, 0) : -2;
    if (got == 0 || got == -1) break;
    if (got > 0) head.append(chunk, static_cast<size_t>(got));
  }
  ++requests;
  char method[8] = {}, path[512] = {};
  std::sscanf(head.c_str(), "%7s %511s", method, path);
  const auto found = m_files.find(path);
  const std::string& file = found != m_files.end() ? found->second : head;
  const auto size = static_cast<int64_t>(file.size());
  long long from = 0;
  const size_t range = head.find("\r\nRange: bytes=");
  const bool partial = range != std::string::npos && !ignoreRanges &&
                       std::sscanf(head.c_str() + range, "\r\nRange: bytes=%lld-", &from) == 1 && from < size;
  if (!partial) from = 0;
  std::string reply = found == m_files.end() ? "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                      : partial ? "HTTP/1.1 206 Partial\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                                      std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n"
                                : "HTTP/1.1 200 OK\r\n";
  if (found != m_files.end()) reply += "Content-Length: " + std::to_string(size - from) + "\r\n";
  reply += "Connection: close\r\n\r\n";
  int64_t at = found == m_files.end() || std::string(method) == "HEAD" ? size : from;
  if (!Send(connection, reply.data(), reply.size())) at = size;
  while (at < size && !m_stop) {
    const int64_t stall = stallAt, drop = dropAt;
    if (stall >= 0 && at >= stall && from < stall) {
      stalled = true;
      ::usleep(kPollMs * 1000);
      continue;
    }
    if (drop >= 0 && at >= drop) break;
    int64_t end = std::min(size, at + kChunkBytes);
    for (const int64_t limit : {stall, drop}) {
      if (limit > at) end = std::min(end, limit);
    }
    if (!Send(connection, file.data() + at, static_cast<size_t>(end - at))) break;
    at = end;
  }
  ::close(connection);
}
