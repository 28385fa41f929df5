#include "platform/TerminationSignal.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace hylo::platform {
namespace {
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
extern "C" void OnSignal(int) { requested.store(true); }
}  // namespace

void WatchTerminationSignals() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

bool TerminationRequested() { return requested.load(); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace hylo::platform
