#include "threading/system_thread_pool.h"

#include "threading/vt_thread_tools.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace {

// The pool entry of the thread running this code, so that a thread calling
// exit() from inside a routine is not waited for by itself.
thread_local const void* currentPoolThread = nullptr;

std::atomic<bool> poolStopped{false};

class ShutdownAtExit {
 public:
  explicit ShutdownAtExit(SystemThreadPool* pool) : pool_(pool) {}
  ShutdownAtExit(const ShutdownAtExit&) = delete;
  ShutdownAtExit& operator=(const ShutdownAtExit&) = delete;
  ~ShutdownAtExit() { pool_->Shutdown(SystemThreadPool::kExitWait); }

 private:
  SystemThreadPool* pool_;
};

void JoinAll(std::list<std::thread>& threads) {
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
}

}  // namespace

SystemThreadPool& SystemThreadPool::Instance() {
  // Never deleted: a detached straggler or a later static destructor may
  // still reach the pool after the exit shutdown, and must find it stopped.
  static SystemThreadPool* const pool = new SystemThreadPool();
  static const ShutdownAtExit shutdown(pool);
  return *pool;
}

void SystemThreadPool::StartWorker() {
  TrackedThread& entry = threads_.emplace_back();
  try {
    entry.thread = std::thread(&SystemThreadPool::RunWorker, this, &entry);
  } catch (...) {
    threads_.pop_back();
    throw;
  }
  ++workers_;
}

std::list<std::thread> SystemThreadPool::TakeFinishedThreads() {
  std::list<std::thread> finished;
  for (auto it = threads_.begin(); it != threads_.end();) {
    if (it->finished) {
      if (it->thread.joinable()) finished.push_back(std::move(it->thread));
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
  return finished;
}

bool SystemThreadPool::QueueWorkItem(Routine routine, void* context, bool longRunning) {
  try {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_) return false;
    if (baseWorkers_ == 0) baseWorkers_ = std::max<size_t>(2, VTThreadToolsManaged::GetCoreCount());
    while (workers_ < baseWorkers_) {
      try {
        StartWorker();
      } catch (const std::exception&) {
        // Fewer workers than wanted still run the queue; none cannot.
        if (workers_ == 0) return false;
        break;
      }
    }
    queue_.push_back(Item{routine, context, longRunning});
    if (longRunning) {
      ++longItems_;
      // Each long-running item brings a worker of its own, so that short
      // items keep the base workers.
      if (workers_ < baseWorkers_ + longItems_ && workers_ < baseWorkers_ + kMaxExtraWorkers) {
        try {
          StartWorker();
        } catch (const std::exception&) {
          // The item still runs when a worker frees up.
        }
      }
    }
  } catch (const std::exception&) {
    return false;
  }
  workAvailable_.notify_one();
  return true;
}

bool SystemThreadPool::StartDedicatedThread(Routine routine, void* context) {
  std::list<std::thread> finished;
  bool started = false;
  try {
    std::lock_guard<std::mutex> hold(mutex_);
    finished = TakeFinishedThreads();
    if (!stopping_) {
      TrackedThread& entry = threads_.emplace_back();
      try {
        entry.thread = std::thread(&SystemThreadPool::RunDedicated, this, &entry, routine, context);
        started = true;
      } catch (const std::exception&) {
        threads_.pop_back();
      }
    }
  } catch (const std::exception&) {
    started = false;
  }
  JoinAll(finished);
  return started;
}

void SystemThreadPool::RunWorker(TrackedThread* self) {
  currentPoolThread = self;
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    ++idleWorkers_;
    workAvailable_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
    --idleWorkers_;
    if (stopping_) break;
    const Item item = queue_.front();
    queue_.pop_front();
    hold.unlock();
    // An exception escaping a routine ends the process, as it would on the
    // system's own pool.
    item.routine(item.context);
    hold.lock();
    if (item.longRunning) --longItems_;
  }
  --workers_;
  self->finished = true;
  threadFinished_.notify_all();
}

void SystemThreadPool::RunDedicated(TrackedThread* self, Routine routine, void* context) {
  currentPoolThread = self;
  routine(context);
  MarkFinished(self);
}

void SystemThreadPool::MarkFinished(TrackedThread* self) {
  std::lock_guard<std::mutex> hold(mutex_);
  self->finished = true;
  threadFinished_.notify_all();
}

void SystemThreadPool::Shutdown(std::chrono::milliseconds wait) {
  std::list<std::thread> finished;
  {
    std::unique_lock<std::mutex> hold(mutex_);
    stopping_ = true;
    poolStopped.store(true);
    for (const Item& item : queue_) {
      if (item.longRunning) --longItems_;
    }
    queue_.clear();
    workAvailable_.notify_all();
    const auto othersFinished = [this] {
      return std::all_of(threads_.begin(), threads_.end(), [](const TrackedThread& entry) {
        return entry.finished || entry.detached || &entry == currentPoolThread;
      });
    };
    threadFinished_.wait_for(hold, wait, othersFinished);
    finished = TakeFinishedThreads();
    for (TrackedThread& entry : threads_) {
      // Still running after the wait (or exiting the process itself):
      // joining it could hang exit.
      if (entry.thread.joinable()) entry.thread.detach();
      entry.detached = true;
    }
  }
  JoinAll(finished);
}

bool SystemThreadPool::HasStopped() { return poolStopped.load(); }
