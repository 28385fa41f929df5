#pragma once
// A fixed pool of threads with one place per task: each place runs the task scheduled
// into it, one at a time. Threads are made once, so scheduling never creates a thread.
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
  int Places() const { return static_cast<int>(places_.size()); }

 private:
  struct Place {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::function<void()>> tasks;
    bool running = false;
    bool quit = false;
    std::thread thread;
  };
  void Run(Place& place);
  std::vector<std::unique_ptr<Place>> places_;
};

}  // namespace hylo
