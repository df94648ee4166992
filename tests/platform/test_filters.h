// Small filters for the platform tests: a push source whose output pins
// deliver from worker threads, and a renderer that can block, hold samples
// and log.
#pragma once

#include "support/test_objects.h"

#include "platform/base_filter.h"
#include "platform/base_input_pin.h"
#include "platform/base_output_pin.h"
#include "platform/graph_interfaces.h"
#include "platform/media_guids.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testfilters {

using testobjects::CallLog;
using testobjects::Make;

inline CMediaType TypeOf(const GUID& major, const GUID& sub) {
  CMediaType mt(&major);
  mt.SetSubtype(&sub);
  mt.SetFormatType(&FORMAT_None);
  return mt;
}

// Fills sample `index`; S_FALSE ends the stream.
using Producer = std::function<HRESULT(int index, IMediaSample* sample)>;

// An output pin that, while active, runs a thread delivering what its
// producer makes: a new segment, the samples, then end-of-stream.
class PushPin : public CBaseOutputPin {
 public:
  struct Options {
    std::vector<CMediaType> types;
    LONG buffers = 2;
    LONG bufferSize = 1000;
    LONG align = 1;
    HRESULT completeConnectResult = S_OK;
  };

  PushPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name, Options options, Producer producer)
      : CBaseOutputPin("PushPin", filter, lock, phr, name), options_(std::move(options)), producer_(std::move(producer)) {}
  ~PushPin() override { StopThread(); }

  HRESULT CheckMediaType(const CMediaType* mt) override {
    for (const CMediaType& type : options_.types) {
      if (mt->MatchesPartial(&type)) return S_OK;
    }
    return S_FALSE;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position >= static_cast<int>(options_.types.size())) return VFW_S_NO_MORE_ITEMS;
    return mt->Set(options_.types[static_cast<size_t>(position)]);
  }
  HRESULT CompleteConnect(IPin* pin) override {
    if (FAILED(options_.completeConnectResult)) return options_.completeConnectResult;
    return CBaseOutputPin::CompleteConnect(pin);
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
    props->cBuffers = options_.buffers;
    props->cbBuffer = options_.bufferSize;
    props->cbAlign = options_.align;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    negotiated = actual;
    return actual.cbBuffer < options_.bufferSize ? E_FAIL : S_OK;
  }
  HRESULT Active() override {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    stop_ = false;
    thread_ = std::thread(&PushPin::Produce, this);
    return S_OK;
  }
  HRESULT Inactive() override {
    // Decommit first: it frees a thread waiting for a buffer.
    const HRESULT hr = CBaseOutputPin::Inactive();
    StopThread();
    return hr;
  }

  ALLOCATOR_PROPERTIES negotiated{};
  std::atomic<int> delivered{0};

 private:
  void StopThread() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void Produce() {
    DeliverNewSegment(0, MAX_TIME, 1.0);
    for (int i = 0; !stop_; ++i) {
      IMediaSample* sample = nullptr;
      if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) break;
      HRESULT hr = producer_(i, sample);
      if (hr != S_OK) {
        sample->Release();
        break;
      }
      hr = Deliver(sample);
      sample->Release();
      if (hr != S_OK) break;
      ++delivered;
    }
    DeliverEndOfStream();
  }

  Options options_;
  Producer producer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Samples of `bytes` bytes (each byte its sample number), stamped i*1000.
inline Producer CountingProducer(int count, LONG bytes) {
  return [count, bytes](int i, IMediaSample* sample) -> HRESULT {
    if (i >= count) return S_FALSE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    for (LONG b = 0; b < bytes; ++b) data[b] = static_cast<BYTE>(i);
    sample->SetActualDataLength(bytes);
    REFERENCE_TIME start = i * 1000, stop = start + 1000;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(i == 0);
    return S_OK;
  };
}

// A filter whose pins the test adds; logs its state changes. It says it is
// a renderer (for the graph's completion count) only when told to.
class TestFilter : public CBaseFilter, public IAMFilterMiscFlags {
 public:
  TestFilter(const std::string& name, CallLog* log = nullptr)
      : CBaseFilter("TestFilter", nullptr, &lock_, GUID_NULL), name_(name), log_(log) {}
  ~TestFilter() override {
    for (CBasePin* pin : pins_) delete pin;
  }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  ULONG GetMiscFlags() override { return renders_ ? AM_FILTER_MISC_FLAGS_IS_RENDERER : 0; }
  void MarkRenderer() { renders_ = true; }
  int GetPinCount() override { return static_cast<int>(pins_.size()); }
  CBasePin* GetPin(int n) override {
    return n >= 0 && n < static_cast<int>(pins_.size()) ? pins_[static_cast<size_t>(n)] : nullptr;
  }
  HRESULT Stop() override {
    Log("Stop");
    return CBaseFilter::Stop();
  }
  HRESULT Pause() override {
    Log("Pause");
    return CBaseFilter::Pause();
  }
  HRESULT Run(REFERENCE_TIME start) override {
    Log("Run");
    return CBaseFilter::Run(start);
  }
  PushPin* AddPushPin(LPCWSTR name, PushPin::Options options, Producer producer) {
    HRESULT hr = S_OK;
    auto* pin = new PushPin(this, &lock_, &hr, name, std::move(options), std::move(producer));
    pins_.push_back(pin);
    IncrementPinVersion();
    return pin;
  }
  template <class Pin, class... Args>
  Pin* AddPin(Args&&... args) {
    auto* pin = new Pin(this, &lock_, std::forward<Args>(args)...);
    pins_.push_back(pin);
    IncrementPinVersion();
    return pin;
  }
  using CBaseFilter::NotifyEvent;

 private:
  void Log(const char* call) {
    if (log_ != nullptr) log_->Add(name_ + ":" + call);
  }
  CCritSec lock_;
  std::vector<CBasePin*> pins_;
  std::string name_;
  CallLog* log_;
  bool renders_ = false;
};

// An input pin that records what arrives ('S' 'N' 'B' 'F' 'E'), can say it
// blocks, can block in Receive until a flush or Release(), can keep the
// samples it gets, and sends EC_COMPLETE on end-of-stream.
class RecordingPin : public CBaseInputPin {
 public:
  RecordingPin(CBaseFilter* filter, CCritSec* lock, LPCWSTR name, bool canBlock = true)
      : CBaseInputPin("RecordingPin", filter, lock, &result_, name), canBlock_(canBlock) {}
  ~RecordingPin() override { DropHeld(); }

  HRESULT CheckMediaType(const CMediaType* mt) override {
    return accepted_.majortype == GUID_NULL || mt->MatchesPartial(&accepted_) ? S_OK : S_FALSE;
  }
  HRESULT ReceiveCanBlock() override { return canBlock_ ? S_OK : S_FALSE; }
  HRESULT Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      // Stop reaches this pin before its upstream source: a sample freed by
      // DropHeld must not be taken in while the graph is still stopping.
      if (inactive_) return VFW_E_WRONG_STATE;
      threads_.push_back(std::this_thread::get_id());
      if (blocking_) {
        ++blockedNow_;
        changed_.notify_all();
        changed_.wait(hold, [this] { return !blocking_ || IsFlushing() || inactive_; });
        --blockedNow_;
        if (IsFlushing() || inactive_) return S_FALSE;
      }
      sequence_ += 'S';
      if (hold_) {
        sample->AddRef();
        held_.push_back(sample);
      }
      changed_.notify_all();
    }
    return S_OK;
  }
  HRESULT EndOfStream() override {
    const HRESULT hr = CheckStreaming();
    Append('E');
    if (hr == S_OK) m_pFilter->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return hr;
  }
  HRESULT BeginFlush() override {
    CBaseInputPin::BeginFlush();
    Append('B');
    return S_OK;
  }
  HRESULT EndFlush() override {
    Append('F');
    return CBaseInputPin::EndFlush();
  }
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
    Append('N');
    return CBasePin::NewSegment(start, stop, rate);
  }
  HRESULT Active() override {
    std::lock_guard<std::mutex> hold(mutex_);
    inactive_ = false;
    return S_OK;
  }
  HRESULT Inactive() override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      inactive_ = true;
      changed_.notify_all();
    }
    DropHeld();
    CBaseInputPin::Inactive();
    return S_OK;
  }

  void Accept(const CMediaType& partial) { accepted_ = partial; }
  void SetBlocking(bool blocking) {
    std::lock_guard<std::mutex> hold(mutex_);
    blocking_ = blocking;
    changed_.notify_all();
  }
  void SetHoldSamples(bool hold) { hold_ = hold; }
  bool WaitFor(const std::function<bool(const std::string&)>& ready, int ms = 20000) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return ready(sequence_); });
  }
  bool WaitUntilBlocked(int ms = 20000) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return blockedNow_ > 0; });
  }
  std::string Sequence() {
    std::lock_guard<std::mutex> hold(mutex_);
    return sequence_;
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard<std::mutex> hold(mutex_);
    return threads_;
  }

 private:
  void Append(char c) {
    std::lock_guard<std::mutex> hold(mutex_);
    sequence_ += c;
    changed_.notify_all();
  }
  void DropHeld() {
    std::vector<IMediaSample*> held;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      held.swap(held_);
    }
    for (IMediaSample* sample : held) sample->Release();
  }

  HRESULT result_ = S_OK;
  bool canBlock_;
  CMediaType accepted_;
  std::atomic<bool> hold_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool blocking_ = false;
  bool inactive_ = false;
  int blockedNow_ = 0;
  std::string sequence_;
  std::vector<std::thread::id> threads_;
  std::vector<IMediaSample*> held_;
};

}  // namespace testfilters
