#pragma once
// Keeps the machine from sleeping while scanning, a replay or a file job runs. On Linux this is
// a logind "sleep:idle" inhibitor lock (held as a file descriptor); where no system bus or
// logind answers (a container, a minimal install), holding it does nothing; LastError says why.
#include <mutex>
#include <string>

namespace hylo::platform {

class KeepAwake {
 public:
  // `why` is what the desktop shows for the lock.
  explicit KeepAwake(std::string why = "Hylo is recording or replaying hydrophone data") : why_(std::move(why)) {}
  ~KeepAwake() { Release(); }
  KeepAwake(const KeepAwake&) = delete;
  KeepAwake& operator=(const KeepAwake&) = delete;

  // Repeated calls hold one request.
  void Acquire();
  void Release();
  bool Held() const;
  // True while the system actually holds our lock.
  bool Inhibiting() const;
  // Why the last request could not be placed; empty when it was.
  std::string LastError() const;

 private:
  std::string why_;
  mutable std::mutex lock_;
  bool held_ = false;
  int fd_ = -1;
  std::string error_;
};

}  // namespace hylo::platform
