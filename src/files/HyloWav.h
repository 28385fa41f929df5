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
#include <span>
#include <string>

#include "files/SettingsGroups.h"
#include "link/DeviceIdentity.h"

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

  // 0 on success; −1 when the block could not be written (or no file could be opened).
  int WavLogWrite(const WavBlock& block);
  void WavLogClose();

  void SetHeaderSource(std::function<WavHeaderInfo()> source) { headerSource_ = std::move(source); }
  // The scanning stop procedure, run when a file cannot be opened.
  void SetStopDataCollection(std::function<void()> stop) { stopDataCollection_ = std::move(stop); }

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
  std::filesystem::path filePath_;
  std::uint64_t bytesWritten_ = 0;
  std::uint64_t bytesPerFile_ = 0;
  WavHeader header_{};
  std::function<WavHeaderInfo()> headerSource_;
  std::function<void()> stopDataCollection_;
};

}  // namespace hylo
