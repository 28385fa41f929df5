#include "SimSpectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hylo::sim {
namespace {

void Fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2.0 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> wl(std::cos(ang), std::sin(ang));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0, 0.0);
      for (std::size_t k = 0; k < len / 2; ++k) {
        const auto u = a[i + k];
        const auto v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= wl;
      }
    }
  }
}

}  // namespace

SimSpectrum::SimSpectrum(int fftType, int step, int accumulation, int weight, double fullScaleVolts)
    : type_(fftType),
      step_(step <= 0 ? kLength : static_cast<std::size_t>(step)),
      accumulation_(std::max(1, accumulation)),
      weight_(std::max(1, weight)),
      fullScale_(fullScaleVolts),
      window_(kLength),
      history_(kLength, 0.0) {
  for (std::size_t i = 0; i < kLength; ++i)
    window_[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / kLength);
  // Types without overlap step a whole FFT length.
  if (type_ <= 3) step_ = kLength;
  if (type_ == 1) accumulation_ = 1;
}

std::array<double, 512> SimSpectrum::Analyse(std::span<const double> block) const {
  std::vector<std::complex<double>> a(kLength);
  for (std::size_t i = 0; i < kLength && i < block.size(); ++i) a[i] = block[i] * window_[i] * fullScale_;
  Fft(a);
  std::array<double, 512> power{};
  // A Hann window halves a tone's peak: amplitude = 4 |X| / N; RMS power = amplitude^2 / 2.
  for (std::size_t k = 0; k < 512; ++k) {
    const double amp = 4.0 * std::abs(a[k]) / kLength;
    power[k] = amp * amp / 2.0;
  }
  return power;
}

void SimSpectrum::Combine(const std::array<double, 512>& power) {
  const bool filter = type_ == 3 || type_ == 6;
  const bool peak = type_ == 2 || type_ == 5;
  for (std::size_t k = 0; k < 512; ++k) {
    if (filter) {
      acc_[k] = filterPrimed_ ? (acc_[k] * (weight_ - 1) + power[k]) / weight_ : power[k];
    } else if (peak) {
      acc_[k] = combined_ == 0 ? power[k] : std::max(acc_[k], power[k]);
    } else {
      acc_[k] = (combined_ == 0 ? 0.0 : acc_[k]) + power[k];
    }
  }
  filterPrimed_ = true;
}

void SimSpectrum::Push(std::span<const double> samples, std::vector<SimSpectrumRecord>& out) {
  for (const double s : samples) {
    history_[seen_ % kLength] = s;
    ++seen_;
    if (seen_ < nextStart_ + kLength) continue;
    // The ring now holds samples nextStart_ .. nextStart_ + 1023.
    std::vector<double> block(kLength);
    for (std::size_t i = 0; i < kLength; ++i) block[i] = history_[(nextStart_ + i) % kLength];
    if (combined_ == 0) recordFirst_ = nextStart_;
    Combine(Analyse(block));
    ++combined_;
    nextStart_ += step_;
    if (combined_ >= accumulation_) {
      SimSpectrumRecord r;
      r.firstSample = recordFirst_;
      const bool mean = !(type_ == 2 || type_ == 5 || type_ == 3 || type_ == 6);
      for (std::size_t k = 0; k < 512; ++k) {
        const double p = mean ? acc_[k] / combined_ : acc_[k];
        r.dbv[k] = 10.0 * std::log10(p + 1e-30);
      }
      out.push_back(r);
      combined_ = 0;
    }
  }
}

std::uint8_t SimSpectrum::WireByte(double dbv, int refLevel) {
  const double v = std::round(2.0 * (dbv - refLevel));
  return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

std::uint8_t SimSpectrum::ScaleByte(double dbv) {
  return static_cast<std::uint8_t>(std::clamp(std::round(dbv + 180.0), 0.0, 255.0));
}

}  // namespace hylo::sim
