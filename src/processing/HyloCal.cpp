#include "processing/HyloCal.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace hylo {

std::uint8_t CalibrationMean(std::uint64_t sum, int count) {
  const auto n = static_cast<std::uint64_t>(std::max(count, 1));
  // The rounding adds one, so an all-255 history would otherwise wrap to 0.
  return static_cast<std::uint8_t>(std::min<std::uint64_t>((sum + n / 2 + 1) / n, 255));
}

AmbientSpectrum SmoothAmbient(const AmbientSpectrum& m, int binCount) {
  AmbientSpectrum out = m;
  binCount = std::clamp(binCount, 0, kSpectrumBins);
  if (binCount <= 2) return out;
  out[0] = 0;
  const auto power = [&](int i) { return std::pow(10.0, m[static_cast<std::size_t>(i)] / 10.0); };
  for (int i = 1; i <= binCount - 3; ++i) {
    const double s = 10 * std::log10(power(i) + power(i - 1) + power(i + 1));
    const int v = static_cast<int>(s + 0.5) - 3;
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
  }
  return out;
}

std::string CalibrationTimeText(double elapsed) {
  if (!(elapsed >= 0)) elapsed = 0;
  if (elapsed >= 6000) return "99:99";
  const int seconds = static_cast<int>(elapsed);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", seconds / 60, seconds % 60);
  return text;
}

HyloCal::HyloCal()
    : clock_([] { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }),
      history_(static_cast<std::size_t>(kCalHistoryRecords) * kSpectrumBins, 0) {}

bool HyloCal::StartCalibration(bool on) {
  if (on) {
    BeginCalibration();
    return true;
  }
  return EndCalibration();
}

void HyloCal::BeginCalibration() {
  {
    std::lock_guard guard(lock_);
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    firstTime_ = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    startTimer_ = clock_();
    elapsed_ = 0;
    recordCount_ = 0;
    oldest_ = 0;
    updated_ = true;  // shows "00:00" at once
    calibrating_ = true;
  }
  if (captureRequest_) captureRequest_();
}

bool HyloCal::EndCalibration() {
  AmbientSpectrum result{};
  {
    std::lock_guard guard(lock_);
    calibrating_ = false;
    // No spectrum arrived: a reference of zeros would be installed and shown as real.
    if (recordCount_ == 0 || binCount_ == 0) return false;
    AmbientSpectrum mean{};
    for (int bin = 0; bin < binCount_; ++bin) {
      std::uint64_t sum = 0;
      for (int k = 0; k < recordCount_; ++k) {
        const int slot = (oldest_ + k) % kCalHistoryRecords;
        sum += history_[static_cast<std::size_t>(slot) * kSpectrumBins + static_cast<std::size_t>(bin)];
      }
      mean[static_cast<std::size_t>(bin)] = CalibrationMean(sum, recordCount_);
    }
    ambient_ = SmoothAmbient(mean, binCount_);
    result = ambient_;
  }
  if (install_) install_(result);
  return true;
}

bool HyloCal::IsCalibrating() const {
  std::lock_guard guard(lock_);
  return calibrating_;
}

void HyloCal::AddCalibrationRecord(const SpectrumRecord& r) {
  std::lock_guard guard(lock_);
  if (recordCount_ == 0) firstTime_ = r.timeSeconds;
  int slot = 0;
  if (recordCount_ == kCalHistoryRecords) {
    // Full: the oldest record makes room for this one.
    slot = oldest_;
    oldest_ = (oldest_ + 1) % kCalHistoryRecords;
    firstTime_ += r.recordSeconds;
  } else {
    slot = (oldest_ + recordCount_) % kCalHistoryRecords;
    ++recordCount_;
  }
  const int bins = static_cast<int>(std::min<std::uint32_t>(r.binCount, kSpectrumBins));
  std::uint8_t* row = history_.data() + static_cast<std::size_t>(slot) * kSpectrumBins;
  std::copy_n(r.bins, bins, row);
  std::fill(row + bins, row + kSpectrumBins, std::uint8_t{0});
  binCount_ = bins;
  recordSeconds_ = r.recordSeconds;
  reference_ = r.reference;
  elapsed_ = clock_() - startTimer_;
  updated_ = true;
}

std::optional<std::string> HyloCal::ShowCalibrationTime() {
  std::lock_guard guard(lock_);
  if (!updated_) return std::nullopt;
  updated_ = false;
  return CalibrationTimeText(elapsed_);
}

void HyloCal::SetAmbient(const AmbientSpectrum& ambient) {
  std::lock_guard guard(lock_);
  ambient_ = ambient;
}

AmbientSpectrum HyloCal::Ambient() const {
  std::lock_guard guard(lock_);
  return ambient_;
}

int HyloCal::RecordCount() const {
  std::lock_guard guard(lock_);
  return recordCount_;
}

double HyloCal::FirstTime() const {
  std::lock_guard guard(lock_);
  return firstTime_;
}

}  // namespace hylo
