#include "processing/HyloTrigger.h"

#include <algorithm>
#include <cstring>

#include "core/Post.h"
#include "core/TextMessage.h"

namespace hylo {

HyloTrigger::HyloTrigger(HyloNodes& nodes)
    : fftRing_(kFftRingRecords), fftTriggerTime_(kFftRingRecords), waveRing_(kWaveRingSamples), nodes_(nodes) {}

bool HyloTrigger::Handle(MessageNode& node) {
  if (node.type == MSG_SPECTRUM) ForwardSpectrum(node.As<SpectrumRecord>());
  if (node.type == MSG_WAVEFORM) ForwardWaveform(node.As<WaveformRecord>());
  if (node.type == MSG_TRIGGER_CONFIG) {
    hostTriggers_.Configure(std::span(reinterpret_cast<const std::uint8_t*>(node.payload), kEpochRecordBytes));
  }
  if (node.type == MSG_RESET_COUNTER) {
    const auto period = node.As<std::uint32_t>();
    hostTriggers_.ResetCounting(period);
    if (context_.countPeriodChanged) context_.countPeriodChanged(period);
  }
  if (node.type == MSG_REPLAY_FILE) {
    const char* name = reinterpret_cast<const char*>(node.payload);
    replayName_.assign(name, strnlen(name, kReplayNameBytes));
  }
  if (node.type == MSG_WAVE_TAIL) {
    // On to LogThread in every case: it closes the logs after writing the tail.
    TakeWaveTail(node);
    return context_.postLog && context_.postLog(&node) == 1;
  }
  return false;  // the loop frees the node (and any buffer it carries)
}

void HyloTrigger::AdoptFftParameters(const SpectrumRecord& r) {
  fftRate_ = r.sampleRate;
  samplesPerRecord_ = static_cast<std::uint64_t>(r.accumulation) * r.fftStep;
  if (r.fftType != 6 && r.fftLength > r.fftStep) samplesPerRecord_ += r.fftLength - r.fftStep;
  hostTriggers_.SetFftParameters({r.fftLength, r.accumulation, r.fftStep, r.fftType, r.weight, r.sampleRate});
}

void HyloTrigger::EvaluateTriggers(const SpectrumRecord& r, std::uint32_t t) {
  if (context_.sensitivity) hostTriggers_.SetSensitivity(context_.sensitivity());
  triggerOut_.Clear();
  hostTriggers_.Evaluate(r, t, replayName_, triggerOut_);
  for (const auto& line : triggerOut_.lines) PostText(line);
  if (context_.eventFired) {
    for (const auto& event : triggerOut_.fired) context_.eventFired(event);
  }
  if (triggerOut_.changed) {
    PostTo(nodes_, context_.postDisplay, MSG_STATUS_LEDS, [&](MessageNode& node) {
      // Six state bytes and a 32-bit group selector: 1 is the host's row.
      std::memset(node.payload, 0, 12);
      std::memcpy(node.payload, triggerOut_.states.data(), triggerOut_.states.size());
      const std::uint32_t host = 1;
      std::memcpy(node.payload + 8, &host, 4);
    });
  }
}

void HyloTrigger::PostText(const std::string& line) {
  auto fill = [&](MessageNode& node) { FillTextMessage(node, 1, line); };
  PostTo(nodes_, context_.postDisplay, MSG_TEXT, fill);
  PostTo(nodes_, context_.postLog, MSG_TEXT, fill);
}

void HyloTrigger::ForwardSpectrum(const SpectrumRecord& r) {
  if (r.restart || r.missedRecords) {
    AdoptFftParameters(r);
    fftPendingRestart_ = fftPendingRestart_ || r.restart;
    fftResync_ = true;
  }
  if (fftResync_) {
    if (!r.startsSecond) {
      fftDropped_ += r.missedRecords + 1;
      return;
    }
    fftResync_ = false;
    fftPending_ = 0;
    fftForwarded_ = false;
    remainder_ = fftRate_ ? static_cast<std::uint32_t>(r.firstSample % fftRate_) : 0;
  }
  SpectrumRecord& stored = fftRing_[fftWrite_];
  stored = r;
  stored.missedRecords += fftDropped_;
  fftDropped_ = 0;
  if (fftRate_ != 0) {
    const std::uint64_t ahead = remainder_ + samplesPerRecord_;
    fftTriggerTime_[fftWrite_] = r.timeStamp + static_cast<std::uint32_t>(ahead / fftRate_);
    remainder_ = static_cast<std::uint32_t>(ahead % fftRate_);
  } else {
    fftTriggerTime_[fftWrite_] = r.timeStamp;
  }
  EvaluateTriggers(r, fftTriggerTime_[fftWrite_]);
  fftWrite_ = (fftWrite_ + 1) % kFftRingRecords;
  if (++fftPending_ > kFftRingRecords) {
    fftPending_ = kFftRingRecords;
    while (fftPending_ > 0 && !fftRing_[OldestFft()].startsSecond) --fftPending_;
  }
  ForwardOneSpectrum();
}

void HyloTrigger::ForwardOneSpectrum() {
  if (fftPending_ == 0) return;
  const std::size_t newest = (fftWrite_ + kFftRingRecords - 1) % kFftRingRecords;
  const std::uint32_t forwardTime = fftForwarded_ ? fftRing_[OldestFft()].timeStamp : fftRing_[newest].timeStamp;
  if (fftTriggerTime_[newest] < forwardTime) {
    fftResync_ = true;
    return;
  }
  while (fftPending_ > 0 && fftRing_[OldestFft()].timeStamp < forwardTime) --fftPending_;
  if (fftPending_ == 0) return;
  const SpectrumRecord& oldest = fftRing_[OldestFft()];
  bool allocated = false;
  const bool queued = PostTo(nodes_, context_.postDisplay, MSG_SPECTRUM, [&](MessageNode& node) {
    allocated = true;
    auto& copy = node.As<SpectrumRecord>();
    copy = oldest;
    copy.restart = fftPendingRestart_ ? 1 : 0;
    copy.missedRecords += fftForwardDropped_;
  });
  if (queued) {
    fftPendingRestart_ = false;
    fftForwardDropped_ = 0;
  } else if (!allocated) {
    fftForwardDropped_ += oldest.missedRecords + 1;
  }
  --fftPending_;
  fftForwarded_ = true;
}

void HyloTrigger::ForwardWaveform(const WaveformRecord& r) {
  const std::uint32_t count = std::min<std::uint32_t>(r.sampleCount, kWaveformRecordSamples);
  if (r.sampleRate == 0 || count == 0) return;
  if (r.late) {
    // A reordered datagram goes to its own place while its second is still in the ring.
    const std::uint64_t end = oldestIndex_ + wavePending_;
    if (r.late == 1 && haveTemplate_ && !waveResync_ && r.sampleFormat == waveTemplate_.sampleFormat &&
        r.firstSample >= oldestIndex_ && r.firstSample + count <= end) {
      const std::size_t at = waveRead_ + static_cast<std::size_t>(r.firstSample - oldestIndex_);
      for (std::uint32_t i = 0; i < count; ++i) waveRing_[(at + i) % kWaveRingSamples] = r.samples[i];
      samplesFilled_ -= std::min<std::uint64_t>(samplesFilled_, count);
    }
    return;
  }
  const std::uint64_t gap = FillableGap(r);
  if (gap > 0) {
    // A short loss keeps the sample clock: the lost samples are logged as silence, so a
    // recording with the odd lost datagram still has whole seconds at their true times.
    for (std::uint64_t i = 0; i < gap; ++i) {
      waveRing_[(waveRead_ + wavePending_) % kWaveRingSamples] = 0;
      ++wavePending_;
    }
    samplesFilled_ += gap;
  } else if (r.missedSamples || r.restart || !haveTemplate_) {
    if (haveTemplate_ && !waveResync_) ForwardWaveBlocks(true);  // whole seconds held back go on
    waveTemplate_ = r;
    waveTemplate_.sampleBuffer = nullptr;
    haveTemplate_ = true;
    waveResync_ = true;
    pendingNewParameters_ = true;
  }
  const std::uint32_t rate = waveTemplate_.sampleRate;
  std::uint32_t skip = 0;
  if (waveResync_) {
    // The ring starts at the first sample of a whole second of the sample clock.
    const std::uint64_t position = r.firstSample % rate;
    if (position != 0 && position + count <= rate) {
      samplesDiscarded_ += count;
      return;
    }
    skip = position == 0 ? 0 : static_cast<std::uint32_t>(rate - position);
    samplesDiscarded_ += skip;
    waveRead_ = 0;
    wavePending_ = 0;
    oldestIndex_ = r.firstSample + skip;
    oldestSecond_ = r.timeStamp + (skip > 0 ? 1 : 0);
    waveResync_ = false;
    waveForwarded_ = false;
  }
  if (skip < count) {
    // In at most two runs: a record (≤ 1000 samples) wraps the ring at most once.
    const std::size_t n = count - skip;
    const std::size_t at = (waveRead_ + wavePending_) % kWaveRingSamples;
    const std::size_t first = std::min(n, kWaveRingSamples - at);
    std::copy_n(r.samples + skip, first, waveRing_.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy_n(r.samples + skip + first, n - first, waveRing_.begin());
    wavePending_ += n;
  }
  if (wavePending_ > kWaveRingSamples) {
    // Too far behind: drop the oldest whole seconds.
    const std::size_t excess = wavePending_ - kWaveRingSamples;
    const std::size_t seconds = (excess + rate - 1) / rate;
    const std::size_t drop = std::min(wavePending_, seconds * rate);
    waveRead_ = (waveRead_ + drop) % kWaveRingSamples;
    wavePending_ -= drop;
    oldestIndex_ += drop;
    oldestSecond_ += static_cast<std::uint32_t>(seconds);
    samplesDiscarded_ += drop;
  }
  ForwardWaveBlocks();
}

std::uint64_t HyloTrigger::FillableGap(const WaveformRecord& r) const {
  if (!haveTemplate_ || waveResync_ || r.restart || r.missedSamples == 0) return 0;
  if (r.sampleRate != waveTemplate_.sampleRate || r.sampleFormat != waveTemplate_.sampleFormat) return 0;
  const std::uint64_t end = oldestIndex_ + wavePending_;
  if (r.firstSample <= end) return 0;
  const std::uint64_t gap = r.firstSample - end;
  return gap <= r.sampleRate / kFillableGapDivisor ? gap : 0;
}

void HyloTrigger::ForwardWaveBlocks(bool flush) {
  const std::size_t rate = waveTemplate_.sampleRate;
  if (!waveForwarded_) {
    // First block after a resync: start at the newest complete second, not a backlog.
    while (wavePending_ >= 2 * rate) {
      waveRead_ = (waveRead_ + rate) % kWaveRingSamples;
      wavePending_ -= rate;
      oldestIndex_ += rate;
      ++oldestSecond_;
      samplesDiscarded_ += rate;
    }
  }
  const std::size_t block = std::min(rate, kWaveBlockMaxSamples);
  // A second goes on only when a quarter second past it has arrived, so a reordered datagram
  // still finds its place (where the stop's tail buffer can hold that much).
  const bool replaying = context_.replayingFile && context_.replayingFile();
  const std::size_t hold =
      flush || replaying || block < rate ? 0 : std::min(rate / kFillableGapDivisor, kWaveBlockMaxSamples - rate);
  while (wavePending_ >= rate + hold) {
    if (!PostBlock(block)) return;
    if (block < rate) {  // a second larger than a buffer: the rest of it is not carried
      waveRead_ = (waveRead_ + (rate - block)) % kWaveRingSamples;
      wavePending_ -= rate - block;
      samplesDiscarded_ += rate - block;
    }
    oldestIndex_ += rate;
    ++oldestSecond_;
    waveForwarded_ = true;
  }
}

void HyloTrigger::StartBlock(WaveformRecord& rec, SampleBuffer* buffer, std::size_t samples) const {
  std::memcpy(static_cast<void*>(&rec), &waveTemplate_, offsetof(WaveformRecord, samples));
  rec.sampleBuffer = buffer;
  rec.sampleCount = static_cast<std::uint32_t>(samples);
  rec.firstSample = oldestIndex_;
  rec.timeStamp = oldestSecond_;
  rec.blockOffset = 0;
  rec.missedSamples = 0;
  rec.restart = pendingNewParameters_ ? 1 : 0;
  rec.late = 0;
}

void HyloTrigger::TakeWaveTail(MessageNode& tail) {
  auto& rec = tail.As<WaveformRecord>();
  rec.sampleBuffer = nullptr;
  rec.sampleCount = 0;
  const bool replaying = context_.replayingFile && context_.replayingFile();
  const std::size_t samples = std::min(wavePending_, kWaveBlockMaxSamples);
  if (haveTemplate_ && !waveResync_ && samples > 0 && !replaying) {
    if (SampleBuffer* buffer = nodes_.AcquireSampleBuffer()) {
      StartBlock(rec, buffer, samples);
      const std::size_t width = std::clamp<std::size_t>(waveTemplate_.sampleFormat & 0x7F, 1, 4);
      auto* packed = reinterpret_cast<std::uint8_t*>(buffer->data);
      for (std::size_t i = 0; i < samples; ++i) {
        const auto v = static_cast<std::uint32_t>(waveRing_[(waveRead_ + i) % kWaveRingSamples]);
        for (std::size_t b = 0; b < width; ++b) *packed++ = static_cast<std::uint8_t>(v >> (8 * b));
      }
    }
  }
  // The next start begins at a whole second again.
  wavePending_ = 0;
  waveResync_ = true;
}

bool HyloTrigger::PostBlock(std::size_t samples) {
  // A whole-second record around a sample buffer; false when no buffer is free.
  auto fillRecord = [&](MessageNode& node) {
    SampleBuffer* buffer = nodes_.AcquireSampleBuffer();
    if (!buffer) return false;
    StartBlock(node.As<WaveformRecord>(), buffer, samples);
    return true;
  };
  const bool replaying = context_.replayingFile && context_.replayingFile();
  bool made = false;
  PostTo(nodes_, context_.postDisplay, MSG_WAVEFORM, [&](MessageNode& display) {
    if (!fillRecord(display)) return false;
    made = true;
    auto* out = reinterpret_cast<std::int32_t*>(WaveformSampleBuffer(display)->data);
    const std::size_t first = std::min(samples, kWaveRingSamples - waveRead_);
    const auto read = waveRing_.begin() + static_cast<std::ptrdiff_t>(waveRead_);
    std::copy_n(read, first, out);
    std::copy_n(waveRing_.begin(), samples - first, out + first);
    // The log copy goes first, while the display block is still ours to read.
    if (!replaying && context_.postLog) {
      PostTo(nodes_, context_.postLog, MSG_WAVEFORM, [&](MessageNode& log) {
        if (!fillRecord(log)) return false;
        // The WAV log stores each sample's low bytes, little-endian, at the record's width.
        const std::size_t width = std::clamp<std::size_t>(waveTemplate_.sampleFormat & 0x7F, 1, 4);
        auto* packed = reinterpret_cast<std::uint8_t*>(WaveformSampleBuffer(log)->data);
        for (std::size_t i = 0; i < samples; ++i) {
          const auto v = static_cast<std::uint32_t>(out[i]);
          for (std::size_t b = 0; b < width; ++b) *packed++ = static_cast<std::uint8_t>(v >> (8 * b));
        }
        return true;
      });
    }
    return true;
  });
  if (!made) return false;
  WaveformRecord header{};
  StartBlock(header, nullptr, samples);
  FindImpulses(header);
  pendingNewParameters_ = false;
  waveRead_ = (waveRead_ + samples) % kWaveRingSamples;
  wavePending_ -= samples;
  return true;
}

void HyloTrigger::SetImpulseDetection(bool enabled, const ImpulseCandidateSettings& settings) {
  std::lock_guard guard(impulseLock_);
  impulseEnabled_ = enabled;
  impulseSettings_ = settings;
}

void HyloTrigger::FindImpulses(const WaveformRecord& block) {
  ImpulseCandidateSettings settings;
  {
    std::lock_guard guard(impulseLock_);
    if (!impulseEnabled_) return;
    settings = impulseSettings_;
  }
  if (!context_.postImpulse) return;
  blockSamples_.resize(block.sampleCount);
  for (std::size_t i = 0; i < block.sampleCount; ++i) blockSamples_[i] = waveRing_[(waveRead_ + i) % kWaveRingSamples];
  WaveBlockInfo info;
  info.timeStamp = block.timeStamp;
  info.sampleRate = block.sampleRate;
  info.firstSample = block.firstSample;
  info.voltsPerCount = block.voltsPerCount;
  info.rangeVolts = block.rangeVolts;
  info.bitsPerSample = 8 * std::clamp(block.sampleFormat & 0x7F, 1, 4);
  const double sensitivity = context_.sensitivity ? context_.sensitivity() : 0;
  for (const ImpulseCut& cut : candidates_.Find(info, blockSamples_, settings)) {
    const bool posted = PostTo(nodes_, context_.postImpulse, MSG_IMPULSE, [&](MessageNode& node) {
      candidates_.FillRecord(cut, info, sensitivity, node.As<ImpulseRecord>());
    });
    if (!posted) break;  // no node free: the rest of this block is not taken
    ++impulsesPosted_;
  }
}

}  // namespace hylo
