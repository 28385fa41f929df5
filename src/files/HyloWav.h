#pragma once
// WAV logs: one mono PCM RIFF/WAVE file per stretch of minutes, with a fixed 344-byte
// header whose INFO list records the instrument and a calibration comment.
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "link/DeviceIdentity.h"
#include "settings/SettingsGroups.h"

namespace hylo {

class HyloIni;
class OperatorPort;

inline constexpr std::size_t kWavHeaderBytes = 344;
inline constexpr const char* kProgramVersion = "V4.4.0";

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
  std::uint64_t bytesWritten = 0;  // sample bytes in the current file
  std::uint64_t bytesPerFile = 0;  // planned sample bytes, never more than the 32-bit sizes hold
  WavHeader header{};              // the current file's header, kept until it closes
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

// What a reader of one of our files (or any PCM WAV file) needs, with the data size
// clamped to the bytes the file really holds: a writer that died leaves the planned size.
struct WavFileInfo {
  std::uint32_t sampleRate = 0;
  std::uint16_t channels = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint64_t dataOffset = 0;
  std::uint64_t dataBytes = 0;       // clamped to the file, whole samples only
  std::uint32_t announcedBytes = 0;  // what the data chunk claims
};
std::optional<WavFileInfo> ReadWavInfo(const std::filesystem::path& path);

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
  int WavLogWrite(const WavBlock& block);
  void WavLogClose();

  void SetHeaderSource(std::function<WavHeaderInfo()> source) { headerSource_ = std::move(source); }
  // The scanning stop procedure, run when a file cannot be opened.
  void SetStopDataCollection(std::function<void()> stop) { stopDataCollection_ = std::move(stop); }
  // The logging thread's WAV state (it writes blocks only while on).
  void SetLogThreadWavState(std::function<void(bool)> set) { setThreadState_ = std::move(set); }

  WavLogState State() const;
  bool FileOpen() const;
  std::filesystem::path FilePath() const;
  std::uint64_t BytesPerFile() const;

 private:
  enum class OpenResult { kOpened, kDisabled, kFailed };
  OpenResult WavLogOpen(const WavBlock& block, std::uint32_t width);
  void SaveSettings();

  HyloIni& ini_;
  OperatorPort& operator_;
  WavSettings& settings_;
  mutable std::recursive_mutex lock_;
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  WavLogState state_;
  std::function<WavHeaderInfo()> headerSource_;
  std::function<void()> stopDataCollection_;
  std::function<void(bool)> setThreadState_;
};

}  // namespace hylo
