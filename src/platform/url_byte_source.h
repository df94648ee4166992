// CUrlByteSource: an http, https or ftp resource as a synchronous
// IAsyncReader, through libcurl. The size comes from the server when the
// source opens (a HEAD, or ftp's SIZE); reads are served from one open
// transfer, a range request from the first byte wanted to the end of the
// resource. Reads that continue where the last one ended, go back a little
// or skip a short way forward are answered from a bounded window of the
// bytes received, so sequential reading costs about one request per seek.
// A seek outside the window ends the transfer and starts another on the
// same handle (libcurl reuses the connection when it can). The last MiB,
// where indexes live, is fetched once on a connection of its own and kept.
//
// Threads: SyncRead and Length are serialised by m_lock and run libcurl on
// the caller's thread. BeginFlush and EndFlush take no lock: BeginFlush makes
// a read waiting on the network return VFW_E_WRONG_STATE at once, and every
// read fails the same way until EndFlush.
//
// Timeouts: connecting may take 10 s, and a transfer that receives nothing
// for 20 s fails; ISODMX_URL_TIMEOUT (seconds) replaces both.
#pragma once

#include "platform/critical_section.h"
#include "platform/hresult.h"
#include "platform/sync_byte_source.h"

#include <atomic>
#include <string>
#include <vector>

// What URL monikers report for a missing resource and for a failed one.
inline constexpr HRESULT INET_E_RESOURCE_NOT_FOUND = MakeHResult(0x800C0005);
inline constexpr HRESULT INET_E_DOWNLOAD_FAILURE = MakeHResult(0x800C0008);

class CUrlByteSource final : public CSyncByteSource {
 public:
  // Opens `url` (UTF-8) and learns its size. On failure *out is null and the
  // result says why: INET_E_RESOURCE_NOT_FOUND (404, 410, no such ftp file),
  // INET_E_DOWNLOAD_FAILURE (other refusals), HRESULT_FROM_WIN32 of
  // ERROR_INTERNET_CANNOT_CONNECT, _NAME_NOT_RESOLVED, _TIMEOUT,
  // _INVALID_URL, or of ERROR_NOT_SUPPORTED when the size is not told.
  static HRESULT Open(const std::string& url, IAsyncReader** out);

  // A server that ignores ranges gives HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
  // one that drops the connection, HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_RESET).
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  // Transfers started so far (the size query included).
  ULONG RequestCount() const { return m_requests.load(); }

 private:
  explicit CUrlByteSource(const std::string& url);
  ~CUrlByteSource() override;

  HRESULT Initialise();
  HRESULT QuerySize();
  HRESULT StartTransfer(LONGLONG from);
  void EndTransfer();
  // Runs the transfer until the window reaches `until` or the transfer ends.
  HRESULT Pump(LONGLONG until);
  static HRESULT TransferResult(void* easy, int curlCode, bool rangeIgnored);
  // The last kTailBytes of the resource, into m_tail.
  HRESULT FetchTail();
  LONGLONG TailStart() const;
  LONGLONG WindowEnd() const { return m_windowStart + static_cast<LONGLONG>(m_window.size()); }
  void TrimWindow(LONGLONG keepFrom);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);

  const std::string m_url;
  const bool m_isHttp;
  void* m_easy = nullptr;       // CURL*
  void* m_multi = nullptr;      // CURLM*, woken by BeginFlush
  void* m_tailMulti = nullptr;  // CURLM* of the tail's fetch, likewise
  std::atomic<bool> m_flushing{false};
  std::atomic<ULONG> m_requests{0};

  // Guards everything below; held across the network wait of a read.
  CCritSec m_lock;
  LONGLONG m_size = -1;
  // Bytes [m_windowStart, m_windowStart + m_window.size()) of the resource.
  std::vector<BYTE> m_window;
  LONGLONG m_windowStart = 0;
  // The transfer in progress: attached to m_multi until it ends.
  bool m_attached = false;
  bool m_transferDone = false;
  int m_transferCode = 0;  // CURLcode once done
  LONGLONG m_transferFrom = 0;
  bool m_rangeIgnored = false;
  // Where the running Pump is going; the transfer pauses a little past it.
  LONGLONG m_pumpUntil = 0;
  bool m_paused = false;
  bool m_discarding = false;
  // The end of the resource from TailStart(), once read.
  std::vector<BYTE> m_tail;
};
