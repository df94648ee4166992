#include "platform/url_byte_source.h"

#include "platform/curl_library.h"
#include "platform/win32_error.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

namespace {

// Bytes kept behind the last read, so that readers a little behind one
// another (two tracks of one file) do not each cost a request.
constexpr LONGLONG kKeepBehind = 2 << 20;
// The end of a resource, where indexes live, is fetched once on a
// connection of its own, so that reading an index entry and then what it
// points at does not end the main transfer twice per entry.
constexpr LONGLONG kTailBytes = 1 << 20;
// A read this far past the received bytes lets the transfer run on to it
// rather than start another.
constexpr LONGLONG kSkipAhead = 2 << 20;
// Received bytes beyond the read in progress, at most (plus one chunk).
constexpr LONGLONG kReadAhead = 1 << 20;
// Trimming moves the kept bytes, so it waits until as much can go as it
// keeps: each byte is then moved about once.
constexpr LONGLONG kTrimStep = kKeepBehind;
constexpr long kReceiveBufferBytes = 256 << 10;
// The longest a wait for the network goes without looking at the flush flag.
constexpr int kPollMs = 100;
constexpr long kConnectTimeoutSeconds = 10;
constexpr long kStallTimeoutSeconds = 20;
constexpr long kMaxRedirects = 5;

CURL* Easy(void* handle) { return static_cast<CURL*>(handle); }
CURLM* Multi(void* handle) { return static_cast<CURLM*>(handle); }

// ISODMX_URL_TIMEOUT, when set to a positive number of seconds.
long TimeoutOverride() {
  const char* text = std::getenv("ISODMX_URL_TIMEOUT");
  if (text == nullptr) return 0;
  const long seconds = std::strtol(text, nullptr, 10);
  return seconds > 0 ? seconds : 0;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const size_t length = std::strlen(prefix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

HRESULT CUrlByteSource::Open(const std::string& url, IAsyncReader** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  auto* source = new (std::nothrow) CUrlByteSource(url);
  if (source == nullptr) return E_OUTOFMEMORY;
  source->NonDelegatingAddRef();
  const HRESULT hr = source->Initialise();
  if (FAILED(hr)) {
    source->NonDelegatingRelease();
    return hr;
  }
  *out = source;
  return S_OK;
}

CUrlByteSource::CUrlByteSource(const std::string& url)
    : CSyncByteSource("CUrlByteSource"),
      m_url(url),
      m_isHttp(StartsWithNoCase(url, "http:") || StartsWithNoCase(url, "https:")) {}

CUrlByteSource::~CUrlByteSource() {
  EndTransfer();
  if (m_multi != nullptr) Curl()->multiCleanup(Multi(m_multi));
  if (m_tailMulti != nullptr) Curl()->multiCleanup(Multi(m_tailMulti));
  if (m_easy != nullptr) Curl()->easyCleanup(Easy(m_easy));
}

HRESULT CUrlByteSource::Initialise() {
  if (Curl() == nullptr) return INET_E_DOWNLOAD_FAILURE;
  m_easy = Curl()->easyInit();
  m_multi = Curl()->multiInit();
  m_tailMulti = Curl()->multiInit();
  if (m_easy == nullptr || m_multi == nullptr || m_tailMulti == nullptr) return E_OUTOFMEMORY;
  CURL* easy = Easy(m_easy);
  const long override = TimeoutOverride();
  Curl()->easySetopt(easy, CURLOPT_URL, m_url.c_str());
  Curl()->easySetopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  Curl()->easySetopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
  Curl()->easySetopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  Curl()->easySetopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  Curl()->easySetopt(easy, CURLOPT_NOSIGNAL, 1L);
  Curl()->easySetopt(easy, CURLOPT_FAILONERROR, 1L);
  Curl()->easySetopt(easy, CURLOPT_CONNECTTIMEOUT, override != 0 ? override : kConnectTimeoutSeconds);
  // A stall is less than a byte a second for the whole period.
  Curl()->easySetopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  Curl()->easySetopt(easy, CURLOPT_LOW_SPEED_TIME, override != 0 ? override : kStallTimeoutSeconds);
  Curl()->easySetopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  Curl()->easySetopt(easy, CURLOPT_WRITEFUNCTION, &CUrlByteSource::OnBody);
  Curl()->easySetopt(easy, CURLOPT_WRITEDATA, this);
  CAutoLock hold(&m_lock);
  return QuerySize();
}

HRESULT CUrlByteSource::QuerySize() {
  CURL* easy = Easy(m_easy);
  Curl()->easySetopt(easy, CURLOPT_NOBODY, 1L);
  HRESULT hr = StartTransfer(0);
  if (SUCCEEDED(hr)) hr = Pump(std::numeric_limits<LONGLONG>::max());
  EndTransfer();
  if (FAILED(hr)) return hr;
  hr = TransferResult(m_easy, m_transferCode, m_rangeIgnored);
  if (FAILED(hr)) return hr;
  curl_off_t length = -1;
  Curl()->easyGetinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (length < 0) return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
  m_size = length;
  if (m_isHttp) {
    Curl()->easySetopt(easy, CURLOPT_HTTPGET, 1L);
  } else {
    Curl()->easySetopt(easy, CURLOPT_NOBODY, 0L);
  }
  return S_OK;
}

HRESULT CUrlByteSource::StartTransfer(LONGLONG from) {
  EndTransfer();
  CURL* easy = Easy(m_easy);
  char range[32];
  std::snprintf(range, sizeof range, "%lld-", static_cast<long long>(from));
  Curl()->easySetopt(easy, CURLOPT_RANGE, m_size < 0 ? nullptr : range);
  m_transferFrom = from;
  m_transferDone = false;
  m_transferCode = CURLE_OK;
  m_rangeIgnored = false;
  if (Curl()->multiAddHandle(Multi(m_multi), easy) != CURLM_OK) return E_OUTOFMEMORY;
  m_attached = true;
  ++m_requests;
  return S_OK;
}

void CUrlByteSource::EndTransfer() {
  if (!m_attached) return;
  // A paused transfer holds back what it received; it goes nowhere.
  if (m_paused) {
    m_discarding = true;
    Curl()->easyPause(Easy(m_easy), CURLPAUSE_CONT);
    m_discarding = false;
    m_paused = false;
  }
  Curl()->multiRemoveHandle(Multi(m_multi), Easy(m_easy));
  m_attached = false;
}

HRESULT CUrlByteSource::Pump(LONGLONG until) {
  CURLM* multi = Multi(m_multi);
  m_pumpUntil = until;
  if (m_paused && m_attached && WindowEnd() < until) {
    m_paused = false;
    Curl()->easyPause(Easy(m_easy), CURLPAUSE_CONT);
  }
  for (;;) {
    if (m_flushing) return VFW_E_WRONG_STATE;
    if (!m_attached || m_transferDone || WindowEnd() >= until) return S_OK;
    int running = 0;
    const CURLMcode code = Curl()->multiPerform(multi, &running);
    if (code == CURLM_OUT_OF_MEMORY) return E_OUTOFMEMORY;
    if (code != CURLM_OK) return INET_E_DOWNLOAD_FAILURE;
    int queued = 0;
    while (CURLMsg* message = Curl()->multiInfoRead(multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      m_transferDone = true;
      m_transferCode = message->data.result;
    }
    if (m_transferDone) {
      EndTransfer();
      return S_OK;
    }
    if (WindowEnd() >= until) return S_OK;
    Curl()->multiPoll(multi, nullptr, 0, kPollMs, nullptr);
  }
}

HRESULT CUrlByteSource::TransferResult(void* easy, int curlCode, bool rangeIgnored) {
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK:
      return S_OK;
    case CURLE_WRITE_ERROR:
      return rangeIgnored ? HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) : INET_E_DOWNLOAD_FAILURE;
    case CURLE_HTTP_RETURNED_ERROR: {
      long status = 0;
      Curl()->easyGetinfo(Easy(easy), CURLINFO_RESPONSE_CODE, &status);
      return status == 404 || status == 410 ? INET_E_RESOURCE_NOT_FOUND : INET_E_DOWNLOAD_FAILURE;
    }
    case CURLE_REMOTE_FILE_NOT_FOUND:
      return INET_E_RESOURCE_NOT_FOUND;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HRESULT_FROM_WIN32(ERROR_INTERNET_NAME_NOT_RESOLVED);
    case CURLE_COULDNT_CONNECT:
      return HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT);
    case CURLE_OPERATION_TIMEDOUT:
      return HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT);
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_URL);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_RESET);
    case CURLE_OUT_OF_MEMORY:
      return E_OUTOFMEMORY;
    default:
      return INET_E_DOWNLOAD_FAILURE;
  }
}

size_t CUrlByteSource::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* source = static_cast<CUrlByteSource*>(self);
  const size_t bytes = size * count;
  if (source->m_discarding) return bytes;
  // Enough is held beyond the read in progress: the rest waits in libcurl
  // and the socket, not in memory of ours.
  if (source->WindowEnd() - source->m_pumpUntil >= kReadAhead) {
    source->m_paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (source->WindowEnd() == source->m_transferFrom && source->m_isHttp && source->m_transferFrom > 0) {
    long status = 0;
    Curl()->easyGetinfo(Easy(source->m_easy), CURLINFO_RESPONSE_CODE, &status);
    // A whole body from 0 would land at the wrong place in the window.
    if (status != 206) {
      source->m_rangeIgnored = true;
      return 0;
    }
  }
  // A server that sends more than it said it has is cut at the size.
  const LONGLONG room = source->m_size - source->WindowEnd();
  const size_t kept = static_cast<size_t>(std::clamp<LONGLONG>(room, 0, static_cast<LONGLONG>(bytes)));
  try {
    const auto* received = reinterpret_cast<const BYTE*>(data);
    source->m_window.insert(source->m_window.end(), received, received + kept);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return bytes;
}

namespace {

struct TailSink {
  CURL* easy;
  LONGLONG from;
  size_t limit;
  std::vector<BYTE>* bytes;
  bool rangeIgnored = false;
};

size_t OnTailBody(char* data, size_t size, size_t count, void* context) {
  auto* sink = static_cast<TailSink*>(context);
  const size_t bytes = size * count;
  if (sink->bytes->empty() && sink->from > 0) {
    long status = 0;
    Curl()->easyGetinfo(sink->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status == 200) {
      sink->rangeIgnored = true;
      return 0;
    }
  }
  const size_t kept = std::min(bytes, sink->limit - sink->bytes->size());
  try {
    const auto* from = reinterpret_cast<const BYTE*>(data);
    sink->bytes->insert(sink->bytes->end(), from, from + kept);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return bytes;
}

}  // namespace

HRESULT CUrlByteSource::FetchTail() {
  const LONGLONG from = TailStart();
  CURL* easy = Curl()->easyDuphandle(Easy(m_easy));
  if (easy == nullptr) return E_OUTOFMEMORY;
  std::vector<BYTE> tail;
  TailSink sink{easy, from, static_cast<size_t>(m_size - from), &tail};
  char range[32];
  std::snprintf(range, sizeof range, "%lld-", static_cast<long long>(from));
  Curl()->easySetopt(easy, CURLOPT_RANGE, range);
  Curl()->easySetopt(easy, CURLOPT_WRITEFUNCTION, &OnTailBody);
  Curl()->easySetopt(easy, CURLOPT_WRITEDATA, &sink);
  CURLM* multi = Multi(m_tailMulti);
  HRESULT hr = Curl()->multiAddHandle(multi, easy) == CURLM_OK ? S_OK : E_OUTOFMEMORY;
  ++m_requests;
  int code = -1;
  while (SUCCEEDED(hr) && code < 0) {
    int running = 0;
    if (m_flushing) {
      hr = VFW_E_WRONG_STATE;
    } else if (Curl()->multiPerform(multi, &running) != CURLM_OK) {
      hr = INET_E_DOWNLOAD_FAILURE;
    } else {
      int queued = 0;
      while (CURLMsg* message = Curl()->multiInfoRead(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) code = message->data.result;
      }
      if (code < 0) Curl()->multiPoll(multi, nullptr, 0, kPollMs, nullptr);
    }
  }
  if (SUCCEEDED(hr)) hr = TransferResult(easy, code, sink.rangeIgnored);
  if (SUCCEEDED(hr) && tail.size() != sink.limit) hr = HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_RESET);
  Curl()->multiRemoveHandle(multi, easy);
  Curl()->easyCleanup(easy);
  if (SUCCEEDED(hr)) m_tail = std::move(tail);
  return hr;
}

void CUrlByteSource::TrimWindow(LONGLONG keepFrom) {
  const LONGLONG drop = keepFrom - m_windowStart;
  if (drop < kTrimStep) return;
  const auto cut = static_cast<size_t>(std::min<LONGLONG>(drop, static_cast<LONGLONG>(m_window.size())));
  m_window.erase(m_window.begin(), m_window.begin() + static_cast<std::ptrdiff_t>(cut));
  m_windowStart += static_cast<LONGLONG>(cut);
}

HRESULT CUrlByteSource::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (buffer == nullptr && length > 0) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  if (m_flushing) return VFW_E_WRONG_STATE;
  CAutoLock hold(&m_lock);
  if (position >= m_size) return length == 0 ? S_OK : S_FALSE;
  const LONGLONG end = std::min<LONGLONG>(position + length, m_size);
  HRESULT hr = S_OK;
  const bool inWindow = position >= m_windowStart && end <= WindowEnd();
  const bool reachable = position >= m_windowStart && position <= WindowEnd() + kSkipAhead;
  // A read of the end that the transfer would have to run to (an index)
  // comes from the end's own copy and leaves the window alone: the reader
  // comes back to where it was.
  if (position >= TailStart() && !inWindow && (!m_tail.empty() || !reachable)) {
    if (m_tail.empty()) hr = FetchTail();
    if (FAILED(hr)) return hr;
    std::memcpy(buffer, m_tail.data() + (position - TailStart()), static_cast<size_t>(end - position));
    return end - position == length ? S_OK : S_FALSE;
  }
  bool retried = false;
  while (position < m_windowStart || end > WindowEnd()) {
    const bool continues = position >= m_windowStart && position <= WindowEnd() + kSkipAhead;
    if (!continues) {
      EndTransfer();
      m_window.clear();
      m_windowStart = position;
    }
    hr = !continues || !m_attached ? StartTransfer(WindowEnd()) : S_OK;
    if (SUCCEEDED(hr)) hr = Pump(end);
    if (FAILED(hr)) return hr;
    if (!m_transferDone || WindowEnd() >= end) continue;
    hr = TransferResult(m_easy, m_transferCode, m_rangeIgnored);
    // The whole resource arrived and still falls short: it shrank.
    if (SUCCEEDED(hr)) return HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_RESET);
    // A connection closed while nobody read from it (a paused graph) is
    // worth one more request, when the closed one had delivered something.
    if (hr == HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_RESET) && !retried && WindowEnd() > m_transferFrom) {
      retried = true;
      continue;
    }
    return hr;
  }
  std::memcpy(buffer, m_window.data() + (position - m_windowStart), static_cast<size_t>(end - position));
  TrimWindow(end - kKeepBehind);
  return end - position == length ? S_OK : S_FALSE;
}

HRESULT CUrlByteSource::Length(LONGLONG* total, LONGLONG* available) {
  CAutoLock hold(&m_lock);
  if (total != nullptr) *total = m_size;
  if (available != nullptr) *available = m_size;
  return S_OK;
}

HRESULT CUrlByteSource::BeginFlush() {
  m_flushing = true;
  Curl()->multiWakeup(Multi(m_multi));
  Curl()->multiWakeup(Multi(m_tailMulti));
  return S_OK;
}

HRESULT CUrlByteSource::EndFlush() {
  m_flushing = false;
  return S_OK;
}

LONGLONG CUrlByteSource::TailStart() const { return std::max<LONGLONG>(0, m_size - kTailBytes); }
