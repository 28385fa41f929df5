#include "settings/SettingsGroups.h"

#include <mutex>
#include <type_traits>

namespace hylo {

void LoadFields(const HyloIni& ini, const std::vector<SettingField>& fields) {
  std::lock_guard guard(ini.SettingsLock());
  for (const auto& f : fields) {
    std::visit(
        [&](auto* target) {
          using T = std::remove_pointer_t<decltype(target)>;
          if constexpr (std::is_same_v<T, std::string>) {
            ini.GetText(f.section, f.key, *target, f.capacity);
          } else if constexpr (std::is_same_v<T, bool>) {
            ini.GetBool(f.section, f.key, *target);
          } else if constexpr (std::is_same_v<T, int>) {
            ini.GetInt(f.section, f.key, *target);
          } else if constexpr (std::is_same_v<T, std::uint32_t>) {
            ini.GetUInt(f.section, f.key, *target);
          } else {
            ini.GetDouble(f.section, f.key, *target);
          }
        },
        f.target);
  }
}

void SaveFields(HyloIni& ini, const std::vector<SettingField>& fields) {
  std::lock_guard guard(ini.SettingsLock());
  for (const auto& f : fields) {
    std::visit(
        [&](auto* target) {
          using T = std::remove_pointer_t<decltype(target)>;
          if constexpr (std::is_same_v<T, std::string>) {
            ini.SetText(f.section, f.key, *target);
          } else if constexpr (std::is_same_v<T, bool>) {
            ini.SetBool(f.section, f.key, *target);
          } else if constexpr (std::is_same_v<T, double>) {
            ini.SetDouble(f.section, f.key, *target);
          } else {
            ini.SetInt(f.section, f.key, static_cast<std::int64_t>(*target));
          }
        },
        f.target);
  }
}

std::vector<SettingField> DisplaySettings::Fields() {
  return {{"Settings", "Scan Period", &scanPeriod},
          {"Settings", "Refresh Rate", &refreshRate},
          {"Settings", "Show DC Offset", &showDcOffset},
          {"Settings", "Display to Niquist", &displayToNyquist},
          {"Settings", "Use Custom Scan Rate", &useCustomScanRate},
          {"Settings", "Top Display", &topDisplay},
          {"Settings", "Bottom Display", &bottomDisplay},
          {"Settings", "Use Log Scale", &useLogScale}};
}

std::vector<SettingField> MainSettings::Fields() {
  return {{"Settings", "Screenshot Path", &screenshotPath, 260},
          {"Settings", "Time Screenshot Active", &timeScreenshotActive},
          {"Settings", "Time Screenshot Duration", &timeScreenshotDuration},
          {"Settings", "Display In UTC", &displayInUtc}};
}

std::vector<SettingField> ReplaySettings::Fields() {
  return {{"Replay", "Replay Rate", &replayRate}, {"Replay", "Replay Directory", &replayDirectory, 260}};
}

std::vector<SettingField> WavSettings::Fields() {
  return {{"Wav", "Wav Capture Enabled", &captureEnabled},
          {"Wav", "Wavfile Next Index", &nextIndex},
          {"Wav", "Wavfile Min Per File", &minutesPerFile},
          {"Wav", "Wavfile Name Format", &nameFormat},
          {"Wav", "Wavfile Prefix", &prefix, 12},
          {"Wav", "Wavfile Filename", &fileName, 260},
          {"Wav", "Wavfile Path", &path, 260}};
}

std::vector<SettingField> TriggerSettings::Fields() {
  return {{"Trigger", "Correlation Limit", &correlationLimit},
          {"Trigger", "Correlation Active", &correlationActive},
          {"Trigger", "Count Duration", &countDuration},
          {"Trigger", "Event Clips Enabled", &clipsEnabled},
          {"Trigger", "Event Clip Folder", &clipFolder, 260},
          {"Trigger", "Event Clip Seconds Before", &clipSecondsBefore},
          {"Trigger", "Event Clip Seconds After", &clipSecondsAfter}};
}

std::vector<SettingField> ConnectionSettings::Fields() {
  return {{"Connection", "Comm Serial Port", &commSerialPort},
          {"Connection", "Comm TCP Port", &commTcpPort},
          {"Connection", "Baud Rate", &baudRate},
          {"Connection", "Comm Retries", &commRetries},
          {"Connection", "Comm IP Address", &commIpAddress, 101},
          {"Connection", "Tcp Timeout", &tcpTimeout},
          {"Connection", "Serial Timeout", &serialTimeout},
          {"Connection", "Link Type", &linkType},
          {"Connection", "Custom Serial Timeout", &customSerialTimeout},
          {"Connection", "Comm Serial Device", &commSerialDevice, 260}};
}

void ConnectionSettings::Load(const HyloIni& ini) {
  LoadFields(ini, Fields());
  if (linkType == 2) linkType = 1;
}

std::vector<SettingField> LoggingSettings::Fields() {
  return {{"Logging", "Logfile Enabled", &logfileEnabled},
          {"Logging", "HF Epoch Log Enabled", &instrumentEpochLogEnabled},
          {"Logging", "Hylo Epoch Log Enabled", &hostEpochLogEnabled},
          {"Logging", "HF Epoch Log Path", &instrumentEpochLogPath, 260},
          {"Logging", "Hylo Epoch Log Path", &hostEpochLogPath, 260},
          {"Logging", "Click Detection File", &clickDetectionFile, 260},
          {"Logging", "Logfile Comment", &comment, 37},
          {"Logging", "Job Client", &jobClient, 32},
          {"Logging", "Job Id", &jobId, 32},
          {"Logging", "Job Personnel", &jobPersonnel, 32},
          {"Logging", "Logfile Next Index", &nextIndex},
          {"Logging", "Logfile Max Records", &maxRecords},
          {"Logging", "Logfile Name Format", &nameFormat},
          {"Logging", "Logfile Prefix", &prefix, 12},
          {"Logging", "Logfile Path", &path, 260},
          {"Logging", "Logfile Filename", &fileName, 260},
          {"Impulse", "Impulse Logging Enabled", &impulseLoggingEnabled},
          {"Impulse", "Next Impulse Log Index", &nextImpulseIndex},
          {"Impulse", "Max Impulse Records", &maxImpulseRecords},
          {"Impulse", "Impulse Log Name Format", &impulseNameFormat},
          {"Impulse", "Impulse Log Prefix", &impulsePrefix, 12},
          {"Impulse", "Impulse Log Path", &impulsePath, 260},
          {"Impulse", "Impulse Log File Name", &impulseFileName, 260}};
}

std::vector<SettingField> CalibrationSettings::Fields() {
  return {{"Calibration", "LF Cal File Name", &lfCalFileName, 260},
          {"Calibration", "HF Cal File Name", &hfCalFileName, 260}};
}

std::vector<SettingField> FileUtilitySettings::Fields() {
  return {{"File Utility", "Destination Path", &destinationPath, 260}};
}

std::vector<SettingField> ReferenceSettings::Fields() {
  return {{"Reference", "dB Reference", &dbReference}, {"Reference", "ReferenceType", &referenceType}};
}

std::vector<SettingField> SpectrumSettings::Fields() {
  return {{"Spectrum", "Colour Map Peak", &colourMapPeak}, {"Spectrum", "Display Mode", &displayMode}};
}

std::vector<SettingField> ImpulseDetectionSettings::Fields() {
  return {{"Impulse", "Impulse Detection Enabled", &enabled},
          {"Impulse", "Detection Threshold", &detectionThreshold},
          {"Impulse", "Reset Threshold", &resetThreshold},
          {"Impulse", "Pre Detection Interval", &preDetectionInterval},
          {"Impulse", "Post Detection Interval", &postDetectionInterval},
          {"Impulse", "SEL Max", &selMax},
          {"Impulse", "Band Max", &bandMax}};
}

void ImpulseDetectionSettings::Load(const HyloIni& ini) {
  const ImpulseDetectionSettings before = *this;
  LoadFields(ini, Fields());
  auto keep16 = [](int& value, int fallback) {
    if (value < -32768 || value > 65535) value = fallback;
  };
  keep16(detectionThreshold, before.detectionThreshold);
  keep16(resetThreshold, before.resetThreshold);
  keep16(preDetectionInterval, before.preDetectionInterval);
  keep16(postDetectionInterval, before.postDetectionInterval);
  keep16(selMax, before.selMax);
  keep16(bandMax, before.bandMax);
}

void SettingsGroups::LoadAll(const HyloIni& ini) {
  LoadFields(ini, display.Fields());
  LoadFields(ini, main.Fields());
  LoadFields(ini, replay.Fields());
  LoadFields(ini, wav.Fields());
  LoadFields(ini, trigger.Fields());
  connection.Load(ini);
  LoadFields(ini, logging.Fields());
  LoadFields(ini, calibration.Fields());
  LoadFields(ini, fileUtility.Fields());
  LoadFields(ini, reference.Fields());
  LoadFields(ini, spectrum.Fields());
  impulse.Load(ini);
}

void SettingsGroups::SaveAll(HyloIni& ini) {
  SaveFields(ini, display.Fields());
  SaveFields(ini, main.Fields());
  SaveFields(ini, replay.Fields());
  SaveFields(ini, wav.Fields());
  SaveFields(ini, trigger.Fields());
  SaveFields(ini, connection.Fields());
  SaveFields(ini, logging.Fields());
  SaveFields(ini, calibration.Fields());
  SaveFields(ini, fileUtility.Fields());
  SaveFields(ini, reference.Fields());
  SaveFields(ini, spectrum.Fields());
  SaveFields(ini, impulse.Fields());
}

}  // namespace hylo
