// Objects the filter tests make: a reference-counted object held from the
// start, and a thread-safe log of the calls it saw.
#pragma once

#include "platform/unknown.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testobjects {

template <class T, class... Args>
ComPtr<T> Make(Args&&... args) {
  T* object = new T(std::forward<Args>(args)...);
  object->AddRef();
  return ComPtr<T>::Attach(object);
}

// The calls in the order they came: "name:Pause", "Active 0" ...
class CallLog {
 public:
  void Add(std::string call) {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back(std::move(call));
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> hold(lock_);
    return std::exchange(calls_, {});
  }

 private:
  std::mutex lock_;
  std::vector<std::string> calls_;
};

}  // namespace testobjects
