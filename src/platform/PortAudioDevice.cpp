// PortAudio in blocking mode: Play hands a buffer to the stream and returns once it is taken.
#include <portaudio.h>

#include <mutex>

#include "platform/AudioDevice.h"

namespace hylo {
namespace {

class PortAudioDevice final : public AudioDevice {
 public:
  ~PortAudioDevice() override { Close(); }

  std::string Open(int sampleRate) override {
    Close();
    if (const PaError e = Pa_Initialize(); e != paNoError) return Pa_GetErrorText(e);
    initialised_ = true;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) {
      Close();
      return "no audio output device";
    }
    PaStreamParameters out{};
    out.device = device;
    out.channelCount = 1;
    out.sampleFormat = paInt16;
    out.suggestedLatency = Pa_GetDeviceInfo(device)->defaultHighOutputLatency;
    PaError e =
        Pa_OpenStream(&stream_, nullptr, &out, sampleRate, paFramesPerBufferUnspecified, paNoFlag, nullptr, nullptr);
    if (e == paNoError) e = Pa_StartStream(stream_);
    if (e != paNoError) {
      std::string reason = Pa_GetErrorText(e);
      Close();
      return reason;
    }
    return {};
  }

  std::string Play(std::span<const std::int16_t> samples) override {
    if (!stream_) return "audio output not open";
    const PaError e = Pa_WriteStream(stream_, samples.data(), static_cast<unsigned long>(samples.size()));
    // An underflow only means the card waited for us; the buffer was still taken.
    if (e != paNoError && e != paOutputUnderflowed) return Pa_GetErrorText(e);
    return {};
  }

  void Close() override {
    if (stream_) {
      Pa_StopStream(stream_);  // lets what was written play out
      Pa_CloseStream(stream_);
      stream_ = nullptr;
    }
    if (initialised_) Pa_Terminate();
    initialised_ = false;
  }

 private:
  PaStream* stream_ = nullptr;
  bool initialised_ = false;
};

}  // namespace

std::unique_ptr<AudioDevice> MakeSoundCardDevice() { return std::make_unique<PortAudioDevice>(); }

}  // namespace hylo
