#include "test_http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kPollMs = 50;
constexpr size_t kMaxHeaderBytes = 16 << 10;
constexpr size_t kChunkBytes = 16 << 10;

const char* ReasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    default: return "Error";
  }
}

// The value of header `name` (lower case) in `head`, or "".
std::string HeaderValue(const std::string& head, const std::string& name) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = lower.find("\r\n" + name + ":");
  if (at == std::string::npos) return "";
  const size_t start = at + 3 + name.size();
  const size_t end = head.find("\r\n", start);
  std::string value = head.substr(start, end - start);
  while (!value.empty() && value.front() == ' ') value.erase(0, 1);
  return value;
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TestHttpServer::TestHttpServer(std::map<std::string, std::string> files) : m_files(std::move(files)) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener);
    return;
  }
  m_listener = listener;
  m_port = ntohs(address.sin_port);
  m_acceptor = std::thread(&TestHttpServer::AcceptLoop, this);
}

TestHttpServer::~TestHttpServer() {
  m_stop = true;
  if (m_acceptor.joinable()) m_acceptor.join();
  std::lock_guard<std::mutex> hold(m_threadsLock);
  for (std::thread& thread : m_threads) thread.join();
  if (m_listener >= 0) ::close(m_listener);
}

std::string TestHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void TestHttpServer::AcceptLoop() {
  int accepted = 0;
  while (!m_stop && accepted < kMaxConnections) {
    pollfd waiting{m_listener, POLLIN, 0};
    if (::poll(&waiting, 1, kPollMs) <= 0) continue;
    const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    ++accepted;
    std::lock_guard<std::mutex> hold(m_threadsLock);
    m_threads.emplace_back(&TestHttpServer::Serve, this, connection);
  }
}

bool TestHttpServer::SendAll(int connection, const char* data, size_t size) {
  while (size > 0) {
    if (m_stop) return false;
    pollfd writable{connection, POLLOUT, 0};
    if (::poll(&writable, 1, kPollMs) <= 0) continue;
    const ssize_t sent = ::send(connection, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool TestHttpServer::SendBody(int connection, const std::string& file, int64_t from, int64_t to) {
  int64_t position = from;
  while (position < to) {
    const int64_t stallAt = m_stallAt;
    if (stallAt >= 0 && position >= stallAt) {
      m_stalled = true;
      if (m_stop) return false;
      ::usleep(kPollMs * 1000);
      continue;
    }
    const int64_t dropAt = m_dropAt;
    if (dropAt >= 0 && position >= dropAt) return false;
    int64_t end = std::min<int64_t>(to, position + static_cast<int64_t>(kChunkBytes));
    if (stallAt >= 0 && stallAt > position) end = std::min(end, stallAt);
    if (dropAt >= 0 && dropAt > position) end = std::min(end, dropAt);
    if (!SendAll(connection, file.data() + position, static_cast<size_t>(end - position))) return false;
    position = end;
  }
  return true;
}

void TestHttpServer::Serve(int connection) {
  std::string pending;
  for (int served = 0; served < kMaxRequestsPerConnection && !m_stop;) {
    const size_t headEnd = pending.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
      if (pending.size() > kMaxHeaderBytes) break;
      pollfd readable{connection, POLLIN, 0};
      if (::poll(&readable, 1, kPollMs) <= 0) continue;
      char chunk[4096];
      const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
      if (got <= 0) break;
      pending.append(chunk, static_cast<size_t>(got));
      continue;
    }
    const std::string head = pending.substr(0, headEnd + 2);
    pending.erase(0, headEnd + 4);
    ++served;
    ++m_requests;
    char method[16] = {}, path[1024] = {};
    if (std::sscanf(head.c_str(), "%15s %1023s", method, path) != 2) break;
    const bool isHead = std::strcmp(method, "HEAD") == 0;
    const std::string range = HeaderValue(head, "range");
    if (!range.empty()) ++m_rangeRequests;

    const auto found = m_files.find(path);
    int status = m_status;
    if (status == 0 && found == m_files.end()) status = 404;
    if (status != 0) {
      char reply[128];
      std::snprintf(reply, sizeof reply, "HTTP/1.1 %d %s\r\nContent-Length: 0\r\n\r\n", status, ReasonOf(status));
      if (!SendAll(connection, reply, std::strlen(reply))) break;
      continue;
    }
    const std::string& file = found->second;
    const auto size = static_cast<int64_t>(file.size());
    int64_t from = 0, to = size;
    bool partial = false;
    long long first = 0, last = -1;
    if (!range.empty() && !m_ignoreRanges && !isHead &&
        std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) >= 1) {
      if (first >= size) {
        char reply[128];
        std::snprintf(reply, sizeof reply, "HTTP/1.1 416 %s\r\nContent-Range: bytes */%lld\r\nContent-Length: 0\r\n\r\n",
                      ReasonOf(416), static_cast<long long>(size));
        if (!SendAll(connection, reply, std::strlen(reply))) break;
        continue;
      }
      from = first;
      to = last >= first ? std::min<int64_t>(last + 1, size) : size;
      partial = true;
    }
    char reply[256];
    if (partial) {
      std::snprintf(reply, sizeof reply,
                    "HTTP/1.1 206 %s\r\nContent-Range: bytes %lld-%lld/%lld\r\nContent-Length: %lld\r\n\r\n",
                    ReasonOf(206), static_cast<long long>(from), static_cast<long long>(to - 1),
                    static_cast<long long>(size), static_cast<long long>(to - from));
    } else {
      std::snprintf(reply, sizeof reply, "HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\nContent-Length: %lld\r\n\r\n",
                    static_cast<long long>(size));
    }
    if (!SendAll(connection, reply, std::strlen(reply))) break;
    if (!isHead && !SendBody(connection, file, from, to)) break;
  }
  ::close(connection);
}
