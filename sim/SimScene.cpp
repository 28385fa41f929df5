#include "SimScene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hylo::sim {

double DbfsToAmplitude(double dbfs) { return std::pow(10.0, dbfs / 20.0); }

SimScene::SimScene(const SimOptions& o, std::uint32_t sampleRate)
    : tones_(o.tones),
      noiseAmp_(o.noiseDbfs <= -200 ? 0.0 : DbfsToAmplitude(o.noiseDbfs)),
      impulseProb_(sampleRate == 0 ? 0.0 : o.impulseRate / sampleRate),
      impulseAmp_(DbfsToAmplitude(o.impulseDbfs)),
      rate_(sampleRate == 0 ? 1 : sampleRate),
      rng_(o.seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {
  // An impulse decays to 1/e in about 0.2 ms and lasts about 1 ms.
  impulseDecay_ = std::exp(-1.0 / (0.0002 * rate_));
}

double SimScene::Uniform() {
  // splitmix64: small, fast and fully determined by the seed.
  std::uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}

double SimScene::Gaussian() {
  const double u1 = Uniform() + 1e-300;
  const double u2 = Uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

void SimScene::Next(std::span<double> out) {
  for (double& s : out) {
    double v = 0;
    const double t = static_cast<double>(index_ % (std::uint64_t{rate_} * 1000)) / rate_;
    for (const auto& tone : tones_) {
      if (tone.seconds >= 0) {
        const auto from = static_cast<std::uint64_t>(std::llround(tone.start * rate_));
        const auto to = from + static_cast<std::uint64_t>(std::llround(tone.seconds * rate_));
        if (index_ < from || index_ >= to) continue;
      }
      v += DbfsToAmplitude(tone.dbfs) * std::sin(2.0 * std::numbers::pi * tone.hz * t);
    }
    if (noiseAmp_ > 0) v += noiseAmp_ * Gaussian();
    if (impulseLeft_ <= 0 && impulseProb_ > 0 && Uniform() < impulseProb_) {
      impulseLeft_ = 0.001 * rate_;
      impulseLevel_ = impulseAmp_;
    }
    if (impulseLeft_ > 0) {
      v += impulseLevel_ * (Uniform() < 0.5 ? -1.0 : 1.0);
      impulseLevel_ *= impulseDecay_;
      impulseLeft_ -= 1;
    }
    s = std::clamp(v, -1.0, 1.0);
    ++index_;
  }
}

}  // namespace hylo::sim
