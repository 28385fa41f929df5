#pragma once
// What the impulse tab of the program settings panel edits, and how it reaches the settings.
#include <string_view>

#include "settings/SettingsGroups.h"

namespace hylo::setup {

struct ImpulseValues {
  bool enabled = false;
  int detectDb = 40;
  int resetDb = 20;
  int preMs = 10;
  int postMs = 50;
  int selMax = 160;
  int bandMax = 140;
  bool operator==(const ImpulseValues&) const = default;
};

ImpulseValues ImpulseFromSettings(const ImpulseDetectionSettings& s);

inline constexpr std::string_view kImpulseThresholdError =
    "Error: Detect Threshold cannot be less than Reset threshold. Values unchanged.\n";

// Applies the tab to the settings. Every value is held to its 16-bit field, the intervals to
// 0 … 10 000 ms; a detection threshold below the reset threshold keeps both old thresholds
// (the rest still applies) and returns false.
bool ApplyImpulseValues(const ImpulseValues& v, ImpulseDetectionSettings& s);

}  // namespace hylo::setup
