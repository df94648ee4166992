// CAMThread: a worker thread that its clients drive with numbered commands.
// A client posts a command with CallWorker and waits for the worker's reply;
// the worker takes commands with GetRequest (blocking) or peeks at a
// pending one with CheckRequest between units of work, and answers with
// Reply. The command stays pending until the worker replies, so a worker
// busy in a long job sees a stop request at its next CheckRequest.
//
// Threads: any number of clients (serialised by the access lock) and the
// worker. The access lock is held while a client waits for the reply, so
// the worker must never take it. Lock order: the access lock is outermost
// among the pin's own locks; the events' internal locks are innermost.
#pragma once

#include "platform/critical_section.h"
#include "platform/event.h"
#include "platform/hresult.h"

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

class CAMThread {
 public:
  CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;
  // The derived class ends the worker before its own members go; a worker
  // still running here is joined.
  virtual ~CAMThread();

  // Starts the worker unless one exists; TRUE when one runs afterwards.
  BOOL Create();
  // Posts `command` and waits for the reply; E_FAIL without a worker.
  HRESULT CallWorker(DWORD command);
  BOOL ThreadExists();
  // Takes the thread and waits for it to end, unless the caller is the
  // worker itself (which cannot wait for itself; its thread is let go).
  void Close();

  // Worker side.
  // Waits for a command and takes it.
  DWORD GetRequest();
  // TRUE with the pending command, which stays pending, when one arrives
  // within `timeoutMs`.
  BOOL CheckRequest(DWORD* command, DWORD timeoutMs);
  void Reply(HRESULT hr);

  // Serialises the clients: Create, CallWorker and whatever a client does
  // around them (a pin's start and stop).
  CCritSec* AccessLock() { return &m_accessLock; }

 protected:
  // The worker's body; its return ends the thread.
  virtual DWORD ThreadProc() = 0;

 private:
  // Written by the client before the request event is set, read by the
  // worker after it saw the event: the event orders them.
  std::atomic<DWORD> m_param{0};
  std::atomic<HRESULT> m_returnValue{S_OK};
  CAMEvent m_requestEvent{TRUE, FALSE};
  CAMEvent m_replyEvent{FALSE, FALSE};
  // Guards m_thread only; innermost, never held while waiting.
  std::mutex m_threadLock;
  std::thread m_thread;
  // Outermost of the pin's locks; see the header comment.
  CCritSec m_accessLock;
};
