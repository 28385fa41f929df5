#include "display/AxisTicks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hylo {
namespace {

double NiceStep(double range, int maxTicks) {
  const double raw = range / std::max(maxTicks, 1);
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * magnitude >= raw) return m * magnitude;
  return 10 * magnitude;
}

std::string Number(double v, double step) {
  // As many decimals as the step needs, and no "-0".
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  if (std::abs(v) < step * 1e-6) v = 0;
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// Ticks of one unit scaled by `divisor`, labelled with `unit`.
std::vector<AxisTick> ScaledTicks(double low, double high, int maxTicks, double divisor, const std::string& unit) {
  std::vector<AxisTick> ticks = NiceTicks(low / divisor, high / divisor, maxTicks, unit);
  for (AxisTick& t : ticks) t.value *= divisor;
  return ticks;
}

}  // namespace

std::vector<AxisTick> NiceTicks(double low, double high, int maxTicks, const std::string& unit) {
  std::vector<AxisTick> ticks;
  if (!std::isfinite(low) || !std::isfinite(high) || high <= low || maxTicks < 1) return ticks;
  const double step = NiceStep(high - low, maxTicks);
  const double first = std::ceil(low / step - 1e-9) * step;
  for (double v = first; v <= high + step * 1e-9 && ticks.size() < 100; v += step) {
    std::string label = Number(v, step);
    if (!unit.empty()) label += " " + unit;
    ticks.push_back({v, label});
  }
  return ticks;
}

std::vector<AxisTick> FrequencyTicks(double lowHz, double highHz, int maxTicks) {
  if (std::max(std::abs(lowHz), std::abs(highHz)) >= 2000) return ScaledTicks(lowHz, highHz, maxTicks, 1000, "kHz");
  return NiceTicks(lowHz, highHz, maxTicks, "Hz");
}

std::vector<AxisTick> TimeTicks(double lowSeconds, double highSeconds, int maxTicks) {
  const double range = highSeconds - lowSeconds;
  if (range > 3 * 3600) return ScaledTicks(lowSeconds, highSeconds, maxTicks, 3600, "h");
  if (range > 300) return ScaledTicks(lowSeconds, highSeconds, maxTicks, 60, "min");
  return NiceTicks(lowSeconds, highSeconds, maxTicks, "s");
}

std::string FormatFrequency(double hz) {
  char text[48];
  if (std::abs(hz) >= 10000)
    std::snprintf(text, sizeof text, "%.2f kHz", hz / 1000);
  else
    std::snprintf(text, sizeof text, "%.1f Hz", hz);
  return text;
}

std::string FormatSeconds(double seconds) {
  char text[48];
  const double a = std::abs(seconds);
  if (a >= 7200)
    std::snprintf(text, sizeof text, "%.2f h", seconds / 3600);
  else if (a >= 600)
    std::snprintf(text, sizeof text, "%.1f min", seconds / 60);
  else
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

}  // namespace hylo
