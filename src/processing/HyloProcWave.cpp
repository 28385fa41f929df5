#include "processing/HyloProcWave.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/Post.h"
#include "core/StreamTransport.h"

namespace hylo {
namespace {
constexpr double kScanIntervals[] = {1,        0.5,       0.25,       0.125,       0.0625, 0.03125,
                                     0.015625, 0.0078125, 0.00390625, 0.001953125, 0.001};
}  // namespace

BlockStats ComputeBlockStats(std::span<const std::int32_t> x) {
  BlockStats s;
  const auto n = static_cast<std::int64_t>(x.size());
  if (n == 0) return s;
  std::int64_t sum = 0;
  __int128 sumSquares = 0;  // 1000 full-scale 32-bit samples pass 2^63
  std::int32_t lo = x[0], hi = x[0];
  for (std::int32_t v : x) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // Samples below 2^26 in size (every 24-bit one) keep the sum of a record's squares inside
  // 64 bits, so it stays exact in a loop the compiler vectorises; larger ones take 128 bits.
  constexpr std::int32_t kNarrow = 1 << 26;
  if (lo > -kNarrow && hi < kNarrow && x.size() <= 2048) {
    std::int64_t squares = 0;
    for (std::int32_t v : x) {
      sum += v;
      squares += static_cast<std::int64_t>(v) * v;
    }
    sumSquares = squares;
  } else {
    for (std::int32_t v : x) {
      sum += v;
      sumSquares += static_cast<__int128>(v) * v;
    }
  }
  s.mean = sum >= 0 ? (sum + n / 2) / n : (sum - n / 2) / n;
  s.peakToPeak = static_cast<std::int64_t>(hi) - lo;
  if (n >= 2) {
    const long double ls = static_cast<long double>(sum);
    const long double variance = (static_cast<long double>(sumSquares) - ls * ls / n) / (n - 1);
    s.standardDeviation = variance > 0 ? static_cast<double>(std::sqrt(variance)) : 0.0;
  }
  s.zeroToPeak = static_cast<double>(std::max<std::int64_t>(hi - s.mean, s.mean - lo));
  s.energyDb = sumSquares > 0 ? 10.0 * std::log10(static_cast<double>(sumSquares)) : 0.0;
  return s;
}

std::uint64_t IndexGap(std::uint64_t n, std::uint64_t e) {
  if (e == 0 || n == e) return 0;
  if (n > e) return n - e;
  // A counter wrap; one that would come out negative is no wrap at all.
  std::uint64_t wrap = 0;
  if (e >= (1ULL << 32)) {
    wrap = (1ULL << 32) - 1;
  } else if (e >= 65536 && e < (1ULL << 32) - 1) {
    wrap = 65535;
  } else {
    return 0;
  }
  return n + wrap >= e ? n + wrap - e : 0;
}

double SnapScanInterval(double t) {
  for (double interval : kScanIntervals) {
    if (interval <= t) return interval;
  }
  return t;
}

HyloProcWave::HyloProcWave(HyloNodes& nodes) : nodes_(nodes), fft_(std::make_unique<platform::RealFft>(1024)) {
  for (std::size_t i = 0; i < window_.size(); ++i) {
    window_[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / 1024.0);
  }
}

void HyloProcWave::Reset() {
  ClearHostFft();
  expectedIndex_ = 0;
  gaps_ = {};
  framesPerRecord_ = 0;
  smoothedStd_ = 0;
  maxPeakToPeak_ = 0;
  haveFormat_ = false;
}

void HyloProcWave::ClearHostFft() {
  frameFill_ = 0;
  power_.fill(0);
  frames_ = 0;
}

bool HyloProcWave::Handle(MessageNode& node) {
  switch (node.type) {
    case MSG_WAVEFORM:
      ProcessWaveform(node.As<WaveformRecord>());
      return context_.postTrigger && context_.postTrigger(&node) == 1;
    case MSG_SPECTRUM:
    case MSG_SPECTRUM_REPLAYED:
      AttachLevels(node.As<SpectrumRecord>());
      return context_.postFft && context_.postFft(&node) == 1;
    case MSG_REPLAY_FILE:
      return context_.postFft && context_.postFft(&node) == 1;
    case MSG_RESET_PROCESSING:
      Reset();
      return false;
    default:
      return false;
  }
}

bool HyloProcWave::FormatChanged(const WaveformRecord& r) const {
  const auto bits = static_cast<std::uint8_t>(8 * (r.sampleFormat & 0x7F));
  return !haveFormat_ || bits != bits_ || r.sampleRate != rate_ || r.rangeVolts != rangeVolts_;
}

void HyloProcWave::NewFormat(const WaveformRecord& r) {
  const bool rateUp = !haveFormat_ || r.sampleRate > rate_;
  const bool replaying = context_.replayInProgress && context_.replayInProgress();
  const bool overLink = context_.waveTransport && context_.waveTransport() == TRANSPORT_LINK;
  const bool custom = context_.customScanRate && context_.customScanRate();
  if (!replaying && rateUp && overLink && !custom && context_.scanInterval && context_.setScanInterval) {
    // Poll fast enough that the command link keeps up with the new rate.
    const double t = 500.0 / r.sampleRate;
    if (t < context_.scanInterval()) context_.setScanInterval(SnapScanInterval(t));
  }
  haveFormat_ = true;
  bits_ = static_cast<std::uint8_t>(8 * (r.sampleFormat & 0x7F));
  rate_ = r.sampleRate;
  rangeVolts_ = r.rangeVolts;
  lastTimeStamp_ = 0;
  lastBlockOffset_ = 0;
  framesPerRecord_ = 0;
  alpha_ = 250.0 / rate_;
  smoothedStd_ = maxPeakToPeak_ = maxZeroToPeak_ = lastEnergyDb_ = 0;
  const double full = std::ldexp(1.0, bits_);
  countsRefDb_ = rangeVolts_ > 0 ? 20 * std::log10(rangeVolts_ / full) : 0;
  spectrumRefDb_ = rangeVolts_ > 0 ? 4.259 + 3.0103 + (-60.206 - 20 * std::log10(full / (rangeVolts_ * 1e9))) : 0;
  ClearHostFft();
}

void HyloProcWave::ProcessWaveform(WaveformRecord& r) {
  // A record without a rate carries nothing to measure (and rates are divisors here).
  const std::uint32_t count = std::min<std::uint32_t>(r.sampleCount, kWaveformRecordSamples);
  if (r.sampleRate == 0 || count == 0) {
    r.restart = 0;
    return;
  }
  r.restart = FormatChanged(r) ? 1 : 0;
  if (r.restart) NewFormat(r);
  r.late = r.restart ? 0 : LateKind(r, count);
  if (r.late) {
    // Not a restart of the unit's counter: the ring puts a reordered datagram in its place,
    // and a repeated one is dropped. Neither moves the expected index or the levels.
    r.missedSamples = 0;
    return;
  }

  std::int64_t missed = 0;
  if (r.firstSample < expectedIndex_ && expectedIndex_ + count != r.firstSample) {
    const auto rate = static_cast<std::int64_t>(r.sampleRate);
    missed = r.timeStamp > lastTimeStamp_
                 ? static_cast<std::int64_t>(r.timeStamp - lastTimeStamp_) * rate - lastBlockOffset_
                 : 4 * rate - lastBlockOffset_;
    missed = std::max<std::int64_t>(missed, 0);
  } else {
    missed = static_cast<std::int64_t>(IndexGap(r.firstSample, expectedIndex_));
    if (missed > 0 && r.firstSample > expectedIndex_) RememberGap(expectedIndex_, r.firstSample);
  }
  r.missedSamples = static_cast<std::uint64_t>(missed);
  expectedIndex_ = r.firstSample + count;
  lastTimeStamp_ = r.timeStamp;
  lastBlockOffset_ = r.blockOffset;
  if (missed != 0) ClearHostFft();

  if (context_.audio) context_.audio(r);

  const BlockStats s = ComputeBlockStats(std::span<const std::int32_t>(r.samples, count));
  smoothedStd_ = smoothedStd_ == 0 ? s.standardDeviation : (1 - alpha_) * smoothedStd_ + alpha_ * s.standardDeviation;
  maxPeakToPeak_ = std::max(maxPeakToPeak_, static_cast<double>(s.peakToPeak));
  maxZeroToPeak_ = std::max(maxZeroToPeak_, s.zeroToPeak);
  lastEnergyDb_ = s.energyDb;

  const bool replayActive = context_.replayActive && context_.replayActive();
  const bool noFftStream = !context_.fftTransport || context_.fftTransport() == 0;
  if (replayActive || noFftStream) HostFft(r);
}

// A datagram within a quarter second behind the expected index came late or twice; further
// back it is the instrument's counter starting again, handled as a loss.
std::int32_t HyloProcWave::LateKind(const WaveformRecord& r, std::uint32_t count) {
  if (expectedIndex_ == 0 || r.firstSample + count > expectedIndex_) return 0;
  if (expectedIndex_ - r.firstSample > r.sampleRate / 4) return 0;
  const std::uint64_t end = r.firstSample + count;
  for (Gap& g : gaps_) {
    if (g.begin > r.firstSample || end > g.end) continue;
    if (g.begin == r.firstSample) {
      g.begin = end;
    } else if (g.end == end) {
      g.end = r.firstSample;
    } else {
      const Gap after{end, g.end};
      g.end = r.firstSample;
      RememberGap(after.begin, after.end);
    }
    return 1;
  }
  return 2;
}

void HyloProcWave::RememberGap(std::uint64_t begin, std::uint64_t end) {
  gaps_[nextGap_] = {begin, end};
  nextGap_ = (nextGap_ + 1) % gaps_.size();
}

void HyloProcWave::AttachLevels(SpectrumRecord& r) {
  auto level = [&](double statistic, std::size_t slot) {
    if (statistic > 0) lastLevels_[slot] = countsRefDb_ + 20 * std::log10(statistic);
    return lastLevels_[slot];
  };
  r.rmsLevel = level(smoothedStd_, 0);
  r.peakToPeakLevel = level(maxPeakToPeak_, 1);
  r.zeroToPeakLevel = level(maxZeroToPeak_, 2);
  if (lastEnergyDb_ != 0) lastLevels_[3] = lastEnergyDb_;
  r.energyLevel = lastLevels_[3];
  r.levelsValid = (r.rmsLevel == 0.0 || r.peakToPeakLevel == 0.0) ? 0 : 1;
  maxPeakToPeak_ = 0;
  maxZeroToPeak_ = 0;
}

void HyloProcWave::HostFft(const WaveformRecord& r) {
  const std::uint32_t count = std::min<std::uint32_t>(r.sampleCount, kWaveformRecordSamples);
  // Whole runs into the frame rather than one sample at a time.
  for (std::uint32_t i = 0; i < count;) {
    const auto take = static_cast<std::uint32_t>(std::min<std::size_t>(count - i, frame_.size() - frameFill_));
    std::copy_n(r.samples + i, take, frame_.begin() + static_cast<std::ptrdiff_t>(frameFill_));
    frameFill_ += take;
    i += take;
    if (frameFill_ < frame_.size()) continue;
    if (framesPerRecord_ == 0) framesPerRecord_ = static_cast<int>((r.sampleRate + 4095) / 4096);
    double mean = 0;
    for (std::int32_t v : frame_) mean += v;
    mean /= 1024.0;
    auto in = fft_->Input();
    for (std::size_t k = 0; k < 1024; ++k) in[k] = (frame_[k] - mean) * window_[k];
    fft_->Execute();
    const auto out = fft_->Output();
    for (std::size_t k = 0; k < 512; ++k) power_[k] += std::norm(out[k]);
    ++frames_;
    frameFill_ = 0;
    if (frames_ >= framesPerRecord_ && !EmitHostRecord(r, i)) {
      ClearHostFft();  // no node: the rest of this record is not used
      return;
    }
  }
}

bool HyloProcWave::EmitHostRecord(const WaveformRecord& r, std::uint32_t consumed) {
  bool made = false;
  PostTo(nodes_, context_.postFft, MSG_SPECTRUM, [&](MessageNode& node) {
    made = true;
    FillHostRecord(node.As<SpectrumRecord>(), r, consumed);
  });
  if (!made) return false;
  maxPeakToPeak_ = 0;
  maxZeroToPeak_ = 0;
  power_.fill(0);
  frames_ = 0;
  return true;
}

void HyloProcWave::FillHostRecord(SpectrumRecord& s, const WaveformRecord& r, std::uint32_t consumed) {
  for (std::size_t k = 0; k < 512; ++k) {
    const double p = power_[k] / frames_;
    const double level = p != 0 ? spectrumRefDb_ + 10 * std::log10(p) : 0;
    s.bins[k] = level < 0 ? 0 : level >= 254.5 ? 255 : static_cast<std::uint8_t>(std::floor(level + 0.5));
  }
  const std::int64_t span = static_cast<std::int64_t>(frames_) * 1024;
  // The accumulated frames may have begun in earlier records: signed arithmetic throughout.
  const std::int64_t start = static_cast<std::int64_t>(r.firstSample) + consumed - span;
  const double seconds =
      r.timeStamp + static_cast<double>(static_cast<std::int64_t>(r.blockOffset) + consumed - span) / r.sampleRate;
  s.binCount = 512;
  s.recordSeconds = static_cast<double>(span) / r.sampleRate;
  s.firstSample = static_cast<std::uint64_t>(std::max<std::int64_t>(start, 0));
  s.recordIndex = s.firstSample / static_cast<std::uint64_t>(span);
  s.missedRecords = 0;
  s.timeSeconds = seconds;
  s.timeStamp = static_cast<std::uint32_t>(std::max(0.0, std::floor(seconds)));
  s.reference = r.gain;
  s.sampleRate = r.sampleRate;
  s.fftLength = 1024;
  s.accumulation = static_cast<std::uint16_t>(frames_);
  s.fftStep = 1024;
  s.fftType = 4;
  s.weight = 0;
  AttachLevels(s);
  s.levelsValid = 1;
}

}  // namespace hylo
