#include "config/Control.h"

namespace hylo::control {

namespace {

// Indexed by mode: {logging, wave data, FFT data}.
constexpr std::array<LfModeChoice, kLfOperatingModeCount> kModes = {{
    {0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {1, 0, 1}, {1, 1, 0}, {2, 0, 1}, {2, 0, 0}, {0, 1, 1}, {1, 1, 1},
    {2, 1, 1}, {2, 1, 0}, {0, 0, 0}, {0, 0, 2}, {0, 2, 0}, {3, 0, 0}, {0, 1, 2}, {0, 2, 2}, {1, 0, 2},
    {2, 0, 2}, {3, 0, 2}, {1, 1, 2}, {2, 1, 2}, {3, 1, 2}, {1, 2, 2}, {2, 2, 2}, {3, 2, 2}, {0, 2, 1},
    {3, 0, 1}, {3, 1, 1}, {1, 2, 1}, {2, 2, 1}, {3, 2, 1}, {3, 1, 0}, {1, 2, 0}, {2, 2, 0}, {3, 2, 0},
}};

}  // namespace

std::optional<std::uint16_t> LfOperatingMode(const LfModeChoice& choice) {
  for (std::size_t mode = 0; mode < kModes.size(); ++mode)
    if (kModes[mode] == choice) return static_cast<std::uint16_t>(mode);
  return std::nullopt;
}

std::optional<LfModeChoice> DecodeLfOperatingMode(std::uint16_t mode) {
  if (mode >= kModes.size()) return std::nullopt;
  return kModes[mode];
}

}  // namespace hylo::control
