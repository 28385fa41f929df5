#pragma once
// Listening: every waveform record is filtered, scaled to the loudness the display settings
// imply, decimated to at most 64 000 samples/s and queued as one-second 16-bit mono buffers
// on an AudioDevice; a playback thread hands them to the device and recycles them.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AudioDevice.h"
#include "processing/AudioFilter.h"
#include "stream/Records.h"

namespace hylo {

inline constexpr std::uint32_t kAudioMaxOutputRate = 64000;
inline constexpr std::uint32_t kAudioMaxInputRate = 512000;
inline constexpr int kAudioBuffers = 10;

// 1 up to 64 000 samples/s, else rate / 64 000.
int AudioDecimation(std::uint32_t sampleRate);

// What the loudness follows: the display's reference level and colour-map span, and the unit.
struct AudioLevelInputs {
  int referenceLevel = 50;
  int colourMapSpan = 100;
  int unit = 3;
  int sensitivity = -171;
  int densityCorrection = 0;
};
// `audioShift`: the loudness in 6 dB steps.
int AudioShiftFor(const AudioLevelInputs& in);
// The left shift (negative: right) that brings a sample of `bytesPerSample` at `gain` dB to
// the top of 32 bits.
int AudioShiftBits(int audioShift, int gain, int bytesPerSample);
// One sample, shifted by `k` with saturation, as its high 16 bits.
std::int16_t AudioPcm(double filtered, int k);

class HyloAudio {
 public:
  using DeviceFactory = std::function<std::unique_ptr<AudioDevice>()>;
  explicit HyloAudio(DeviceFactory factory = MakeSoundCardDevice) : factory_(std::move(factory)) {}
  ~HyloAudio();
  HyloAudio(const HyloAudio&) = delete;
  HyloAudio& operator=(const HyloAudio&) = delete;

  void SetDeviceFactory(DeviceFactory factory);
  // Told once when the device cannot be opened while audio is on (then again only after a
  // successful open).
  void SetNotice(std::function<void(const std::string&)> notice) { notice_ = std::move(notice); }
  // Replay pacing: while `replaying` says so, a record that leaves fewer than 2 buffers in
  // flight asks the replay for more at once.
  void SetReplayPacing(std::function<bool()> replaying, std::function<void()> step);
  // A file device takes every second: wait for a free buffer instead of dropping the second.
  void SetLossless(bool on);

  // WaveThread, for every waveform record.
  void FeedAudio(const WaveformRecord& record);
  void ToggleAudioActive(bool on);
  void UpdateAudioLevel(const AudioLevelInputs& in);
  void SetFilterChoice(AudioFilter::Choice choice);
  AudioFilter::Kind FilterKind() const;
  // 0..100 %, and mute; applied to the PCM.
  void SetVolume(int percent);
  void SetMute(bool on);
  // Waits until every queued buffer was taken by the device (up to `timeoutMs`).
  bool Flush(int timeoutMs);
  // Ends playback: queued buffers are dropped, the device closed, the thread joined.
  void StopAudio();

  bool AudioOn() const;
  // False while the waveform rate is above what can be played.
  bool Available() const;
  int Decimation() const;
  int AudioShift() const;
  int OutputRate() const;
  int InFlight() const;
  std::uint64_t DroppedSeconds() const;

 private:
  void Reconfigure(const WaveformRecord& r);
  bool EnsureOpen(std::unique_lock<std::mutex>& lock);
  void AppendLocked(double value, std::unique_lock<std::mutex>& lock);
  void FlushSecond(std::unique_lock<std::mutex>& lock);
  void CloseDevice(std::unique_lock<std::mutex>& lock);
  void PlaybackLoop();

  DeviceFactory factory_;
  std::function<void(const std::string&)> notice_;
  std::function<bool()> replaying_;
  std::function<void()> replayStep_;

  mutable std::mutex lock_;  // the audio lock
  std::condition_variable changed_;
  std::unique_ptr<AudioDevice> device_;
  bool deviceOpen_ = false;
  bool openFailed_ = false;
  bool told_ = false;
  bool on_ = false;
  bool lossless_ = false;
  bool closing_ = false;
  bool stopping_ = false;
  bool playing_ = false;  // the playback thread is inside Play
  std::uint32_t rate_ = 0;
  int bytesPerSample_ = 0;
  int gain_ = 0;
  int decimation_ = 1;
  int audioShift_ = 0;
  int volume_ = 100;
  bool mute_ = false;
  AudioFilter filter_;
  AudioFilter::Choice choice_ = AudioFilter::Choice::kAuto;
  std::vector<double> accumulator_;
  std::vector<std::int16_t> buffers_[kAudioBuffers];
  int writeIndex_ = 0;
  int doneIndex_ = 0;
  int inFlight_ = 0;
  std::uint64_t dropped_ = 0;
  std::thread playback_;
};

}  // namespace hylo
