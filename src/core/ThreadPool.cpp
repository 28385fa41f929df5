#include "core/ThreadPool.h"

#include <chrono>
#include <memory>

namespace hylo {

ThreadPool::ThreadPool(int places) {
  for (int i = 0; i < places; ++i) places_.push_back(std::make_unique<Place>());
  for (auto& place : places_) place->thread = std::thread([this, p = place.get()] { Run(*p); });
}

ThreadPool::~ThreadPool() {
  for (auto& place : places_) {
    std::lock_guard guard(place->mutex);
    place->quit = true;
    place->changed.notify_all();
  }
  for (auto& place : places_) {
    if (place->abandoned) {
      place->thread.detach();
      (void)place.release();  // the thread may still use it
    } else {
      place->thread.join();
    }
  }
}

void ThreadPool::Run(Place& place) {
  std::unique_lock guard(place.mutex);
  for (;;) {
    place.changed.wait(guard, [&] { return place.quit || !place.tasks.empty(); });
    if (place.tasks.empty()) return;  // quit with nothing left to do
    auto task = std::move(place.tasks.front());
    place.tasks.erase(place.tasks.begin());
    place.running = true;
    guard.unlock();
    task();
    guard.lock();
    place.running = false;
    place.changed.notify_all();
  }
}

void ThreadPool::Schedule(int place, std::function<void()> task) {
  Place& p = *places_.at(static_cast<std::size_t>(place));
  std::lock_guard guard(p.mutex);
  p.tasks.push_back(std::move(task));
  p.changed.notify_all();
}

bool ThreadPool::Busy(int place) const {
  Place& p = *places_.at(static_cast<std::size_t>(place));
  std::lock_guard guard(p.mutex);
  return p.running || !p.tasks.empty();
}

void ThreadPool::Wait(int place, const std::function<void()>& whileWaiting) {
  WaitUntil(place, whileWaiting, std::chrono::steady_clock::time_point::max());
}

void ThreadPool::Abandon(int place) { places_.at(static_cast<std::size_t>(place))->abandoned = true; }

bool ThreadPool::WaitUntil(int place, const std::function<void()>& whileWaiting,
                           std::chrono::steady_clock::time_point deadline) {
  Place& p = *places_.at(static_cast<std::size_t>(place));
  std::unique_lock guard(p.mutex);
  while (p.running || !p.tasks.empty()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    p.changed.wait_for(guard, std::chrono::milliseconds(10));
    if (whileWaiting) {
      guard.unlock();
      whileWaiting();
      guard.lock();
    }
  }
  return true;
}

}  // namespace hylo
