#pragma once
// The calibration files "LF_CAL.txt" and "HF_CAL.txt": which one a unit uses, and reading
// one back (three header layouts) into a mean spectrum.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

namespace hylo {

inline constexpr int kCalibrationBins = 512;
using CalibrationSpectrum = std::array<std::uint8_t, kCalibrationBins>;

// "LF_CAL.txt" for model 2, "HF_CAL.txt" for 5 and 7, empty for any other.
std::string_view CalibrationFileName(int modelCode);

enum class CalLayout { kNone, kOldest, kMiddle, kCurrent };
// Classifies a calibration or spectrum log by its first line.
CalLayout ClassifyCalibrationLine(std::string_view firstLine);

// The per-bin rounded mean of the file's data lines; nothing when the file is missing or
// unrecognised, or holds fewer than 5 data lines.
std::optional<CalibrationSpectrum> ReloadCalibration(const std::filesystem::path& path);

// Reloads when a unit of another type than the last one seen appears.
class CalibrationReloader {
 public:
  using Apply = std::function<void(const CalibrationSpectrum&)>;
  CalibrationReloader(std::filesystem::path settingsFolder, Apply apply)
      : folder_(std::move(settingsFolder)), apply_(std::move(apply)) {}
  // True when a calibration was read and applied.
  bool OnIdentity(int modelCode);

 private:
  std::filesystem::path folder_;
  Apply apply_;
  std::optional<int> lastModel_;
};

}  // namespace hylo
