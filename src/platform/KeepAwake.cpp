#include "platform/KeepAwake.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace hylo::platform {

void KeepAwake::Acquire() {
  if (held_.exchange(true)) return;
#ifdef _WIN32
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_AWAYMODE_REQUIRED);
#endif
}

void KeepAwake::Release() {
  if (!held_.exchange(false)) return;
#ifdef _WIN32
  SetThreadExecutionState(ES_CONTINUOUS);
#endif
}

}  // namespace hylo::platform
