// A watchdog for tests of calls that could deadlock: unless disarmed (by
// going out of scope) within its limit, it reports what hung and aborts the
// process, so that a hang fails the test run instead of stalling it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, std::string what)
      : what_(std::move(what)), thread_([this, limit] {
          std::unique_lock<std::mutex> hold(mutex_);
          if (!disarmed_.wait_for(hold, limit, [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: %s did not return\n", what_.c_str());
            std::abort();
          }
        }) {}
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      done_ = true;
    }
    disarmed_.notify_all();
    thread_.join();
  }

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable disarmed_;
  bool done_ = false;
  std::thread thread_;
};
