#include "processing/HyloAudio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace hylo {

int AudioDecimation(std::uint32_t sampleRate) {
  return sampleRate <= kAudioMaxOutputRate ? 1 : static_cast<int>(sampleRate / kAudioMaxOutputRate);
}

int AudioShiftFor(const AudioLevelInputs& in) {
  int level = in.referenceLevel + in.colourMapSpan;
  if (in.unit == 3 || in.unit == 8) level += in.sensitivity;
  if (in.unit == 8 || in.unit == 9) level += in.densityCorrection;
  return (-6 - level + 3) / 6;
}

int AudioShiftBits(int audioShift, int gain, int bytesPerSample) {
  return audioShift - (gain + 3) / 6 + (4 - bytesPerSample) * 8;
}

std::int16_t AudioPcm(double filtered, int k) {
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  // A filter's overshoot can pass the 32-bit range: clamp before the conversion.
  std::int64_t v = static_cast<std::int32_t>(std::clamp(std::isfinite(filtered) ? filtered : 0.0, kMin, kMax));
  k = std::clamp(k, -31, 31);
  if (k > 0) {
    const std::int64_t limit = (std::int64_t{0x7FFFFFFF} >> k) - 1;
    if (v > -limit && v < limit)
      v *= std::int64_t{1} << k;
    else
      v = v > 0 ? 0x7FFFFFFF : -0x7FFFFFFF;
  } else if (k < 0) {
    // A right shift cannot overflow: loud samples are scaled down like the rest.
    v >>= -k;
  }
  return static_cast<std::int16_t>(v >> 16);
}

HyloAudio::~HyloAudio() { StopAudio(); }

void HyloAudio::SetDeviceFactory(DeviceFactory factory) {
  std::unique_lock lock(lock_);
  CloseDevice(lock);
  device_.reset();
  factory_ = std::move(factory);
  openFailed_ = false;
}

void HyloAudio::SetReplayPacing(std::function<bool()> replaying, std::function<void()> step) {
  std::lock_guard guard(lock_);
  replaying_ = std::move(replaying);
  replayStep_ = std::move(step);
}

void HyloAudio::SetLossless(bool on) {
  std::lock_guard guard(lock_);
  lossless_ = on;
}

void HyloAudio::Reconfigure(const WaveformRecord& r) {
  accumulator_.clear();
  rate_ = r.sampleRate;
  bytesPerSample_ = r.sampleFormat & 0x7F;
  decimation_ = AudioDecimation(rate_);
  filter_.Design(rate_, choice_);
  filter_.ClearState();
  openFailed_ = false;
  if (rate_ <= kAudioMaxInputRate) accumulator_.reserve(rate_);
}

void HyloAudio::FeedAudio(const WaveformRecord& r) {
  std::unique_lock lock(lock_);
  if (stopping_ || r.sampleRate == 0) return;
  const int bytes = r.sampleFormat & 0x7F;
  if (r.restart || r.sampleRate != rate_ || bytes != bytesPerSample_) {
    CloseDevice(lock);
    Reconfigure(r);
  }
  gain_ = r.gain;
  if (!on_ || rate_ > kAudioMaxInputRate || closing_) return;
  if (!EnsureOpen(lock)) return;
  const std::uint64_t silence = std::min<std::uint64_t>(r.missedSamples, rate_);
  for (std::uint64_t i = 0; i < silence; ++i) AppendLocked(0, lock);
  const std::uint32_t count = std::min<std::uint32_t>(r.sampleCount, kWaveformRecordSamples);
  for (std::uint32_t i = 0; i < count && !stopping_; ++i) AppendLocked(r.samples[i], lock);
  const bool wantMore = inFlight_ < 2 && replaying_ && replayStep_;
  auto replaying = replaying_;
  auto step = replayStep_;
  lock.unlock();
  if (wantMore && replaying()) step();
}

bool HyloAudio::EnsureOpen(std::unique_lock<std::mutex>&) {
  if (deviceOpen_) return true;
  if (openFailed_) return false;
  if (!device_ && factory_) device_ = factory_();
  const int outputRate = static_cast<int>(rate_) / decimation_;
  std::string error = device_ ? device_->Open(outputRate) : std::string("no audio output device");
  if (!error.empty()) {
    openFailed_ = true;
    if (!told_ && notice_)
      notice_("Audio output unavailable: " + error + ". Listening is off; everything else runs on.");
    told_ = true;
    return false;
  }
  deviceOpen_ = true;
  told_ = false;
  if (!playback_.joinable()) playback_ = std::thread([this] { PlaybackLoop(); });
  return true;
}

void HyloAudio::AppendLocked(double value, std::unique_lock<std::mutex>& lock) {
  accumulator_.push_back(value);
  if (accumulator_.size() >= rate_) FlushSecond(lock);
}

void HyloAudio::FlushSecond(std::unique_lock<std::mutex>& lock) {
  if (inFlight_ >= kAudioBuffers && lossless_)
    changed_.wait(lock, [this] { return inFlight_ < kAudioBuffers || stopping_ || !deviceOpen_; });
  if (inFlight_ >= kAudioBuffers || !deviceOpen_) {
    ++dropped_;
    accumulator_.clear();
    return;
  }
  filter_.Process(accumulator_);
  const int k = AudioShiftBits(audioShift_, gain_, bytesPerSample_);
  const int volume = mute_ ? 0 : volume_;
  std::vector<std::int16_t>& buffer = buffers_[writeIndex_];
  buffer.clear();
  const std::size_t n = accumulator_.size() / static_cast<std::size_t>(decimation_);
  for (std::size_t j = 0; j < n; ++j) {
    const int pcm = AudioPcm(accumulator_[j * static_cast<std::size_t>(decimation_)], k);
    buffer.push_back(static_cast<std::int16_t>(pcm * volume / 100));
  }
  writeIndex_ = (writeIndex_ + 1) % kAudioBuffers;
  ++inFlight_;
  accumulator_.clear();
  changed_.notify_all();
}

void HyloAudio::CloseDevice(std::unique_lock<std::mutex>& lock) {
  if (!deviceOpen_) return;
  closing_ = true;
  if (lossless_) {
    changed_.wait(lock, [this] { return inFlight_ == 0 || stopping_; });
  } else {
    // What waits to be played belongs to the old format: drop it, let the one playing end.
    const int queued = inFlight_ - (playing_ ? 1 : 0);
    inFlight_ -= queued;
    writeIndex_ = (doneIndex_ + (playing_ ? 1 : 0)) % kAudioBuffers;
  }
  changed_.wait(lock, [this] { return !playing_; });
  if (stopping_) {
    inFlight_ = 0;
    writeIndex_ = doneIndex_;
  }
  device_->Close();
  deviceOpen_ = false;
  closing_ = false;
  changed_.notify_all();
}

void HyloAudio::PlaybackLoop() {
  std::unique_lock lock(lock_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || (inFlight_ > 0 && deviceOpen_); });
    if (stopping_) break;
    const std::vector<std::int16_t>& buffer = buffers_[doneIndex_];
    AudioDevice* device = device_.get();
    playing_ = true;
    lock.unlock();
    device->Play(buffer);  // a failed buffer is recycled like a played one
    lock.lock();
    playing_ = false;
    doneIndex_ = (doneIndex_ + 1) % kAudioBuffers;
    --inFlight_;
    changed_.notify_all();
  }
}

void HyloAudio::ToggleAudioActive(bool on) {
  std::lock_guard guard(lock_);
  on_ = on;
  accumulator_.clear();
  if (on) {
    filter_.ClearState();
    openFailed_ = false;  // switching on tries the device again
  }
}

void HyloAudio::UpdateAudioLevel(const AudioLevelInputs& in) {
  std::lock_guard guard(lock_);
  audioShift_ = AudioShiftFor(in);
}

void HyloAudio::SetFilterChoice(AudioFilter::Choice choice) {
  std::lock_guard guard(lock_);
  choice_ = choice;
  if (rate_ > 0) filter_.Design(rate_, choice_);  // starts from a cleared state
}

AudioFilter::Kind HyloAudio::FilterKind() const {
  std::lock_guard guard(lock_);
  return filter_.Type();
}

void HyloAudio::SetVolume(int percent) {
  std::lock_guard guard(lock_);
  volume_ = std::clamp(percent, 0, 100);
}

void HyloAudio::SetMute(bool on) {
  std::lock_guard guard(lock_);
  mute_ = on;
}

bool HyloAudio::Flush(int timeoutMs) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return (inFlight_ == 0 && !playing_) || !deviceOpen_; });
}

void HyloAudio::StopAudio() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (playback_.joinable()) playback_.join();
  std::unique_lock lock(lock_);
  CloseDevice(lock);
}

bool HyloAudio::AudioOn() const {
  std::lock_guard guard(lock_);
  return on_;
}

bool HyloAudio::Available() const {
  std::lock_guard guard(lock_);
  return rate_ <= kAudioMaxInputRate;
}

int HyloAudio::Decimation() const {
  std::lock_guard guard(lock_);
  return decimation_;
}

int HyloAudio::AudioShift() const {
  std::lock_guard guard(lock_);
  return audioShift_;
}

int HyloAudio::OutputRate() const {
  std::lock_guard guard(lock_);
  return decimation_ > 0 ? static_cast<int>(rate_) / decimation_ : 0;
}

int HyloAudio::InFlight() const {
  std::lock_guard guard(lock_);
  return inFlight_;
}

std::uint64_t HyloAudio::DroppedSeconds() const {
  std::lock_guard guard(lock_);
  return dropped_;
}

}  // namespace hylo
