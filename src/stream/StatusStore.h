#pragma once
// The instrument's latest status values, written by message processing and copied whole
// by the display thread once per refresh.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace hylo {

struct StatusValues {
  std::int16_t temperature = 0;  // tenths of °C
  std::int16_t humidity = 0;     // tenths of % RH
  std::int8_t batteryLevel = 0;
  std::int32_t batteryState = 0;
  std::int32_t syncState = 0;
  std::array<std::int16_t, 6> orientation{};
  bool orientationNew = false;
  std::array<std::uint8_t, 20> powerRecord{};
  std::array<std::uint8_t, 24> syncRecord{};
  bool displayUtc = false;
};

class StatusStore {
 public:
  void SetTemperature(int tenths);
  void SetHumidity(int tenths);
  // A negative level means unknown: stored as 0 with state 0.
  void SetBattery(int level, int state);
  void SetSyncState(std::int32_t state);
  // Told the time-synchronisation mode (the state's low byte) on every SetSyncState; set
  // before the workers start.
  void SetSyncModeListener(std::function<void(int mode)> listener) { syncModeListener_ = std::move(listener); }
  void SetOrientation(const std::array<std::int16_t, 6>& values);
  void SetPowerRecord(const std::array<std::uint8_t, 20>& record);
  void SetSyncRecord(const std::array<std::uint8_t, 24>& record);
  void SetDisplayUtc(bool on);
  void SetReplayName(std::string name);

  int GetTemperature() const;
  int GetHumidity() const;
  // The whole store; `takeOrientation` clears the orientation's "new" flag.
  StatusValues Copy(bool takeOrientation = false);
  std::string ReplayName() const;

 private:
  mutable std::mutex lock_;
  StatusValues values_;
  std::function<void(int)> syncModeListener_;
  mutable std::mutex replayLock_;
  std::string replayName_;
};

}  // namespace hylo
