#include "SimScene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hylo::sim {

double DbfsToAmplitude(double dbfs) { return std::pow(10.0, dbfs / 20.0); }

SimScene::SimScene(const SimOptions& o, std::uint32_t sampleRate)
    : tones_(o.tones),
      noiseAmp_(o.noiseDbfs <= -200 ? 0.0 : DbfsToAmplitude(o.noiseDbfs)),
      impulsePeriod_(o.impulseRate > 0 && sampleRate > 0 ? sampleRate / o.impulseRate : 0.0),
      impulseAmp_(DbfsToAmplitude(o.impulseDbfs)),
      impulseLimit_(o.impulseCount),
      rate_(sampleRate == 0 ? 1 : sampleRate),
      rng_(o.seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}

namespace {
constexpr double kBurstSeconds = 0.02;
constexpr double kDecaySeconds = 0.04;
constexpr double kDecayTau = 0.005;
double ImpulseHz(std::uint32_t rate) { return std::min(2000.0, rate / 8.0); }
}  // namespace

std::uint64_t SimImpulseStart(std::uint64_t k, double perSecond, std::uint32_t rate) {
  return static_cast<std::uint64_t>(std::llround((static_cast<double>(k) + 0.5) * rate / perSecond));
}

std::uint64_t SimImpulseLength(std::uint64_t k, std::uint32_t rate) {
  return static_cast<std::uint64_t>(std::llround((k % 2 == 0 ? kBurstSeconds : kDecaySeconds) * rate));
}

double SimImpulseShape(std::uint64_t k, std::uint64_t n, std::uint32_t rate, double amplitude) {
  const std::uint64_t length = SimImpulseLength(k, rate);
  if (n >= length || length < 2) return 0;
  const double t = static_cast<double>(n) / rate;
  const double tone = std::sin(2.0 * std::numbers::pi * ImpulseHz(rate) * t);
  if (k % 2 == 0) {
    const double w =
        0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(n) / static_cast<double>(length - 1));
    return amplitude * w * tone;
  }
  return amplitude * std::exp(-t / kDecayTau) * tone;
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
    while (impulsePeriod_ > 0 && (impulseLimit_ == 0 || impulseCount_ < impulseLimit_) &&
           index_ >= SimImpulseStart(impulseCount_, rate_ / impulsePeriod_, rate_)) {
      impulseAt_ = index_;
      inImpulse_ = true;
      ++impulseCount_;
    }
    if (inImpulse_) {
      const std::uint64_t k = impulseCount_ - 1;
      if (index_ - impulseAt_ < SimImpulseLength(k, rate_)) {
        v += SimImpulseShape(k, index_ - impulseAt_, rate_, impulseAmp_);
      } else {
        inImpulse_ = false;
      }
    }
    s = std::clamp(v, -1.0, 1.0);
    ++index_;
  }
}

}  // namespace hylo::sim
