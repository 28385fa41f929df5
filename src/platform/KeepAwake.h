#pragma once
// Keeps the machine from sleeping while scanning runs. Where the platform offers no
// per-process request (a Linux desktop without a session bus), holding it does nothing.
#include <atomic>

namespace hylo::platform {

class KeepAwake {
 public:
  KeepAwake() = default;
  ~KeepAwake() { Release(); }
  KeepAwake(const KeepAwake&) = delete;
  KeepAwake& operator=(const KeepAwake&) = delete;

  // Continuous, system-required and away-mode execution state; repeated calls hold one request.
  void Acquire();
  void Release();
  bool Held() const { return held_.load(); }

 private:
  std::atomic<bool> held_{false};
};

}  // namespace hylo::platform
