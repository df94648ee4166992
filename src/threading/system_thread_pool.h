// The process-wide thread pool behind VTThreadPool, and the registry of the
// dedicated threads it starts; internal to the module.
//
// Workers: max(2, processor count) started on first use (two, so that one
// blocked item cannot stall the pool on a one-processor machine), plus one
// more for each long-running item queued or running while every worker is
// taken, up to kMaxExtraWorkers; the extra ones stay until exit.
//
// Exit: a static object's destructor stops the pool. Items still queued then
// are dropped, not run: the statics they would touch may already be gone.
// Items running and dedicated threads get kExitWait to finish and are joined;
// a thread still running after that is detached so that exit cannot hang, and
// the pool itself is never freed, so such a thread never touches freed memory.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

class SystemThreadPool {
 public:
  using Routine = unsigned (*)(void* context);

  static constexpr size_t kMaxExtraWorkers = 64;
  static constexpr std::chrono::milliseconds kExitWait{2000};

  // The pool, created on first use; any thread, also during exit (a stopped
  // pool refuses work).
  static SystemThreadPool& Instance();

  SystemThreadPool(const SystemThreadPool&) = delete;
  SystemThreadPool& operator=(const SystemThreadPool&) = delete;

  // False when the pool is stopped or no worker could be started. Never throws.
  bool QueueWorkItem(Routine routine, void* context, bool longRunning);
  // Runs `routine` on a thread of its own; false when none could be started.
  // Finished dedicated threads are joined here and at exit. Never throws.
  bool StartDedicatedThread(Routine routine, void* context);

  // Stops the pool as at exit, waiting at most `wait` for running threads.
  void Shutdown(std::chrono::milliseconds wait);
  // Whether the pool has been stopped; any thread, any time.
  static bool HasStopped();

 private:
  struct Item {
    Routine routine;
    void* context;
    bool longRunning;
  };
  // One started thread; list nodes keep their address, so the thread can find
  // its own entry to mark it finished.
  struct TrackedThread {
    std::thread thread;
    bool finished = false;
    // Left running at exit; its entry stays so that it can still mark itself.
    bool detached = false;
  };

  SystemThreadPool() = default;
  ~SystemThreadPool() = default;

  // Called with mutex_ held; may throw std::system_error / bad_alloc.
  void StartWorker();
  // Called with mutex_ held: removes the finished entries and hands over
  // their threads for joining outside the lock.
  std::list<std::thread> TakeFinishedThreads();

  void RunWorker(TrackedThread* self);
  void RunDedicated(TrackedThread* self, Routine routine, void* context);
  void MarkFinished(TrackedThread* self);

  // A leaf lock: held only for queue and bookkeeping changes, never while a
  // routine runs or a thread is joined. Guards every field below.
  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable threadFinished_;
  std::deque<Item> queue_;
  std::list<TrackedThread> threads_;
  size_t baseWorkers_ = 0;
  size_t workers_ = 0;
  size_t idleWorkers_ = 0;
  // Long-running items queued or running.
  size_t longItems_ = 0;
  bool stopping_ = false;
};
