#pragma once
// The display types either display area can show, by the code kept in the settings.
#include <array>

namespace hylo::app {

enum DisplayType : int {
  kDisplayNone = 0,
  kDisplaySpectrum = 1,
  kDisplayTimeSeries = 2,
  kDisplaySpectrogram = 3,
  kDisplayLevels = 4,
  kDisplayClicks = 5,
  kDisplayImpulse = 6,
  kDisplayBands = 7,  // third-octave bands, bottom display only
};
inline constexpr int kDisplayTypeCount = 8;

inline constexpr std::array<const char*, kDisplayTypeCount> kDisplayTypeNames = {
    "None", "Spectrum", "Time Series", "Spectrogram", "Levels", "Click Detection", "Impulse", "Third Octave Bands"};

inline constexpr bool ValidDisplayType(int type, bool bottom) {
  return type >= 0 && type < kDisplayTypeCount && (bottom || type != kDisplayBands);
}

}  // namespace hylo::app
