#include "platform/output_queue.h"

#include <mutex>
#include <utility>

COutputQueue::COutputQueue(IPin* inputPin, HRESULT* phr, BOOL automatic, BOOL queue, LONG batchSize,
                           BOOL batchExact, LONG /*listSize*/, DWORD /*priority*/, bool flushingOpt)
    : m_lBatchSize(batchSize > 0 ? batchSize : 1),
      m_bBatchExact(batchExact && batchSize > 1),
      m_bFlushingOpt(flushingOpt),
      m_evFlushComplete(FALSE, FALSE) {
  if (phr != nullptr && FAILED(*phr)) return;
  if (inputPin == nullptr) {
    if (phr != nullptr) *phr = E_POINTER;
    return;
  }
  const HRESULT hr = inputPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
  if (FAILED(hr)) {
    m_pInputPin = nullptr;
    if (phr != nullptr) *phr = hr;
    return;
  }
  m_pPin = inputPin;
  m_pPin->AddRef();
  if (automatic) {
    const HRESULT canBlock = m_pInputPin->ReceiveCanBlock();
    if (SUCCEEDED(canBlock)) queue = canBlock == S_OK;
  }
  m_batch.reserve(static_cast<size_t>(m_lBatchSize));
  if (queue) {
    m_queued = true;
    m_thread = std::thread(&COutputQueue::ThreadProc, this);
  }
}

COutputQueue::~COutputQueue() {
  if (m_thread.joinable()) {
    {
      CAutoLock hold(&m_lock);
      m_bTerminate = TRUE;
      m_hr = S_FALSE;
    }
    m_wake.notify_all();
    m_thread.join();
  }
  {
    CAutoLock hold(&m_lock);
    FreeSamples();
  }
  if (m_pInputPin != nullptr) m_pInputPin->Release();
  if (m_pPin != nullptr) m_pPin->Release();
}

void COutputQueue::FreeSamples() {
  for (Message& message : m_queue) {
    if (message.kind == Message::Kind::kSample) message.sample->Release();
  }
  m_queue.clear();
  for (IMediaSample* sample : m_batch) sample->Release();
  m_batch.clear();
}

void COutputQueue::Post(Message message) {
  m_queue.push_back(message);
  m_wake.notify_all();
}

void COutputQueue::ThreadProc() {
  std::vector<IMediaSample*> toSend;
  toSend.reserve(static_cast<size_t>(m_lBatchSize));
  for (;;) {
    Message control{Message::Kind::kReset};
    bool haveControl = false;
    HRESULT state = S_OK;
    {
      std::unique_lock<CCritSec> hold(m_lock);
      for (;;) {
        if (m_bTerminate) {
          FreeSamples();
          return;
        }
        if (m_bFlushing) {
          FreeSamples();
          m_evFlushComplete.Set();
        }
        if (m_queue.empty()) {
          if (!m_batch.empty() && (m_bSendAnyway || !m_bBatchExact)) {
            toSend.swap(m_batch);
            m_bSendAnyway = FALSE;
            break;
          }
          ++m_lWaiting;
          m_wake.wait(hold);
          --m_lWaiting;
          continue;
        }
        Message message = m_queue.front();
        m_queue.pop_front();
        if (m_popEvent != nullptr) m_popEvent->Set();
        if (message.kind == Message::Kind::kSample) {
          m_batch.push_back(message.sample);
          if (static_cast<LONG>(m_batch.size()) == m_lBatchSize ||
              (m_queue.empty() && (m_bSendAnyway || !m_bBatchExact))) {
            toSend.swap(m_batch);
            m_bSendAnyway = FALSE;
            break;
          }
          continue;
        }
        // Whatever is batched goes before the notification that follows it.
        if (!m_batch.empty()) {
          m_queue.push_front(message);
          toSend.swap(m_batch);
          break;
        }
        if (message.kind == Message::Kind::kReset) {
          m_hr = S_OK;
          m_evFlushComplete.Set();
          continue;
        }
        control = message;
        haveControl = true;
        break;
      }
      state = m_hr;
    }

    if (!toSend.empty()) {
      if (state == S_OK) {
        LONG processed = 0;
        const HRESULT hr = m_pInputPin->ReceiveMultiple(toSend.data(), static_cast<LONG>(toSend.size()), &processed);
        CAutoLock hold(&m_lock);
        // A flush that began meanwhile has already set its own state.
        if (m_hr == S_OK) m_hr = hr;
      }
      for (IMediaSample* sample : toSend) sample->Release();
      toSend.clear();
    }
    if (haveControl) {
      if (control.kind == Message::Kind::kEndOfStream) {
        if (state == S_OK) m_pPin->EndOfStream();
      } else if (control.kind == Message::Kind::kNewSegment) {
        m_pPin->NewSegment(control.start, control.stop, control.rate);
      }
    }
  }
}

HRESULT COutputQueue::Receive(IMediaSample* sample) {
  LONG processed = 0;
  return ReceiveMultiple(&sample, 1, &processed);
}

HRESULT COutputQueue::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  LONG ignored = 0;
  if (processed == nullptr) processed = &ignored;
  *processed = 0;
  if (count < 0) return E_INVALIDARG;
  if (count > 0 && samples == nullptr) return E_POINTER;
  if (m_pInputPin == nullptr) {
    for (LONG i = 0; i < count; ++i) samples[i]->Release();
    return E_UNEXPECTED;
  }
  CAutoLock hold(&m_lock);
  if (!m_queued) {
    if (m_hr != S_OK) {
      for (LONG i = 0; i < count; ++i) samples[i]->Release();
      return m_hr;
    }
    m_bFlushed = FALSE;
    const HRESULT hr = m_pInputPin->ReceiveMultiple(samples, count, processed);
    for (LONG i = 0; i < count; ++i) samples[i]->Release();
    if (hr != S_OK) m_hr = hr;
    return m_hr;
  }
  if (m_bFlushing || m_hr != S_OK) {
    for (LONG i = 0; i < count; ++i) samples[i]->Release();
    return m_bFlushing ? S_FALSE : m_hr;
  }
  m_bFlushed = FALSE;
  for (LONG i = 0; i < count; ++i) m_queue.push_back(Message{Message::Kind::kSample, samples[i]});
  *processed = count;
  if (!m_bBatchExact || static_cast<LONG>(m_batch.size() + m_queue.size()) >= m_lBatchSize) m_wake.notify_all();
  return S_OK;
}

void COutputQueue::EOS() {
  if (m_pPin == nullptr) return;
  CAutoLock hold(&m_lock);
  if (m_hr != S_OK) return;
  m_bFlushed = FALSE;
  if (m_queued) {
    Post(Message{Message::Kind::kEndOfStream});
  } else {
    m_pPin->EndOfStream();
  }
}

void COutputQueue::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (m_pPin == nullptr) return;
  CAutoLock hold(&m_lock);
  if (m_hr != S_OK) return;
  m_bFlushed = FALSE;
  if (m_queued) {
    // A segment starts a new batch: the old one must not wait for it.
    m_bSendAnyway = TRUE;
    Post(Message{Message::Kind::kNewSegment, nullptr, start, stop, rate});
  } else {
    m_pPin->NewSegment(start, stop, rate);
  }
}

void COutputQueue::SendAnyway() {
  CAutoLock hold(&m_lock);
  if (!m_queued) return;
  m_bSendAnyway = TRUE;
  m_wake.notify_all();
}

void COutputQueue::BeginFlush() {
  if (m_pPin == nullptr) return;
  if (m_queued) {
    {
      CAutoLock hold(&m_lock);
      m_bFlushing = TRUE;
      if (m_hr == S_OK) m_hr = S_FALSE;
      if (m_bFlushed && m_bFlushingOpt) return;
      m_evFlushComplete.Reset();
      m_wake.notify_all();
    }
    // Outside the lock: this is what frees a thread blocked downstream.
    m_pPin->BeginFlush();
  } else {
    // Downstream first, so that a Receive blocked there (holding our lock) returns.
    m_pPin->BeginFlush();
    CAutoLock hold(&m_lock);
    m_bFlushing = TRUE;
    if (m_hr == S_OK) m_hr = S_FALSE;
  }
}

void COutputQueue::EndFlush() {
  if (m_pPin == nullptr) return;
  {
    CAutoLock hold(&m_lock);
    if (m_bFlushingOpt && m_bFlushed && m_queued) {
      m_bFlushing = FALSE;
      m_hr = S_OK;
      return;
    }
  }
  if (m_queued) {
    m_evFlushComplete.Wait();
  } else {
    CAutoLock hold(&m_lock);
    FreeSamples();
  }
  {
    CAutoLock hold(&m_lock);
    m_bFlushing = FALSE;
    m_bFlushed = TRUE;
  }
  m_pPin->EndFlush();
  CAutoLock hold(&m_lock);
  m_hr = S_OK;
}

void COutputQueue::Reset() {
  if (!m_queued) {
    CAutoLock hold(&m_lock);
    m_hr = S_OK;
    return;
  }
  {
    CAutoLock hold(&m_lock);
    m_evFlushComplete.Reset();
    Post(Message{Message::Kind::kReset});
  }
  m_evFlushComplete.Wait();
}

BOOL COutputQueue::IsIdle() {
  CAutoLock hold(&m_lock);
  if (!m_queued) return TRUE;
  return (m_lWaiting > 0 && m_queue.empty() && m_batch.empty()) ? TRUE : FALSE;
}

void COutputQueue::SetPopEvent(CAMEvent* event) {
  CAutoLock hold(&m_lock);
  m_popEvent = event;
}
