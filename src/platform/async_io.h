// CAsyncIo: queued reads over a synchronous byte source, served by one
// worker thread (started by the first request, joined at destruction).
// Completed requests wait on a done list for WaitForNext. BeginFlush cancels
// the queued requests (they complete with VFW_E_WRONG_STATE), waits for the
// one being read, and makes WaitForNext return instead of blocking; until
// EndFlush new requests are refused with VFW_E_WRONG_STATE.
#pragma once

#include "platform/async_reader.h"
#include "platform/critical_section.h"

#include <condition_variable>
#include <deque>
#include <thread>

class CAsyncIo {
 public:
  // Holds one reference to `source`.
  explicit CAsyncIo(IAsyncReader* source);
  ~CAsyncIo();
  CAsyncIo(const CAsyncIo&) = delete;
  CAsyncIo& operator=(const CAsyncIo&) = delete;

  HRESULT Request(LONGLONG position, LONG length, BYTE* buffer, void* context, DWORD_PTR user);
  // The next completed request's context, user value and byte count (a read
  // cut short by the end of the stream is S_OK with the shorter count).
  // VFW_E_TIMEOUT when nothing completes in time; VFW_E_WRONG_STATE while
  // flushing with nothing left to return.
  HRESULT WaitForNext(DWORD timeoutMs, void** context, DWORD_PTR* user, LONG* actual);
  // S_OK, or S_FALSE for a short read at the end of the stream; *actual is
  // the number of bytes read.
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer, LONG* actual);
  HRESULT Length(LONGLONG* total, LONGLONG* available);
  HRESULT BeginFlush();
  HRESULT EndFlush();

 private:
  struct PendingRead {
    LONGLONG position;
    LONG length;
    BYTE* buffer;
    void* context;
    DWORD_PTR user;
    HRESULT result = S_OK;
    LONG actual = 0;
  };

  void WorkerThread();
  // A network source's read that a flush cut short is read again once the
  // flush has ended: a reader that only drains its requests flushes for an
  // instant, and other readers of the source must not fail for it. A flush
  // that lasts (a stop) returns the read's VFW_E_WRONG_STATE after
  // kFlushGraceMs.
  HRESULT ReadThroughFlushes(LONGLONG position, LONG length, BYTE* buffer);
  static constexpr int kFlushGraceMs = 100;
  static constexpr int kFlushRetries = 8;

  IAsyncReader* m_source;  // one reference

  // Guards everything below; innermost, never held while reading.
  CCritSec m_lock;
  std::condition_variable_any m_changed;
  std::deque<PendingRead> m_work;
  std::deque<PendingRead> m_done;
  int m_inProgress = 0;
  bool m_flushing = false;
  bool m_terminate = false;
  std::thread m_thread;
};
