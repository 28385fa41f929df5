#include "core/BackgroundJob.h"

namespace hylo {

BackgroundJob::BackgroundJob() : thread_([this] { Loop(); }) {}

BackgroundJob::~BackgroundJob() {
  {
    std::lock_guard guard(lock_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool BackgroundJob::Run(std::function<void()> job) {
  {
    std::lock_guard guard(lock_);
    if (busy_ || quit_) return false;
    busy_ = true;
    job_ = std::move(job);
  }
  changed_.notify_all();
  return true;
}

bool BackgroundJob::Busy() const {
  std::lock_guard guard(lock_);
  return busy_;
}

bool BackgroundJob::WaitIdle(std::chrono::milliseconds limit) {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, limit, [&] { return !busy_; });
}

void BackgroundJob::Loop() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [&] { return quit_ || job_; });
    if (!job_) return;
    auto job = std::move(job_);
    job_ = nullptr;
    guard.unlock();
    job();
    job = nullptr;
    guard.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace hylo
