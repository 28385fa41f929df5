#include "display/HyloTimeSeries.h"

#include <cmath>
#include <cstdio>

namespace hylo {

std::string TraceLabel(std::uint32_t rate, std::size_t samples) {
  char text[96];
  const double perDiv = rate ? static_cast<double>(samples) * 1000.0 / (rate * 10.0) : 0;
  std::snprintf(text, sizeof text, "%g kS/sec, %5.1f msec/div", rate / 1000.0, perDiv);
  return text;
}

int RmsDecimals(double rms) {
  if (!(rms > 0)) return 3;
  const int magnitude = static_cast<int>(std::trunc(std::log10(rms / 1e-9)));
  return 3 - ((magnitude % 3) + 3) % 3;
}

void HyloTimeSeries::AddTrace(const WaveformRecord& r) {
  const std::int32_t* samples =
      r.sampleBuffer ? reinterpret_cast<const std::int32_t*>(r.sampleBuffer->data) : r.samples;
  const std::size_t limit = r.sampleBuffer ? kSampleBufferBytes / 4 : kWaveformRecordSamples;
  const std::size_t n = std::min<std::size_t>(r.sampleCount, limit);
  if (n == 0) return;
  std::lock_guard guard(lock_);
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += samples[i];
  if (resetMean_.exchange(false)) longSum_ = longCount_ = 0;
  longSum_ += sum;
  longCount_ += static_cast<std::int64_t>(n);
  const double mean = static_cast<double>(sum) / static_cast<double>(n);
  prepared_.resize(n);
  double squares = 0;
  for (std::size_t i = 0; i < n; ++i) {
    prepared_[i] = (samples[i] - mean) * r.voltsPerCount;
    squares += prepared_[i] * prepared_[i];
  }
  blockMean_ = mean * r.voltsPerCount;
  const double rms = std::sqrt(squares / static_cast<double>(n));
  smoothedRms_ = 0.75 * smoothedRms_ + 0.25 * rms;
  rmsDecimals_ = RmsDecimals(rms);
  sampleRate_ = r.sampleRate;
  newData_ = true;
}

bool HyloTimeSeries::HasNewData() const {
  std::lock_guard guard(lock_);
  return newData_;
}

TraceView HyloTimeSeries::DrawTrace() {
  std::lock_guard guard(lock_);
  TraceView view;
  view.fresh = newData_;
  newData_ = false;
  traceCount_ = std::min(traceCount_ + 1, kMaxTraces);
  if (longCount_ > 2000000000LL || longCount_ == 0) {
    longSum_ = longCount_ = 0;
  } else {
    view.longTermMean = static_cast<double>(longSum_) / static_cast<double>(longCount_) * 256;
  }
  const std::size_t n = std::min(prepared_.size(), kTraceMaxSamples);
  view.volts.assign(prepared_.begin(), prepared_.begin() + static_cast<std::ptrdiff_t>(n));
  view.sampleRate = sampleRate_;
  view.smoothedRms = smoothedRms_;
  view.rmsDecimals = rmsDecimals_;
  view.blockMeanVolts = blockMean_;
  view.traceCount = traceCount_;
  view.label = TraceLabel(sampleRate_, n);
  return view;
}

void HyloTimeSeries::ResetTraces() {
  std::lock_guard guard(lock_);
  prepared_.clear();
  traceCount_ = 0;
  newData_ = false;
}

}  // namespace hylo
