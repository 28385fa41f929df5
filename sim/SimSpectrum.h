#pragma once
// The instrument's own spectra: 1024-point FFTs with a Hann window, taken every `step` samples
// and combined `accumulation` at a time by mean, peak or filter.
#include <array>
#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hylo::sim {

struct SimSpectrumRecord {
  std::uint64_t firstSample = 0;  // running index of the first analysed sample
  std::array<double, 512> dbv{};  // per-bin RMS level of a tone in that bin, dBV
};

class SimSpectrum {
 public:
  static constexpr std::size_t kLength = 1024;

  // fftType 0..6: 0/4 mean, 1 single, 2/5 peak, 3/6 filter with `weight`.
  SimSpectrum(int fftType, int step, int accumulation, int weight, double fullScaleVolts);

  // Feeds samples in full-scale units; completed records are appended to `out`.
  void Push(std::span<const double> samples, std::vector<SimSpectrumRecord>& out);

  // One windowed spectrum of exactly 1024 samples, dBV per bin.
  std::array<double, 512> Analyse(std::span<const double> block) const;

  // Wire byte of a level: half-dB steps above the reference level, clipped to 0..255.
  static std::uint8_t WireByte(double dbv, int refLevel);
  // The system-wide byte scale: b stands for b - 180 dBV.
  static std::uint8_t ScaleByte(double dbv);

 private:
  void Combine(const std::array<double, 512>& power);

  int type_;
  std::size_t step_;
  int accumulation_;
  int weight_;
  double fullScale_;
  std::vector<double> window_;
  std::vector<double> history_;  // ring of the last 1024 samples
  std::uint64_t seen_ = 0;       // samples pushed so far
  std::uint64_t nextStart_ = 0;  // running index where the next FFT starts
  std::array<double, 512> acc_{};
  int combined_ = 0;
  std::uint64_t recordFirst_ = 0;
  bool filterPrimed_ = false;
};

}  // namespace hylo::sim
