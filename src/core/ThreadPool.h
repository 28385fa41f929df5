#pragma once
// A fixed pool of threads with one place per task: each place runs the task scheduled
// into it, one at a time. Threads are made once, so scheduling never creates a thread.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace hylo {

class ThreadPool {
 public:
  explicit ThreadPool(int places);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Queues `task` in `place`; it runs after any task already there.
  void Schedule(int place, std::function<void()> task);
  // True while a task of `place` is queued or running.
  bool Busy(int place) const;
  // Waits until `place` is idle, calling `whileWaiting` between short waits (may be empty).
  void Wait(int place, const std::function<void()>& whileWaiting);
  // The same, up to `deadline`; false when the place is still busy then.
  bool WaitUntil(int place, const std::function<void()>& whileWaiting, std::chrono::steady_clock::time_point deadline);
  // Gives up on a place whose task does not end: the pool's end does not wait for its
  // thread, which keeps its own state (leaked) should it ever return.
  void Abandon(int place);
  int Places() const { return static_cast<int>(places_.size()); }

 private:
  struct Place {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::function<void()>> tasks;
    bool running = false;
    bool quit = false;
    bool abandoned = false;
    std::thread thread;
  };
  void Run(Place& place);
  std::vector<std::unique_ptr<Place>> places_;
};

}  // namespace hylo
