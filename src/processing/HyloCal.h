#pragma once
// Calibration: the spectra that reach the displays while the calibration switch is on are
// kept (the newest 800), and when it goes off their per-bin mean, smoothed across
// neighbouring bins, becomes the ambient reference.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "stream/Records.h"

namespace hylo {

inline constexpr int kCalHistoryRecords = 800;
using AmbientSpectrum = std::array<std::uint8_t, kSpectrumBins>;

// Rounded mean of `count` bytes summing to `sum` ((sum + n/2 + 1) / n, n at least 1), kept
// within the byte scale.
std::uint8_t CalibrationMean(std::uint64_t sum, int count);
// Bin 0 becomes 0; bins 1 .. binCount − 3 become the power sum of themselves and their two
// neighbours, rounded, minus 3 dB (kept within the byte scale); the rest stay as they are.
AmbientSpectrum SmoothAmbient(const AmbientSpectrum& mean, int binCount);
// "mm:ss" below 6000 s, else "99:99".
std::string CalibrationTimeText(double elapsedSeconds);

class HyloCal {
 public:
  using Clock = std::function<double()>;  // seconds on a steady clock
  HyloCal();

  // Where the result goes (the reference store's SetAmbientReference, switch on).
  void SetInstall(std::function<void(const AmbientSpectrum&)> install) { install_ = std::move(install); }
  // Raised at every start: the logging thread begins a new calibration file.
  void SetCaptureRequest(std::function<void()> request) { captureRequest_ = std::move(request); }
  void SetClock(Clock clock) { clock_ = std::move(clock); }

  // The calibration switch: on begins, off ends. Returns what EndCalibration returns when off.
  bool StartCalibration(bool on);
  void BeginCalibration();
  // Averages, smooths and installs; false (and nothing installed) when no spectrum came in.
  bool EndCalibration();
  bool IsCalibrating() const;
  // UiUpdateThread, for every spectrum while calibrating.
  void AddCalibrationRecord(const SpectrumRecord& record);
  // The elapsed time when a record arrived since the last call; nothing otherwise.
  std::optional<std::string> ShowCalibrationTime();

  // A calibration read back from its file.
  void SetAmbient(const AmbientSpectrum& ambient);
  AmbientSpectrum Ambient() const;
  int RecordCount() const;
  double FirstTime() const;

 private:
  mutable std::mutex lock_;  // the UI thread and UiUpdateThread both touch the state
  std::function<void(const AmbientSpectrum&)> install_;
  std::function<void()> captureRequest_;
  Clock clock_;
  bool calibrating_ = false;
  std::vector<std::uint8_t> history_;  // record-major ring of kCalHistoryRecords × kSpectrumBins
  int oldest_ = 0;
  int recordCount_ = 0;
  int binCount_ = 0;
  double recordSeconds_ = 0;
  std::uint8_t reference_ = 0;
  double firstTime_ = 0;
  double startTimer_ = 0;
  double elapsed_ = 0;
  bool updated_ = false;
  AmbientSpectrum ambient_{};
};

}  // namespace hylo
