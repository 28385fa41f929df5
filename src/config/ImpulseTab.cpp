#include "config/ImpulseTab.h"

#include <algorithm>

namespace hylo::setup {

ImpulseValues ImpulseFromSettings(const ImpulseDetectionSettings& s) {
  return {s.enabled, s.detectionThreshold, s.resetThreshold, s.preDetectionInterval, s.postDetectionInterval, s.selMax,
          s.bandMax};
}

bool ApplyImpulseValues(const ImpulseValues& v, ImpulseDetectionSettings& s) {
  auto field = [](int x) { return std::clamp(x, -32768, 32767); };
  auto interval = [](int ms) { return std::clamp(ms, 0, 10000); };
  s.enabled = v.enabled;
  s.preDetectionInterval = interval(v.preMs);
  s.postDetectionInterval = interval(v.postMs);
  s.selMax = field(v.selMax);
  s.bandMax = field(v.bandMax);
  if (v.detectDb < v.resetDb) return false;
  s.detectionThreshold = field(v.detectDb);
  s.resetThreshold = field(v.resetDb);
  return true;
}

}  // namespace hylo::setup
