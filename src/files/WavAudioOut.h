#pragma once
// What the speaker would play, into 16-bit mono WAV files: the first at the given path, and
// after a change of output rate the next at "<name>_2.wav", "_3" … (a WAV has one rate).
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/AudioDevice.h"
#include "platform/LogFile.h"

namespace hylo {

// The files written and their lengths; shared by every device a factory hands out.
struct WavAudioLog {
  std::mutex lock;
  std::vector<std::filesystem::path> files;
  std::uint64_t samples = 0;
  std::string error;  // the first write failure
};

// The canonical 44-byte header for `dataBytes` of 16-bit mono PCM at `rate`.
std::vector<std::uint8_t> PcmWavHeader(int rate, std::uint32_t dataBytes);

class WavAudioOut final : public AudioDevice {
 public:
  WavAudioOut(std::filesystem::path path, std::shared_ptr<WavAudioLog> log)
      : path_(std::move(path)), log_(std::move(log)) {}
  std::string Open(int sampleRate) override;
  std::string Play(std::span<const std::int16_t> samples) override;
  void Close() override;

 private:
  std::filesystem::path NextPath() const;
  std::filesystem::path path_;
  std::shared_ptr<WavAudioLog> log_;
  platform::LogFile file_;
  int rate_ = 0;
  std::uint32_t dataBytes_ = 0;
};

}  // namespace hylo
