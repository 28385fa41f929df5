#pragma once
// The settings groups: each module's keys with their kinds and defaults, loaded from and
// saved to the settings document by one field table per group.
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "settings/HyloIni.h"

namespace hylo {

struct SettingField {
  const char* section;
  const char* key;
  std::variant<std::string*, bool*, int*, std::uint32_t*, double*> target;
  std::size_t capacity = 0;  // text buffer size, terminator included
};

void LoadFields(const HyloIni& ini, const std::vector<SettingField>& fields);
void SaveFields(HyloIni& ini, const std::vector<SettingField>& fields);

// Each group: its values (with their defaults) and its field table.
struct DisplaySettings {
  double scanPeriod = 0.0625;
  double refreshRate = 0.5;
  bool showDcOffset = false;
  bool displayToNyquist = false;
  bool useCustomScanRate = false;
  int topDisplay = 3;
  int bottomDisplay = 2;
  bool useLogScale = false;
  std::vector<SettingField> Fields();
};

struct MainSettings {
  std::string screenshotPath;
  bool timeScreenshotActive = false;
  std::uint32_t timeScreenshotDuration = 0;
  bool displayInUtc = false;
  explicit MainSettings(const std::filesystem::path& dataFolder) : screenshotPath(dataFolder.string()) {}
  std::vector<SettingField> Fields();
};

struct ReplaySettings {
  int replayRate = 1;
  std::string replayDirectory;
  explicit ReplaySettings(const std::filesystem::path& dataFolder) : replayDirectory(dataFolder.string()) {}
  std::vector<SettingField> Fields();
};

struct WavSettings {
  bool captureEnabled = false;
  int nextIndex = 1;
  int minutesPerFile = 1;
  int nameFormat = 0;
  std::string prefix = "Data";
  std::string fileName = "Data_00001.wav";
  std::string path;
  explicit WavSettings(const std::filesystem::path& dataFolder) : path(dataFolder.string()) {}
  std::vector<SettingField> Fields();
};

struct TriggerSettings {
  std::uint32_t correlationLimit = 0;
  bool correlationActive = false;
  std::uint32_t countDuration = 0;
  // Event clips of the host triggers.
  bool clipsEnabled = false;
  std::string clipFolder;
  std::uint32_t clipSecondsBefore = 5;
  std::uint32_t clipSecondsAfter = 5;
  std::vector<SettingField> Fields();
};

struct ConnectionSettings {
  int commSerialPort = 12;
  int commTcpPort = 50000;
  int baudRate = 256000;
  int commRetries = 3;
  std::string commIpAddress;
  int tcpTimeout = 100;
  int serialTimeout = 4266;
  int linkType = 3;
  bool customSerialTimeout = false;
  std::string commSerialDevice;  // the device behind "Comm Serial Port" on this machine
  std::vector<SettingField> Fields();
  void Load(const HyloIni& ini);  // a stored link type 2 is taken as 1
};

struct LoggingSettings {
  bool logfileEnabled = false;
  bool instrumentEpochLogEnabled = false;
  bool hostEpochLogEnabled = false;
  std::string instrumentEpochLogPath;
  std::string hostEpochLogPath;
  std::string clickDetectionFile;
  std::string comment;
  std::string jobClient;
  std::string jobId;
  std::string jobPersonnel;
  int nextIndex = 1;
  int maxRecords = 1000;
  int nameFormat = 0;
  std::string prefix = "Hylo";
  std::string path;
  std::string fileName = "Hylo";
  // The impulse log's keys belong to the logging group too.
  bool impulseLoggingEnabled = false;
  int nextImpulseIndex = 1;
  int maxImpulseRecords = 1000;
  int impulseNameFormat = 0;
  std::string impulsePrefix = "Impulse";
  std::string impulsePath;
  std::string impulseFileName = "Impulse";
  explicit LoggingSettings(const std::filesystem::path& programFolder)
      : clickDetectionFile((programFolder / "Click.txt").string()) {}
  std::vector<SettingField> Fields();
};

struct CalibrationSettings {
  std::string lfCalFileName;
  std::string hfCalFileName;
  std::vector<SettingField> Fields();
};

struct FileUtilitySettings {
  std::string destinationPath;
  explicit FileUtilitySettings(const std::filesystem::path& dataFolder) : destinationPath(dataFolder.string()) {}
  std::vector<SettingField> Fields();
};

struct ReferenceSettings {
  int dbReference = 50;
  int referenceType = 3;
  std::vector<SettingField> Fields();
};

struct SpectrumSettings {
  std::uint32_t colourMapPeak = 100;
  int displayMode = 0;
  std::vector<SettingField> Fields();
};

struct ImpulseDetectionSettings {
  bool enabled = false;
  int detectionThreshold = 40;
  int resetThreshold = 20;
  int preDetectionInterval = 10;
  int postDetectionInterval = 50;
  int selMax = 160;
  int bandMax = 140;
  std::vector<SettingField> Fields();
  void Load(const HyloIni& ini);  // 16-bit fields: out-of-range values keep the default
};

// Every group, for the modules that do not own theirs yet and for whole-document work.
struct SettingsGroups {
  DisplaySettings display;
  MainSettings main;
  ReplaySettings replay;
  WavSettings wav;
  TriggerSettings trigger;
  ConnectionSettings connection;
  LoggingSettings logging;
  CalibrationSettings calibration;
  FileUtilitySettings fileUtility;
  ReferenceSettings reference;
  SpectrumSettings spectrum;
  ImpulseDetectionSettings impulse;

  SettingsGroups(const std::filesystem::path& dataFolder, const std::filesystem::path& programFolder)
      : main(dataFolder), replay(dataFolder), wav(dataFolder), logging(programFolder), fileUtility(dataFolder) {}
  void LoadAll(const HyloIni& ini);
  void SaveAll(HyloIni& ini);
};

}  // namespace hylo
