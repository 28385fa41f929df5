#pragma once
// SIGINT/SIGTERM recorded in a flag, so a front end can run its normal shutdown on them.
namespace hylo::platform {

void WatchTerminationSignals();
bool TerminationRequested();
// Progress lines go to stderr only when a person is watching it.
bool StderrIsTerminal();

}  // namespace hylo::platform
