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
  double impulseProb_;
  double impulseAmp_;
  std::uint32_t rate_;
  std::uint64_t index_ = 0;
  std::uint64_t rng_;
  double impulseLeft_ = 0;   // samples left in the current impulse
  double impulseLevel_ = 0;  // current amplitude of the impulse, signed
  double impulseDecay_ = 1;
};

// 20*log10 helpers shared by the scene and the spectra.
double DbfsToAmplitude(double dbfs);

}  // namespace hylo::sim
