#pragma once
// Changes to the settings groups from the UI thread. The groups are also saved from other
// threads (a setup apply saves them all from its background job), under the settings lock:
// the UI changes a value under the same lock, so a save never reads a half-written text.
#include <mutex>

#include "context/Hylo.h"

namespace hylo::app {

template <class Edit>
void EditSettings(Hylo& hylo, Edit edit) {
  std::lock_guard guard(hylo.Settings().SettingsLock());
  edit(hylo.Groups());
}

}  // namespace hylo::app
