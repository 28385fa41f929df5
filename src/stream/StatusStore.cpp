#include "stream/StatusStore.h"

#include <algorithm>

namespace hylo {

void StatusStore::SetTemperature(int tenths) {
  std::lock_guard guard(lock_);
  values_.temperature = static_cast<std::int16_t>(std::clamp(tenths, -32768, 32767));
}

void StatusStore::SetHumidity(int tenths) {
  std::lock_guard guard(lock_);
  values_.humidity = static_cast<std::int16_t>(std::clamp(tenths, -32768, 32767));
}

void StatusStore::SetBattery(int level, int state) {
  std::lock_guard guard(lock_);
  if (level < 0) {
    level = 0;
    state = 0;
  }
  values_.batteryLevel = static_cast<std::int8_t>(std::min(level, 127));
  values_.batteryState = state;
}

void StatusStore::SetSyncState(std::int32_t state) {
  {
    std::lock_guard guard(lock_);
    values_.syncState = state;
  }
  if (syncModeListener_) syncModeListener_(state & 0xFF);
}

void StatusStore::SetOrientation(const std::array<std::int16_t, 6>& values) {
  std::lock_guard guard(lock_);
  values_.orientation = values;
  values_.orientationNew = true;
}

void StatusStore::SetPowerRecord(const std::array<std::uint8_t, 20>& record) {
  std::lock_guard guard(lock_);
  values_.powerRecord = record;
}

void StatusStore::SetSyncRecord(const std::array<std::uint8_t, 24>& record) {
  std::lock_guard guard(lock_);
  values_.syncRecord = record;
}

void StatusStore::SetDisplayUtc(bool on) {
  std::lock_guard guard(lock_);
  values_.displayUtc = on;
}

void StatusStore::SetReplayName(std::string name) {
  std::lock_guard guard(replayLock_);
  replayName_ = std::move(name);
}

int StatusStore::GetTemperature() const {
  std::lock_guard guard(lock_);
  return values_.temperature;
}

int StatusStore::GetHumidity() const {
  std::lock_guard guard(lock_);
  return values_.humidity;
}

StatusValues StatusStore::Copy(bool takeOrientation) {
  std::lock_guard guard(lock_);
  StatusValues copy = values_;
  if (takeOrientation) values_.orientationNew = false;
  return copy;
}

std::string StatusStore::ReplayName() const {
  std::lock_guard guard(replayLock_);
  return replayName_;
}

}  // namespace hylo
