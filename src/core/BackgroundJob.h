#pragma once
// One job at a time on a thread of its own, so a long exchange with the unit never runs on
// the UI thread. The caller learns of the end through the job itself (a completion call).
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace hylo {

class BackgroundJob {
 public:
  BackgroundJob();
  // Waits for a running job: its owner releases the job's waits first.
  ~BackgroundJob();
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;

  // False (and nothing runs) while another job is running. Any thread.
  bool Run(std::function<void()> job);
  bool Busy() const;
  // True when idle by then.
  bool WaitIdle(std::chrono::milliseconds limit);

 private:
  void Loop();

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::function<void()> job_;
  bool busy_ = false;
  bool quit_ = false;
  std::thread thread_;  // last: starts once the rest is ready
};

}  // namespace hylo
