#pragma once
// UiUpdateThread: the single consumer of what ends on screen. Spectra, traces and
// reference tables go to their display stores; the periodic refresh turns the status
// store into the main panel's texts.
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/Worker.h"
#include "display/HyloSpectrum.h"
#include "display/HyloTimeSeries.h"
#include "display/ImpulseDisplay.h"
#include "link/Firmware.h"
#include "shell/PanelModel.h"
#include "stream/StatusStore.h"

namespace hylo {

namespace statuspanel {
inline constexpr const char* kClock = "clock";
inline constexpr const char* kDate = "date";
inline constexpr const char* kEnvironment = "environment";
inline constexpr const char* kBattery = "battery";
inline constexpr const char* kBatteryGauge = "batteryGauge";
inline constexpr const char* kSyncStatus = "syncStatus";
inline constexpr const char* kTimeSource = "timeSource";
inline constexpr const char* kPowerStatus = "powerStatus";
inline constexpr const char* kActivity = "activity";
inline constexpr const char* kEventText = "eventText";
inline constexpr const char* kLeds = "leds";
// Orientation: accelerations in g, magnetic field components, and both magnitudes.
inline constexpr const char* kAccel[3] = {"accelX", "accelY", "accelZ"};
inline constexpr const char* kMag[3] = {"magX", "magY", "magZ"};
inline constexpr const char* kAccelMagnitude = "accelMagnitude";
inline constexpr const char* kMagMagnitude = "magMagnitude";
// Power record fields.
inline constexpr const char* kChargePercent = "chargePercent";
inline constexpr const char* kChargeMah = "chargeMah";
inline constexpr const char* kFullChargeMah = "fullChargeMah";
inline constexpr const char* kCurrentMa = "currentMa";
inline constexpr const char* kBatteryMv = "batteryMv";
inline constexpr const char* kBatteryTemperature = "batteryTemperature";
inline constexpr const char* kBoardMv = "boardMv";
inline constexpr const char* kProcessorMv = "processorMv";
// Synchronisation record fields.
inline constexpr const char* kPpsOffset = "ppsOffset";
inline constexpr const char* kPpsCount = "ppsCount";
inline constexpr const char* kPpsIndicator = "ppsIndicator";
inline constexpr const char* kLastSync = "lastSync";
}  // namespace statuspanel

inline constexpr std::size_t kStripChartPoints = 200;

// The six strip charts of the orientation panel (accelerations, then magnetic field), oldest first.
struct OrientationCharts {
  std::array<std::vector<double>, 6> values;
  std::uint64_t samples = 0;  // every point added since the last reset
};

// "12:34:56 UTC", "14:34:56 UTC+2.00", "07:34:56 UTC-5.00" (the local offset in hours).
std::string ClockText(std::time_t now, bool displayUtc, long localOffsetSeconds);
// "21.5'C 45.0% RH"
std::string EnvironmentText(int temperatureTenths, int humidityTenths);
// "<5%", "6%", "80%, Charging"
std::string BatteryText(int level, int state);
int BatteryGauge(int level);
// The sync mode and time source texts; empty for values without one.
std::string SyncStatusText(int mode);
std::string TimeSourceText(int source);
std::string SyncTooltip(int syncState);
// Units with the synchronisation indicator: HF and AF from firmware 2.1.0 with a feature level
// of 2 or more, LF from 2.7.0.
bool SyncIndicatorShown(int modelCode, Firmware firmware, int featureLevel);
std::string PowerStatusText(int chargeState, int chargeMah, int fullChargeMah);
std::uint32_t LedColour(int code);
std::uint32_t ActivityColour(unsigned counter);

class HyloUIUpdate final : public Worker {
 public:
  HyloUIUpdate(StatusStore& status, PanelModel& statusPanel) : status_(status), panel_(statusPanel) {}

  bool Handle(MessageNode& node) override;
  void Refresh();
  void SetScanning(bool on) { scanning_ = on; }
  // The local offset from UTC, in seconds; the platform's calendar by default.
  void SetLocalOffset(std::function<long()> offset) { localOffset_ = std::move(offset); }

  // Sees every spectrum before it is drawn (the calibration history); set before the workers run.
  void SetSpectrumSink(std::function<void(const SpectrumRecord&)> sink) { spectrumSink_ = std::move(sink); }

  HyloSpectrum& Spectrum() { return spectrum_; }
  HyloTimeSeries& TimeSeries() { return timeSeries_; }
  ImpulseDisplay& Impulses() { return impulses_; }
  OrientationCharts Orientation() const;

 private:
  StatusStore& status_;
  PanelModel& panel_;
  HyloSpectrum spectrum_;
  HyloTimeSeries timeSeries_;
  ImpulseDisplay impulses_;
  std::function<long()> localOffset_;
  std::function<void(const SpectrumRecord&)> spectrumSink_;
  std::atomic<bool> scanning_{false};
  unsigned activity_ = 0;
  void ShowOrientation(const std::array<std::int16_t, 6>& values);
  mutable std::mutex chartLock_;
  OrientationCharts charts_;
};

}  // namespace hylo
