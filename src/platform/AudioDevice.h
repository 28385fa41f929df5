#pragma once
// Where listening ends: anything that plays 16-bit mono PCM one buffer at a time (the sound
// card through PortAudio, a WAV file, a test's recorder).
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace hylo {

class AudioDevice {
 public:
  virtual ~AudioDevice() = default;
  // Empty on success, else the reason in words.
  virtual std::string Open(int sampleRate) = 0;
  // Returns once the device has taken the buffer (a sound card paces the caller this way).
  virtual std::string Play(std::span<const std::int16_t> samples) = 0;
  virtual void Close() = 0;
};

// The default sound output through PortAudio.
std::unique_ptr<AudioDevice> MakeSoundCardDevice();

}  // namespace hylo
