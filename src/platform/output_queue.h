// COutputQueue: delivers samples and stream notifications to one input pin,
// either directly on the caller's thread or through a queue served by a
// thread of its own, keeping samples, new segments and end-of-stream in the
// order they were given. Flushes discard what is queued.
//
// In automatic mode the queue asks the input pin's ReceiveCanBlock: a pin
// that never blocks (S_FALSE) is called directly and no thread is created.
//
// Callers: one streaming thread calls Receive/ReceiveMultiple/EOS/NewSegment;
// the application thread calls BeginFlush/EndFlush and destroys the queue
// (which joins the thread). After EOS or a refused delivery the queue drops
// samples (returning the refusal) until the next flush ends.
#pragma once

#include "platform/critical_section.h"
#include "platform/event.h"
#include "platform/filter_interfaces.h"

#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

inline constexpr DWORD THREAD_PRIORITY_BELOW_NORMAL = static_cast<DWORD>(-1);
inline constexpr DWORD THREAD_PRIORITY_NORMAL = 0;
inline constexpr DWORD THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr DWORD THREAD_PRIORITY_HIGHEST = 2;

inline constexpr LONG DEFAULTCACHE = 10;

class COutputQueue {
 public:
  // `listSize` is a hint for the queue's node cache, not a bound: the
  // allocator's buffer count bounds what can be queued. `priority` is kept
  // as the caller's intent; raising a thread's priority needs privileges here.
  COutputQueue(IPin* inputPin, HRESULT* phr, BOOL automatic = TRUE, BOOL queue = TRUE, LONG batchSize = 1,
               BOOL batchExact = FALSE, LONG listSize = DEFAULTCACHE, DWORD priority = THREAD_PRIORITY_NORMAL,
               bool flushingOpt = false);
  ~COutputQueue();
  COutputQueue(const COutputQueue&) = delete;
  COutputQueue& operator=(const COutputQueue&) = delete;

  // Discards queued data and passes the flush on.
  void BeginFlush();
  // Waits until the thread has dropped everything, then passes EndFlush on.
  void EndFlush();
  void EOS();
  // Sends a partial batch now.
  void SendAnyway();
  void NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  // Takes over the caller's reference to each sample.
  HRESULT Receive(IMediaSample* sample);
  HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed);

  // Clears a refusal without a flush (waits for the thread to see it).
  void Reset();
  // TRUE when nothing is queued and the thread waits for work.
  BOOL IsIdle();
  // Set each time the thread takes a message off the queue; not owned.
  void SetPopEvent(CAMEvent* event);
  BOOL IsQueued() const { return m_queued ? TRUE : FALSE; }

 private:
  struct Message {
    enum class Kind { kSample, kEndOfStream, kNewSegment, kReset };
    Kind kind;
    IMediaSample* sample = nullptr;  // one reference for kSample
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    double rate = 1.0;
  };

  void ThreadProc();
  void Post(Message message);
  // Releases every queued and batched sample; under m_lock.
  void FreeSamples();

  IPin* m_pPin = nullptr;               // one reference
  IMemInputPin* m_pInputPin = nullptr;  // one reference
  const LONG m_lBatchSize;
  const BOOL m_bBatchExact;
  const bool m_bFlushingOpt;
  bool m_queued = false;

  // Guards everything below. Never held while calling downstream from the
  // thread; held across the direct call in unqueued mode, as published, so
  // BeginFlush passes the flush downstream before taking it.
  CCritSec m_lock;
  std::condition_variable_any m_wake;
  std::deque<Message> m_queue;
  std::vector<IMediaSample*> m_batch;
  LONG m_lWaiting = 0;
  BOOL m_bSendAnyway = FALSE;
  BOOL m_bFlushing = FALSE;
  BOOL m_bFlushed = TRUE;
  BOOL m_bTerminate = FALSE;
  HRESULT m_hr = S_OK;
  CAMEvent* m_popEvent = nullptr;

  CAMEvent m_evFlushComplete;  // automatic reset
  std::thread m_thread;
};
