#pragma once
// UiUpdateThread: the single consumer of what ends on screen. Spectra, traces and
// reference tables go to their display stores; the periodic refresh turns the status
// store into the main panel's texts.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "core/Worker.h"
#include "processing/HyloSpectrum.h"
#include "processing/HyloTimeSeries.h"
#include "processing/StatusStore.h"
#include "shell/PanelModel.h"

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
}  // namespace statuspanel

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

  HyloSpectrum& Spectrum() { return spectrum_; }
  HyloTimeSeries& TimeSeries() { return timeSeries_; }

 private:
  StatusStore& status_;
  PanelModel& panel_;
  HyloSpectrum spectrum_;
  HyloTimeSeries timeSeries_;
  std::function<long()> localOffset_;
  std::atomic<bool> scanning_{false};
  unsigned activity_ = 0;
};

}  // namespace hylo
