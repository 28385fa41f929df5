#pragma once
// Context options that keep a test's folders inside its temp dir and skip the settle pause.
#include "context/Hylo.h"
#include "support/TempDir.h"

namespace hylo::test {

inline HyloOptions TestOptions(const TempDir& dir) {
  HyloOptions options;
  options.dataFolder = dir.Path() / "data";
  options.settingsFolder = dir.Path() / "settings";
  options.startupSettleMs = 0;
  return options;
}

}  // namespace hylo::test
