#pragma once
// Deterministic acoustic scene: tones, a noise floor and impulses, as samples in full-scale units
// (1.0 = the largest count). The same seed and settings always give the same samples.
#include <cstdint>
#include <span>
#include <vector>

#include "SimOptions.h"

namespace hylo::sim {

class SimScene {
 public:
  SimScene(const SimOptions& options, std::uint32_t sampleRate);

  // Fills `out` with the next samples and advances the running sample index.
  void Next(std::span<double> out);

  std::uint64_t SampleIndex() const { return index_; }
  std::uint32_t SampleRate() const { return rate_; }

 private:
  double Uniform();  // [0, 1)
  double Gaussian();

  std::vector<SimTone> tones_;
  double noiseAmp_;
  // Impulses at known times and with known shapes (see SimImpulseShape).
  double impulsePeriod_;  // samples between impulse starts; 0 = none
  double impulseAmp_;
  std::uint64_t impulseLimit_;      // 0: without end
  std::uint64_t impulseCount_ = 0;  // impulses started so far
  std::uint64_t impulseAt_ = 0;     // sample index where the current one started
  bool inImpulse_ = false;
  std::uint32_t rate_;
  std::uint64_t index_ = 0;
  std::uint64_t rng_;
};

// Impulse k of a scene with `perSecond` impulses starts at sample round((k + 0.5) · rate / perSecond).
// Even k: a Hann-windowed tone burst of 20 ms; odd k: a tone decaying as exp(−t / 5 ms) for
// 40 ms. Both at min(2000, rate / 8) Hz with `amplitude` as their envelope's peak.
std::uint64_t SimImpulseStart(std::uint64_t k, double perSecond, std::uint32_t rate);
std::uint64_t SimImpulseLength(std::uint64_t k, std::uint32_t rate);
// The value of impulse k `n` samples after its start (0 past its end).
double SimImpulseShape(std::uint64_t k, std::uint64_t n, std::uint32_t rate, double amplitude);

// 20*log10 helpers shared by the scene and the spectra.
double DbfsToAmplitude(double dbfs);

}  // namespace hylo::sim
