#include "platform/KeepAwake.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#endif

namespace hylo::platform {

#ifndef _WIN32
namespace {

// Asks logind for a blocking sleep and idle inhibitor; returns our own descriptor of the lock,
// or −1 with the reason in `error`.
int InhibitSleep(const std::string& why, std::string& error) {
  sd_bus* bus = nullptr;
  int r = sd_bus_open_system(&bus);
  if (r < 0) {
    error = std::string("no system bus: ") + std::strerror(-r);
    return -1;
  }
  // A bus that does not answer must not hold up the caller for sd-bus's default 25 s.
  sd_bus_set_method_call_timeout(bus, 2'000'000);
  sd_bus_error err = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int fd = -1;
  r = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                         "Inhibit", &err, &reply, "ssss", "sleep:idle", "Hylo", why.c_str(), "block");
  if (r < 0) {
    error = std::string("logind refused the sleep lock: ") + (err.message ? err.message : std::strerror(-r));
  } else {
    int lent = -1;
    if (sd_bus_message_read(reply, "h", &lent) >= 0 && lent >= 0) {
      // The reply owns its descriptor; the lock lasts as long as our duplicate.
      fd = fcntl(lent, F_DUPFD_CLOEXEC, 3);
      if (fd < 0) error = std::string("cannot keep the sleep lock: ") + std::strerror(errno);
    } else {
      error = "logind's reply carried no lock";
    }
  }
  sd_bus_error_free(&err);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return fd;
}

}  // namespace
#endif

void KeepAwake::Acquire() {
  std::lock_guard guard(lock_);
  if (held_) return;
  held_ = true;
#ifdef _WIN32
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_AWAYMODE_REQUIRED);
#else
  error_.clear();
  fd_ = InhibitSleep(why_, error_);
#endif
}

void KeepAwake::Release() {
  std::lock_guard guard(lock_);
  if (!held_) return;
  held_ = false;
#ifdef _WIN32
  SetThreadExecutionState(ES_CONTINUOUS);
#else
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
#endif
}

bool KeepAwake::Held() const {
  std::lock_guard guard(lock_);
  return held_;
}

bool KeepAwake::Inhibiting() const {
  std::lock_guard guard(lock_);
#ifdef _WIN32
  return held_;
#else
  return fd_ >= 0;
#endif
}

std::string KeepAwake::LastError() const {
  std::lock_guard guard(lock_);
  return error_;
}

}  // namespace hylo::platform
