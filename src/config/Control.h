#pragma once
// The LF unit's operating-mode table: one code for the logging, wave data and FFT data
// choices of the LF panel. The same table encodes for sending and decodes what the unit reports.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace hylo::control {

// Logging choice: "None" 0, "Wav" 1, "FFT" 2, "Triggered" 3.
inline constexpr std::array<std::string_view, 4> kLfLoggingLabels = {"None", "Wav", "FFT", "Triggered"};
// Wave and FFT data choices: "Data Off" 0, "Always" 1, "On Epoch Trigger" 2.
inline constexpr std::array<std::string_view, 3> kLfDataLabels = {"Data Off", "Always", "On Epoch Trigger"};
inline constexpr int kLfOperatingModeCount = 36;

struct LfModeChoice {
  int logging = 0;
  int waveData = 0;
  int fftData = 0;
  bool operator==(const LfModeChoice&) const = default;
};

// None when a choice is outside its list.
std::optional<std::uint16_t> LfOperatingMode(const LfModeChoice& choice);
// None for a code of 36 or more.
std::optional<LfModeChoice> DecodeLfOperatingMode(std::uint16_t mode);

}  // namespace hylo::control
