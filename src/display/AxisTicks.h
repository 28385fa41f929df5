#pragma once
// Tick positions and labels for the plots' axes, and the texts of the pointer readout.
#include <string>
#include <vector>

namespace hylo {

struct AxisTick {
  double value = 0;
  std::string label;
};

// Round ticks (1, 2 or 5 × 10^k apart) covering [low, high], at most about `maxTicks`, each
// labelled with `unit` appended ("kHz", "s", "dB"). Empty when the range is empty or not finite.
std::vector<AxisTick> NiceTicks(double low, double high, int maxTicks, const std::string& unit = {});
// Frequencies as "850 Hz" or "12.5 kHz" ticks.
std::vector<AxisTick> FrequencyTicks(double lowHz, double highHz, int maxTicks);
// A time before now, seconds (negative), as "-90 s", "-12 min" or "-3.5 h" ticks.
std::vector<AxisTick> TimeTicks(double lowSeconds, double highSeconds, int maxTicks);

std::string FormatFrequency(double hz);
std::string FormatSeconds(double seconds);

}  // namespace hylo
