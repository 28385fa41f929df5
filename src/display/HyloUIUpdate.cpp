#include "display/HyloUIUpdate.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/TextMessage.h"
#include "processing/HyloReference.h"

namespace hylo {
namespace {

std::string Fmt(const char* format, auto... args) {
  char text[128];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

long PlatformLocalOffset() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_gmtoff;
}

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string ClockText(std::time_t now, bool displayUtc, long offset) {
  if (displayUtc) offset = 0;
  const std::time_t shown = now + offset;
  std::tm t{};
  gmtime_r(&shown, &t);
  if (offset == 0) return Fmt("%d:%02d:%02d UTC", t.tm_hour, t.tm_min, t.tm_sec);
  const double hours = offset / 3600.0;
  return offset > 0 ? Fmt("%d:%02d:%02d UTC+%.2f", t.tm_hour, t.tm_min, t.tm_sec, hours)
                    : Fmt("%d:%02d:%02d UTC%.2f", t.tm_hour, t.tm_min, t.tm_sec, hours);
}

std::string EnvironmentText(int temperatureTenths, int humidityTenths) {
  return Fmt("%4.1f'C %4.1f%c RH", temperatureTenths / 10.0, humidityTenths / 10.0, '%');
}

std::string BatteryText(int level, int state) {
  std::string text = level < 6 ? "<5%" : Fmt("%d%%", level);
  if (state == 1) text += ", Charging";
  return text;
}

int BatteryGauge(int level) { return std::clamp((level + 5) / 10, 0, 10); }

std::string SyncStatusText(int mode) {
  static constexpr const char* kTexts[] = {"Sync Disabled",
                                           "Master",
                                           "Master w/ Time",
                                           "Slave Falling Edge, No PPS",
                                           "Slave Falling Edge, Syncing",
                                           "Slave Falling Edge, Synced",
                                           "Slave Rising Edge, No PPS",
                                           "Slave Rising Edge, Syncing",
                                           "Slave Rising Edge, Synced"};
  return mode >= 0 && mode <= 8 ? kTexts[mode] : "";
}

std::string TimeSourceText(int source) {
  static constexpr const char* kTexts[] = {"Not Synced",    "Synced Manually", "Synced by RTC", "Synced by Filesystem",
                                           "Synced by NTP", "Synced by GPS",   "Synced by PTP"};
  const int s = source & 0x7F;
  return s <= 6 ? kTexts[s] : "";
}

std::string SyncTooltip(int state) {
  switch (state) {
    case 0:
      return "Sync Disabled";
    case 1:
    case 2:
      return "Sync Out";
    case 3:
    case 6:
      return "Not Synced";
    case 4:
    case 7:
      return "Syncing";
    case 5:
    case 8:
      return "Synced";
    default:
      return "";
  }
}

bool SyncIndicatorShown(int model, Firmware firmware, int featureLevel) {
  if (model == 5 || model == 7) return firmware >= Firmware(2, 1, 0) && featureLevel >= 2;
  if (model == 2) return firmware >= Firmware(2, 7, 0);
  return false;
}

std::string PowerStatusText(int chargeState, int chargeMah, int fullChargeMah) {
  switch (chargeState) {
    case 0:
      return "No Data";
    case 1:
      return "Charging";
    case 2:
      return "Discharging";
    default:
      return chargeMah < fullChargeMah ? "Not Charging" : "Charge Complete";
  }
}

std::uint32_t LedColour(int code) {
  switch (code) {
    case 1:
      return 0x3264FF;
    case 2:
      return 0x00FF00;
    case 3:
      return 0xFFFF00;
    default:
      return 0xFFFFFF;
  }
}

std::uint32_t ActivityColour(unsigned counter) {
  static constexpr std::uint32_t kColours[] = {0xC0C0C0, 0x008000, 0x00FF00, 0x000080, 0x0000FF, 0x008080,
                                               0x00FFFF, 0x808000, 0xFFFF00, 0x800080, 0xFF00FF};
  return kColours[counter % 11];
}

bool HyloUIUpdate::Handle(MessageNode& node) {
  switch (node.type) {
    case MSG_SPECTRUM:
      spectrum_.AddSpectrum(node.As<SpectrumRecord>());
      if (spectrumSink_) spectrumSink_(node.As<SpectrumRecord>());
      break;
    case MSG_WAVEFORM:
      timeSeries_.AddTrace(node.As<WaveformRecord>());
      break;  // the loop returns its buffer
    case MSG_REFERENCE:
      spectrum_.SetReferenceTable(node.As<ReferenceTable>());
      break;
    case MSG_RESET_CHARTS: {
      spectrum_.Reset();
      timeSeries_.ResetTraces();
      impulses_.Reset();
      std::lock_guard guard(chartLock_);
      charts_ = {};
      break;
    }
    case MSG_REFRESH:
      Refresh();
      break;
    case MSG_IMPULSE:
      impulses_.Add(node.As<ImpulseRecord>());
      break;
    case MSG_TEXT: {
      panel_.AppendItem(statuspanel::kEventText, std::string(TextMessageText(node)));
      break;
    }
    case MSG_STATUS_LEDS: {
      std::uint32_t group = 0;
      std::memcpy(&group, node.payload + 8, 4);
      std::vector<std::string> colours;
      // Five indicators per group; the sixth byte of the layout is not shown.
      for (int i = 0; i < 5; ++i) colours.push_back(Fmt("%06X", LedColour(static_cast<std::uint8_t>(node.payload[i]))));
      panel_.SetItems(std::string(statuspanel::kLeds) + (group ? "Host" : "Unit"), colours);
      break;
    }
    case MSG_FFT_DISPLAY:
      spectrum_.AddPyramidColumn(node.As<PyramidOutput>());
      break;
    case MSG_DISPLAY_SETUP:
      spectrum_.SelectZoom(node.As<double>());
      break;
    case MSG_PEAK_MODE:
      spectrum_.SelectVariant(node.As<std::int32_t>());
      break;
    default:
      break;
  }
  return false;
}

void HyloUIUpdate::ShowOrientation(const std::array<std::int16_t, 6>& o) {
  double scaled[6];
  for (std::size_t i = 0; i < 6; ++i) scaled[i] = o[i] * (i < 3 ? 0.001 : 100.0);
  double accel = 0, mag = 0;
  for (int i = 0; i < 3; ++i) {
    panel_.SetValue(statuspanel::kAccel[i], Fmt("%.3f", scaled[i]));
    panel_.SetValue(statuspanel::kMag[i], Fmt("%.0f", scaled[i + 3]));
    accel += scaled[i] * scaled[i];
    mag += scaled[i + 3] * scaled[i + 3];
  }
  panel_.SetValue(statuspanel::kAccelMagnitude, Fmt("%.3f", std::sqrt(accel)));
  panel_.SetValue(statuspanel::kMagMagnitude, Fmt("%.0f", std::sqrt(mag)));
  std::lock_guard guard(chartLock_);
  for (std::size_t i = 0; i < 6; ++i) {
    auto& chart = charts_.values[i];
    if (chart.size() == kStripChartPoints) chart.erase(chart.begin());
    chart.push_back(scaled[i]);
  }
  ++charts_.samples;
}

OrientationCharts HyloUIUpdate::Orientation() const {
  std::lock_guard guard(chartLock_);
  return charts_;
}

void HyloUIUpdate::Refresh() {
  const std::time_t now = std::time(nullptr);
  const StatusValues s = status_.Copy(true);
  const long offset = localOffset_ ? localOffset_() : PlatformLocalOffset();
  panel_.SetValue(statuspanel::kClock, ClockText(now, s.displayUtc, offset));
  std::tm local{};
  const std::time_t shown = now + (s.displayUtc ? 0 : offset);
  gmtime_r(&shown, &local);
  panel_.SetValue(statuspanel::kDate, Fmt("%d %s. %d", local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900));
  panel_.SetValue(statuspanel::kEnvironment, EnvironmentText(s.temperature, s.humidity));
  if (s.orientationNew) ShowOrientation(s.orientation);
  panel_.SetValue(statuspanel::kBattery, BatteryText(s.batteryLevel, s.batteryState));
  panel_.SetValue(statuspanel::kBatteryGauge, std::int64_t{BatteryGauge(s.batteryLevel)});
  panel_.SetDimmed(statuspanel::kBattery, s.batteryState == 0);
  const std::string sync = SyncStatusText(s.syncRecord[4]);
  if (!sync.empty()) panel_.SetValue(statuspanel::kSyncStatus, sync);  // unknown modes keep the last text
  panel_.SetValue(statuspanel::kTimeSource, TimeSourceText(s.syncRecord[5]));
  const auto i16 = [&](std::size_t at) {
    return static_cast<std::int16_t>(s.powerRecord[at] | (s.powerRecord[at + 1] << 8));
  };
  panel_.SetValue(statuspanel::kPowerStatus, PowerStatusText(s.powerRecord[4], i16(6), i16(8)));
  panel_.SetValue(statuspanel::kChargePercent, Fmt("%d", static_cast<std::int8_t>(s.powerRecord[5])));
  panel_.SetValue(statuspanel::kChargeMah, Fmt("%d", i16(6)));
  panel_.SetValue(statuspanel::kFullChargeMah, Fmt("%d", i16(8)));
  panel_.SetValue(statuspanel::kCurrentMa, Fmt("%d", i16(10)));
  panel_.SetValue(statuspanel::kBatteryMv, Fmt("%d", static_cast<std::uint16_t>(i16(12))));
  panel_.SetValue(statuspanel::kBatteryTemperature, Fmt("%.1f", i16(14) / 10.0));
  panel_.SetValue(statuspanel::kBoardMv, Fmt("%d", static_cast<std::uint16_t>(i16(16))));
  panel_.SetValue(statuspanel::kProcessorMv, Fmt("%d", static_cast<std::uint16_t>(i16(18))));
  const auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, s.syncRecord.data() + at, 4);
    return v;
  };
  panel_.SetValue(statuspanel::kPpsOffset, Fmt("%d", static_cast<std::int32_t>(u32(8))));
  panel_.SetValue(statuspanel::kPpsCount, Fmt("%u", u32(12)));
  panel_.SetValue(statuspanel::kPpsIndicator, std::int64_t{(s.syncRecord[5] & 0x80) ? 1 : 0});
  const std::time_t synced = u32(20);
  std::tm st{};
  gmtime_r(&synced, &st);
  panel_.SetValue(statuspanel::kLastSync, Fmt("%d %s. %d %02d:%02d:%02d", st.tm_mday, kMonths[st.tm_mon],
                                              st.tm_year + 1900, st.tm_hour, st.tm_min, st.tm_sec));
  if (scanning_) {
    ++activity_;
    panel_.SetValue(statuspanel::kActivity, Fmt("%06X", ActivityColour(activity_)));
  }
}

}  // namespace hylo
