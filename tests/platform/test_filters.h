// Small filters for the platform tests: a push source whose output pins
// deliver from worker threads, and a filter that logs its state changes with
// an input pin that records, and can block.
#pragma once

#include "support/test_objects.h"

#include "platform/base_filter.h"
#include "platform/base_input_pin.h"
#include "platform/base_output_pin.h"
#include "platform/graph_interfaces.h"
#include "platform/media_guids.h"

#include <atomic>
#include <condition_variable>
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

// An output pin that, while active, runs a thread delivering a new segment,
// `count` empty samples, then end-of-stream.
class PushPin : public CBaseOutputPin {
 public:
  struct Options {
    std::vector<CMediaType> types;
    int count = 1;
    LONG buffers = 2;
    LONG bufferSize = 1000;
    LONG align = 1;
    HRESULT completeConnectResult = S_OK;
  };

  PushPin(CBaseFilter* filter, CCritSec* lock, LPCWSTR name, Options options)
      : CBaseOutputPin("PushPin", filter, lock, &result_, name), options_(std::move(options)) {}
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

  std::atomic<int> delivered{0};

 private:
  void StopThread() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void Produce() {
    DeliverNewSegment(0, MAX_TIME, 1.0);
    for (int i = 0; !stop_ && i < options_.count; ++i) {
      IMediaSample* sample = nullptr;
      if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) break;
      const HRESULT hr = Deliver(sample);
      sample->Release();
      if (hr != S_OK) break;
      ++delivered;
    }
    DeliverEndOfStream();
  }

  HRESULT result_ = S_OK;
  Options options_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A filter whose pins the test adds; logs its state changes. It does not say
// it renders, so the graph does not wait for it to complete.
class TestFilter : public CBaseFilter {
 public:
  TestFilter(const std::string& name, CallLog* log = nullptr)
      : CBaseFilter("TestFilter", nullptr, &lock_, GUID_NULL), name_(name), log_(log) {}
  ~TestFilter() override {
    for (CBasePin* pin : pins_) delete pin;
  }
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
};

// An input pin that records what arrives ('S' 'B' 'F'), can say it
// blocks, and can block in Receive until a flush or a stop.
class RecordingPin : public CBaseInputPin {
 public:
  RecordingPin(CBaseFilter* filter, CCritSec* lock, LPCWSTR name, bool canBlock = true)
      : CBaseInputPin("RecordingPin", filter, lock, &result_, name), canBlock_(canBlock) {}

  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  HRESULT ReceiveCanBlock() override { return canBlock_ ? S_OK : S_FALSE; }
  HRESULT Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      // Stop reaches this pin before its upstream source.
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
      changed_.notify_all();
    }
    return S_OK;
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
    CBaseInputPin::Inactive();
    return S_OK;
  }

  void SetBlocking(bool blocking) {
    std::lock_guard<std::mutex> hold(mutex_);
    blocking_ = blocking;
    changed_.notify_all();
  }
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

  HRESULT result_ = S_OK;
  bool canBlock_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool blocking_ = false;
  bool inactive_ = false;
  int blockedNow_ = 0;
  std::string sequence_;
  std::vector<std::thread::id> threads_;
};

}  // namespace testfilters
