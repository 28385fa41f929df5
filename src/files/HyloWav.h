#pragma once
// WAV logs: one mono PCM RIFF/WAVE file per stretch of minutes, with a fixed 344-byte
// header whose INFO list records the instrument and a calibration comment.
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "link/DeviceIdentity.h"
#include "platform/LogFile.h"
#include "settings/SettingsGroups.h"

namespace hylo {

class HyloIni;
class OperatorPort;

inline constexpr std::size_t kWavHeaderBytes = 344;
inline constexpr const char* kProgramVersion = "V4.4.0";
// Many readers take RIFF sizes as signed: a file ends before its RIFF size passes 2^31 − 1.
inline constexpr std::uint64_t kMaxWavDataBytes = 0x7FFFFFFFULL - 336;

// What the writer needs of one wave-data message.
struct WavBlock {
  std::uint8_t sampleWidth = 3;  // low seven bits: bytes per sample
  std::uint32_t blockTime = 0;   // UTC seconds
  std::int32_t sampleRate = 0;
  std::int32_t sampleCount = 0;
  std::int32_t newFile = 0;
  double fullScaleRange = 0;  // volts peak to peak
  std::span<const std::uint8_t> samples;
};

// The state the header texts come from, read when a file opens.
struct WavHeaderInfo {
  DeviceIdentity identity;
  int sensitivityDb = -171;
  int humidityTenths = 0;
  int temperatureTenths = 0;
};

using WavHeader = std::array<std::uint8_t, kWavHeaderBytes>;

// The header image for a file; `dataBytes` is the announced data size.
WavHeader BuildWavHeader(const WavHeaderInfo& info, const WavBlock& first, std::string_view fileName,
                         std::uint32_t dataBytes);
// "Data_00007.wav" or "Data_20210304_050607.wav".
std::string WavFileName(std::string_view prefix, int nameFormat, int index, std::uint32_t blockTime);

// The writer's state besides its settings; a copy is handed out for panels and tests.
struct WavLogState {
  std::filesystem::path filePath;
  std::uint64_t bytesWritten = 0;   // sample bytes in the current file
  std::uint64_t bytesPerFile = 0;   // planned sample bytes, never more than kMaxWavDataBytes
  std::uint64_t bytesInHeader = 0;  // the data size the header on disk announces
  WavHeader header{};               // the current file's header, kept until it closes
  bool fileOpen = false;
};

// What the logging settings panel shows and applies for the WAV log.
struct WavPanelValues {
  std::string folder;
  std::string prefix;
  int minutesPerFile = 1;
  int nextIndex = 1;
  int nameFormat = 0;
  bool enabled = false;
  bool operator==(const WavPanelValues&) const = default;
};

class HyloWav {
 public:
  HyloWav(HyloIni& ini, OperatorPort& op, WavSettings& settings) : ini_(ini), operator_(op), settings_(settings) {}
  ~HyloWav();
  HyloWav(const HyloWav&) = delete;
  HyloWav& operator=(const HyloWav&) = delete;

  // Start-up: defaults into the document when it could not be read, else the stored values.
  void WavLogInit(bool settingsUnreadable);
  void WavLogShutdown();
  bool WavLogIsEnabled() const;
  void WavLogSetEnabled(bool on);
  WavPanelValues WavLogShowSettings() const;
  // Stores the panel's values and turns capture on or off: capture is enabled before the
  // logging thread's state goes on, and the thread's state goes off before capture does.
  void WavLogApplySettings(const WavPanelValues& values, bool on);
  // The folder browse button: the chosen folder, or nothing when the operator cancels.
  std::optional<std::string> FileSelectWavFolder(const std::string& shownFolder);

  // 0 on success; −1 when the block could not be written (or no file could be opened).
  // A failed or short write ends the file at its last whole sample with a true header and
  // stops WAV logging until the next WavLogBegin; the operator and the status line are told.
  int WavLogWrite(const WavBlock& block);
  // Closes the current file with its header true to its content; the next block opens a new one.
  void WavLogClose();
  // The stop of data collection: closes the file, and no block opens another one until
  // WavLogBegin (a block already taken by the logging thread must not start a new file).
  void WavLogStop();
  void WavLogBegin();
  // Header patch and disk sync: the header's sizes follow every block, and the data is
  // synced when `seconds` have passed since the last sync. 0: both only at rollover and close.
  void SetSyncSeconds(double seconds);
  // Files of this many seconds instead of the minutes setting (0: the setting); not stored.
  void SetSecondsPerFile(int seconds);
  std::uint64_t WriteFailures() const;

  void SetHeaderSource(std::function<WavHeaderInfo()> source) { headerSource_ = std::move(source); }
  // The scanning stop procedure, run when a file cannot be opened.
  void SetStopDataCollection(std::function<void()> stop) { stopDataCollection_ = std::move(stop); }
  // The logging thread's WAV state (it writes blocks only while on).
  void SetLogThreadWavState(std::function<void(bool)> set) { setThreadState_ = std::move(set); }
  // Where a write failure is told besides the notice: the status field and job status file.
  void SetStatusLine(std::function<void(std::string_view)> line) { statusLine_ = std::move(line); }

  WavLogState State() const;
  bool FileOpen() const;
  std::filesystem::path FilePath() const;
  std::uint64_t BytesPerFile() const;

 private:
  enum class OpenResult { kOpened, kDisabled, kFailed };
  OpenResult WavLogOpen(const WavBlock& block, std::uint32_t width);
  void CloseFile();
  // The header's sizes to what the file holds; 0 or errno.
  int PatchHeader();
  // Ends the file at its last whole sample and stops logging; the text for the operator.
  std::string WriteFailed(std::uint32_t width, std::size_t partial, int error);
  void SaveSettings();

  HyloIni& ini_;
  OperatorPort& operator_;
  WavSettings& settings_;
  mutable std::recursive_mutex lock_;
  platform::LogFile file_;
  WavLogState state_;
  bool armed_ = true;  // a new file may open
  double syncSeconds_ = 1.0;
  int secondsPerFile_ = 0;
  std::chrono::steady_clock::time_point lastSync_{};
  std::uint64_t writeFailures_ = 0;
  std::function<void(std::string_view)> statusLine_;
  std::function<WavHeaderInfo()> headerSource_;
  std::function<void()> stopDataCollection_;
  std::function<void(bool)> setThreadState_;
};

}  // namespace hylo
