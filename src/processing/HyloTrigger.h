#pragma once
// TriggerThread's forwarding jobs: spectra to the displays in order after a restart, and
// waveform samples through a ring into whole-second blocks for the displays and the WAV log.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/Worker.h"
#include "processing/HostTriggers.h"
#include "processing/ImpulseDsp.h"
#include "stream/Records.h"

namespace hylo {

inline constexpr std::size_t kFftRingRecords = 130;
inline constexpr std::size_t kWaveRingSamples = 1536000;  // 6,144,000 bytes of 4-byte samples
inline constexpr std::size_t kWaveBlockMaxSamples = kSampleBufferBytes / 4;
inline constexpr std::uint32_t kFillableGapDivisor = 4;  // gaps up to rate / 4 are filled

class HyloTrigger final : public Worker {
 public:
  struct Context {
    std::function<int(MessageNode*)> postDisplay;  // 1 when taken
    std::function<int(MessageNode*)> postLog;
    std::function<bool()> replayingFile;                    // no WAV copies of replayed files
    std::function<int()> sensitivity;                       // dB re 1 V/uPa
    std::function<void(std::uint32_t)> countPeriodChanged;  // MSG_RESET_COUNTER took a period
    std::function<void(const FiredEvent&)> eventFired;      // each host event, on this thread
    std::function<int(MessageNode*)> postImpulse;           // impulse candidates (type 34)
  };

  explicit HyloTrigger(HyloNodes& nodes);
  void SetContext(Context context) { context_ = std::move(context); }
  Context& MutableContext() { return context_; }  // before the thread runs

  bool Handle(MessageNode& node) override;
  void ForwardSpectrum(const SpectrumRecord& record);
  void ForwardWaveform(const WaveformRecord& record);
  // At Stop: fills `tail` (a MSG_WAVE_TAIL node) with the samples of the partial second in
  // the ring, packed for the WAV log (none when there are none), and empties the ring.
  void TakeWaveTail(MessageNode& tail);

  const HostTriggers& Triggers() const { return hostTriggers_; }
  // Only before TriggerThread runs (`TriggerInit`); afterwards triggers change by messages.
  HostTriggers& TriggersBeforeStart() { return hostTriggers_; }

  // Impulse detection on every forwarded block; safe from any thread.
  void SetImpulseDetection(bool enabled, const ImpulseCandidateSettings& settings);
  std::uint64_t ImpulseCandidatesPosted() const { return impulsesPosted_.load(); }

  std::uint64_t SamplesDiscarded() const { return samplesDiscarded_; }
  // Lost samples written into the ring as zeros (gaps up to a quarter second).
  std::uint64_t SamplesFilled() const { return samplesFilled_; }

 private:
  std::string replayName_;  // the replayed file the current records come from
  void EvaluateTriggers(const SpectrumRecord& r, std::uint32_t t);
  void PostText(const std::string& line);
  HostTriggers hostTriggers_;
  TriggerOutput triggerOut_;

  // FFT forwarding ring.
  void AdoptFftParameters(const SpectrumRecord& r);
  void ForwardOneSpectrum();
  std::vector<SpectrumRecord> fftRing_;
  std::vector<std::uint32_t> fftTriggerTime_;
  std::size_t fftWrite_ = 0;
  std::size_t fftPending_ = 0;
  bool fftForwarded_ = false;
  bool fftResync_ = true;
  bool fftPendingRestart_ = false;
  std::uint64_t fftDropped_ = 0;
  std::uint64_t fftForwardDropped_ = 0;
  std::uint32_t remainder_ = 0;
  std::uint32_t fftRate_ = 512000;
  std::uint64_t samplesPerRecord_ = 16 * 512 + (1024 - 512);
  std::size_t OldestFft() const { return (fftWrite_ + kFftRingRecords - fftPending_) % kFftRingRecords; }

  // Wave ring.
  // `flush`: every whole second goes on now, none held back for late datagrams.
  void ForwardWaveBlocks(bool flush = false);
  // The samples lost just before `r` when they can be filled in; 0 when the ring resyncs.
  std::uint64_t FillableGap(const WaveformRecord& r) const;
  bool PostBlock(std::size_t samples);
  // The header of a block of the oldest whole second in the ring, around `buffer`.
  void StartBlock(WaveformRecord& rec, SampleBuffer* buffer, std::size_t samples) const;
  std::vector<std::int32_t> waveRing_;
  WaveformRecord waveTemplate_{};
  bool haveTemplate_ = false;
  std::size_t waveRead_ = 0;
  std::size_t wavePending_ = 0;
  std::uint64_t oldestIndex_ = 0;
  std::uint32_t oldestSecond_ = 0;
  bool waveResync_ = true;
  bool waveForwarded_ = false;
  bool pendingNewParameters_ = false;
  std::uint64_t samplesDiscarded_ = 0;
  std::uint64_t samplesFilled_ = 0;

  // Impulse candidate stage.
  void FindImpulses(const WaveformRecord& block);
  mutable std::mutex impulseLock_;
  bool impulseEnabled_ = false;               // under impulseLock_
  ImpulseCandidateSettings impulseSettings_;  // under impulseLock_
  ImpulseCandidates candidates_;
  std::vector<std::int32_t> blockSamples_;
  std::atomic<std::uint64_t> impulsesPosted_{0};

  HyloNodes& nodes_;
  Context context_;
};

}  // namespace hylo
