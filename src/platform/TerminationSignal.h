#pragma once
// SIGINT/SIGTERM recorded in a flag, so a front end can run its normal shutdown on them.
namespace hylo::platform {

void WatchTerminationSignals();
bool TerminationRequested();

}  // namespace hylo::platform
