#include "processing/HyloProcFft.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/Post.h"
#include "core/StreamTransport.h"
#include "processing/HyloProcWave.h"

namespace hylo {
namespace {

constexpr int kLevels = 7;

struct StepTable {
  std::int16_t t[3][511];
  StepTable() {
    for (int n = 1; n <= 3; ++n) {
      for (int d = -255; d <= 255; ++d) {
        t[n - 1][d + 255] =
            static_cast<std::int16_t>(std::floor(20 * std::log10((n + std::pow(10.0, d / 20.0)) / (n + 1)) + 0.5));
      }
    }
  }
};

const StepTable& Steps() {
  static const StepTable table;
  return table;
}

}  // namespace

int CombineStep(int d, int n) { return Steps().t[std::clamp(n, 1, 3) - 1][std::clamp(d, -255, 255) + 255]; }

std::uint8_t CombineLevels(int n, std::uint8_t a, std::uint8_t b) {
  if (n == 0) return b;
  return static_cast<std::uint8_t>((a + CombineStep(b - a, n)) & 0xFF);
}

void HyloProcFft::Level::Clear() { *this = Level{}; }

HyloProcFft::HyloProcFft(HyloNodes& nodes) : nodes_(nodes) { Steps(); }

void HyloProcFft::Reset() {
  for (auto& level : levels_) level.Clear();
  lastRecordIndex_ = 0;
  previousEnd_ = 0;
  haveParameters_ = false;
}

bool HyloProcFft::Handle(MessageNode& node) {
  switch (node.type) {
    case MSG_SPECTRUM:
      ProcessRecord(node.As<SpectrumRecord>());
      return context_.postTrigger && context_.postTrigger(&node) == 1;
    case MSG_SPECTRUM_REPLAYED:
      LoadTemplate(node.As<SpectrumRecord>());
      return false;
    case MSG_REPLAY_FILE:
      return context_.postTrigger && context_.postTrigger(&node) == 1;
    case MSG_RESET_PROCESSING:
      Reset();
      return false;
    default:
      return false;
  }
}

void HyloProcFft::LoadTemplate(const SpectrumRecord& r) {
  double mean = 0;
  for (int i = 0; i < 512; ++i) mean += r.bins[i];
  mean /= 512;
  for (int i = 0; i < 512; ++i) template_[static_cast<std::size_t>(i)] = r.bins[i] - mean;
  templateRate_ = r.sampleRate;
}

bool HyloProcFft::ParametersChanged(const SpectrumRecord& r) const {
  return !haveParameters_ || r.fftLength != fftLength_ || r.accumulation != accumulation_ || r.fftStep != fftStep_ ||
         r.fftType != fftType_ || r.weight != weight_ || r.sampleRate != sampleRate_;
}

std::uint64_t HyloProcFft::ProcessRecord(SpectrumRecord& r) {
  r.restart = ParametersChanged(r) ? 1 : 0;
  if (r.restart) {
    for (auto& level : levels_) level.Clear();
    if ((!haveParameters_ || r.sampleRate != sampleRate_ || r.fftLength != fftLength_) && context_.densityCorrection) {
      context_.densityCorrection(r.sampleRate, r.fftLength);
    }
    previousEnd_ = 0;
    const bool overLink = context_.fftTransport && context_.fftTransport() == TRANSPORT_LINK;
    const bool custom = context_.customScanRate && context_.customScanRate();
    if (overLink && !custom && context_.scanInterval && context_.setScanInterval &&
        r.recordSeconds / 2 < context_.scanInterval()) {
      context_.setScanInterval(SnapScanInterval(r.recordSeconds / 2));
    }
    haveParameters_ = true;
    fftLength_ = r.fftLength;
    accumulation_ = r.accumulation;
    fftStep_ = r.fftStep;
    fftType_ = r.fftType;
    weight_ = r.weight;
    sampleRate_ = r.sampleRate;
    recordSeconds_ = r.recordSeconds;
  }

  if (templateRate_ != 0) {
    const std::uint32_t n = std::min<std::uint32_t>(r.binCount, 512) * 8 / 10;
    double mean = 0;
    for (std::uint32_t i = 0; i < n; ++i) mean += r.bins[i];
    mean = n ? mean / n : 0;
    double sum = 0;
    for (std::uint32_t i = 0; i < n; ++i) sum += template_[i] * (r.bins[i] - mean);
    r.clickScore = n ? sum / n : 0;
    r.clickScoreValid = 1;
  } else {
    r.clickScoreValid = 0;
  }

  std::uint64_t missed = 0;
  if (r.recordIndex > lastRecordIndex_) {
    missed = lastRecordIndex_ == 0 ? 0 : r.recordIndex - lastRecordIndex_ - 1;
  } else if (previousEnd_ > 0 && r.recordSeconds > 0) {
    // Without a previous record there is nothing to have missed.
    const double gap = r.timeSeconds - previousEnd_;
    const bool replaying = context_.replayInProgress && context_.replayInProgress();
    if (!replaying) {
      missed = gap <= 0 ? static_cast<std::uint64_t>(1 + 3 / r.recordSeconds)
                        : static_cast<std::uint64_t>(gap / r.recordSeconds);
    } else if (gap > 1) {
      missed = static_cast<std::uint64_t>(gap / r.recordSeconds);
    }
  }
  lastRecordIndex_ = r.recordIndex;
  previousEnd_ = r.timeSeconds + r.recordSeconds;
  if (missed != 0) Missed(missed);

  const std::uint64_t span = static_cast<std::uint64_t>(r.fftStep) * r.accumulation;
  r.startsSecond = r.recordSeconds > 1 ? 1 : (r.sampleRate != 0 && r.firstSample % r.sampleRate < span ? 1 : 0);

  Feed(0, {r.bins, r.bins, r.clickScore, r.clickScore, r.rmsLevel, r.peakToPeakLevel, r.zeroToPeakLevel});
  if (levels_[0].count + levels_[0].missedCount == 4) Cascade(0);
  r.missedRecords = missed;
  LoggingCopy(r);
  return missed;
}

void HyloProcFft::LoggingCopy(const SpectrumRecord& r) {
  const bool replayActive = context_.replayActive && context_.replayActive();
  const bool logReplay = context_.logReplaySpectra && context_.logReplaySpectra();
  if (replayActive ? !logReplay : (!context_.fftTransport || context_.fftTransport() == 0)) return;
  bool made = false;
  PostTo(nodes_, context_.postLog, MSG_SPECTRUM, [&](MessageNode& node) {
    made = true;
    auto& copy = node.As<SpectrumRecord>();
    copy = r;
    copy.missedRecords += backlog_;
    backlog_ = 0;
  });
  if (!made) backlog_ += r.missedRecords;
}

void HyloProcFft::Feed(int index, const Input& in) {
  if (index >= kLevels) return;
  Level& level = levels_[static_cast<std::size_t>(index)];
  if (level.skip > 0) {
    --level.skip;
    return;
  }
  for (std::size_t i = 0; i < 512; ++i) {
    level.meanBins[i] = CombineLevels(level.count, level.meanBins[i], in.bins[i]);
    level.maxBins[i] = std::max(level.maxBins[i], in.maxBins[i]);
  }
  level.powerSum += std::pow(10.0, in.rms / 10);
  level.scoreSum += in.meanScore;
  level.scoreMax = std::max(level.scoreMax, in.maxScore);
  level.maxPeakToPeak = std::max(level.maxPeakToPeak, in.peakToPeak);
  level.maxZeroToPeak = std::max(level.maxZeroToPeak, in.zeroToPeak);
  ++level.count;
}

void HyloProcFft::Cascade(int index) {
  while (index < kLevels) {
    Level& level = levels_[static_cast<std::size_t>(index)];
    if (level.count + level.missedCount != 4) return;
    const int count = std::max(level.count, 1);
    const double rms = level.powerSum > 0 ? 10 * std::log10(level.powerSum / count) : 0;
    const Input up{level.meanBins.data(), level.maxBins.data(), level.scoreSum / count, level.scoreMax, rms,
                   level.maxPeakToPeak,   level.maxZeroToPeak};
    Feed(index + 1, up);
    bool made = false;
    PostTo(nodes_, context_.postDisplay, MSG_FFT_DISPLAY, [&](MessageNode& node) {
      made = true;
      auto& out = node.As<PyramidOutput>();
      out.level = index + 1;
      out.binCount = 512;
      std::memcpy(out.meanBins, level.meanBins.data(), 512);
      std::memcpy(out.maxBins, level.maxBins.data(), 512);
      out.meanScore = up.meanScore;
      out.maxScore = up.maxScore;
      out.rmsLevel = rms;
      out.peakToPeakLevel = level.maxPeakToPeak;
      out.zeroToPeakLevel = level.maxZeroToPeak;
      out.peakValid = level.maxPeakToPeak != -1000000 ? 1 : 0;
      out.missedGroups = level.missedTotal + level.missedCarry;
      level.missedCarry = 0;
    });
    if (!made) level.missedCarry += level.missedTotal + 1;
    const std::uint64_t carry = level.missedCarry;
    level.Clear();
    level.missedCarry = carry;
    ++index;
  }
}

void HyloProcFft::Missed(std::uint64_t m) {
  for (int index = 0; index < kLevels && m != 0; ++index) {
    Level& level = levels_[static_cast<std::size_t>(index)];
    if (m <= static_cast<std::uint64_t>(level.skip)) {
      level.skip -= static_cast<int>(m);
      m = 0;
    } else {
      m -= static_cast<std::uint64_t>(level.skip);
      level.skip = 0;
    }
    std::uint64_t result = 0;
    if (m != 0 && level.count == 3) {
      ++level.missedCount;
      Cascade(index);
      --m;
    }
    if (m == 1 && level.missedCount == 0) {
      level.missedCount = 1;
      m = 0;
    }
    if (m != 0) {
      const std::uint64_t t = m + static_cast<std::uint64_t>(level.missedCount + level.count);
      const std::uint64_t carry = level.missedCarry;
      const std::uint64_t total = level.missedTotal;
      level.Clear();
      level.missedCarry = carry;
      level.missedTotal = total;
      result = t / 4;
      const std::uint64_t r = t % 4;
      if (r == 1) level.missedCount = 1;
      if (r == 2 || r == 3) {
        level.skip = static_cast<int>(4 - r);
        ++result;
      }
    }
    level.missedTotal += result;
    m = result;
  }
}

}  // namespace hylo
