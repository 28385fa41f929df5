#include "processing/ImpulseDsp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "platform/RealFft.h"

namespace hylo {

const int kImpulseBandBins[kImpulseMaxBands] = {1,  2,  3,  3,  4,   5,   6,   8,   10,  12,  15,  19,  24,  30,  38,
                                                48, 60, 75, 95, 119, 150, 189, 238, 300, 378, 476, 599, 755, 951, 1197};
const double kImpulseBandHz[kImpulseMaxBands] = {5.74,    7.24,    9.12,    11.49,   14.47,   18.23,  22.97,  28.95,
                                                 36.47,   45.95,   57.89,   72.94,   91.90,   115.78, 145.88, 183.79,
                                                 231.56,  291.75,  367.58,  463.13,  583.50,  735.17, 926.25, 1167.01,
                                                 1470.34, 1852.51, 2334.01, 2940.67, 3705.01, 4668.02};

namespace {

constexpr double kEnvelopeHighPassHz = 1000;
constexpr double kEnvelopeLowPassHz = 50;
constexpr double kMeasureHighPassHz = 15;

double Prewarp(double corner, double rate) { return std::tan(std::numbers::pi * corner / rate); }

}  // namespace

FirstOrderFilter FirstOrderFilter::LowPass(double corner, double rate) {
  if (!(rate > 0) || !(corner > 0) || corner >= rate / 2) return {};
  const double k = Prewarp(corner, rate);
  return {k / (1 + k), k / (1 + k), (k - 1) / (k + 1)};
}

FirstOrderFilter FirstOrderFilter::HighPass(double corner, double rate) {
  if (!(rate > 0) || !(corner > 0) || corner >= rate / 2) return {};
  const double k = Prewarp(corner, rate);
  return {1 / (1 + k), -1 / (1 + k), (k - 1) / (k + 1)};
}

void FirstOrderFilter::Run(std::span<double> x) const {
  double previousIn = 0, previousOut = 0;
  for (double& v : x) {
    const double out = b0 * v + b1 * previousIn - a1 * previousOut;
    previousIn = v;
    previousOut = out;
    v = out;
  }
}

void ImpulseCandidates::Design(std::uint32_t rate) {
  if (rate == designedRate_) return;
  designedRate_ = rate;
  useHighPass_ = rate > 2000;
  envelopeHighPass_ = FirstOrderFilter::HighPass(kEnvelopeHighPassHz, rate);
  envelopeLowPass_ = FirstOrderFilter::LowPass(kEnvelopeLowPassHz, rate);
}

std::vector<ImpulseCut> ImpulseCandidates::Find(const WaveBlockInfo& block, std::span<const std::int32_t> samples,
                                                const ImpulseCandidateSettings& settings) {
  std::vector<ImpulseCut> cuts;
  const std::size_t n = samples.size();
  y_.resize(n);
  e_.resize(n);
  if (n == 0 || block.sampleRate == 0) return cuts;
  Design(block.sampleRate);
  double sum = 0;
  for (const std::int32_t s : samples) sum += s;
  const double mean = sum / static_cast<double>(n);
  for (std::size_t i = 0; i < n; ++i) y_[i] = (samples[i] - mean) * block.voltsPerCount;

  std::copy(y_.begin(), y_.end(), e_.begin());
  if (useHighPass_) envelopeHighPass_.Run(e_);
  for (double& v : e_) v *= v;
  envelopeLowPass_.Run(e_);
  for (double& v : e_) v = std::sqrt(std::max(v, 0.0));

  sorted_.assign(e_.begin(), e_.end());
  std::nth_element(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(n / 2), sorted_.end());
  const double median = sorted_[n / 2];
  const double detect = median * std::pow(10.0, 0.05 * settings.detectDb);
  const double reset = median * std::pow(10.0, 0.05 * settings.resetDb);
  const double rate = block.sampleRate;
  const auto pre = static_cast<std::size_t>(std::max(0.0, std::trunc(rate * settings.preMs / 1000.0)));
  const auto post = static_cast<std::size_t>(std::max(0.0, std::trunc(rate * settings.postMs / 1000.0)));

  for (std::size_t i = 0; i < n && cuts.size() < kImpulsesPerBlock; ++i) {
    if (!(y_[i] > 0 && e_[i] > detect)) continue;
    ImpulseCut cut;
    cut.start = i;
    cut.peak = y_[i];
    std::size_t length = 0;
    while (i < n - 1 && e_[i] > reset && length < kImpulseMaxLength) {
      cut.peak = std::max(cut.peak, y_[i]);
      ++i;
      ++length;
    }
    cut.end = i;
    const std::size_t a = std::min(pre, cut.start);
    // The tail: the run again plus the post-detection time, or what is left of the block.
    const std::size_t b = i + post < n ? length + post : n - i;
    cut.from = cut.start - a;
    cut.count = std::min({static_cast<std::size_t>(kImpulseMaxSamples), length + a + b, n - cut.from});
    if (cut.count > 0) cuts.push_back(cut);
  }
  return cuts;
}

void ImpulseCandidates::FillRecord(const ImpulseCut& cut, const WaveBlockInfo& block, double sensitivity,
                                   ImpulseRecord& r) const {
  r = ImpulseRecord{};
  r.timeStamp = block.timeStamp;
  r.blockStart = static_cast<std::int32_t>(cut.start);
  r.blockEnd = static_cast<std::int32_t>(cut.end);
  r.sampleRate = static_cast<std::int32_t>(block.sampleRate);
  r.sampleCount = static_cast<std::uint32_t>(cut.count);
  r.runningIndex = block.firstSample + cut.from;
  r.voltsPerCount = block.voltsPerCount;
  r.rangeVolts = block.rangeVolts;
  r.bitsPerSample = block.bitsPerSample;
  r.candidatePeak = 20 * std::log10(cut.peak) - sensitivity;
  std::copy_n(y_.begin() + static_cast<std::ptrdiff_t>(cut.from), cut.count, r.samples);
}

ImpulseBandPlan BandPlanForRate(int sampleRate) {
  ImpulseBandPlan plan;
  switch (sampleRate) {
    case 1000:
      plan = {256, 15, 1};
      break;
    case 2000:
      plan = {512, 18, 1};
      break;
    case 4000:
      plan = {1024, 21, 1};
      break;
    case 8000:
      plan = {2048, 24, 1};
      break;
    case 16000:
      plan = {4096, 27, 1};
      break;
    case 32000:
      plan = {8192, 29, 1};
      break;
    default:
      plan = {16384, 30, std::max(1, sampleRate / 64000)};
      break;
  }
  int last = kImpulseFirstBin;
  int fit = 0;
  while (fit < plan.bands && last + kImpulseBandBins[fit] - 1 <= plan.fftLength / 2) last += kImpulseBandBins[fit++];
  plan.bands = fit;
  return plan;
}

double AddExposure(double cumulative, double sel) {
  if (cumulative <= 0) return sel;
  return 10 * std::log10(std::pow(10.0, cumulative / 10) + std::pow(10.0, sel / 10));
}

ImpulseMeasurement::ImpulseMeasurement() : work_(kImpulseMaxSamples) {}
ImpulseMeasurement::~ImpulseMeasurement() = default;

platform::RealFft& ImpulseMeasurement::Fft(int length) {
  auto& fft = ffts_[length];
  if (!fft) fft = std::make_unique<platform::RealFft>(static_cast<std::size_t>(length));
  return *fft;
}

bool ImpulseMeasurement::Measure(ImpulseRecord& r, double sensitivity, std::string* bins) {
  const std::size_t n = std::min<std::size_t>(r.sampleCount, kImpulseMaxSamples);
  if (n == 0 || r.sampleRate <= 0) return false;
  r.sampleCount = static_cast<std::uint32_t>(n);
  const std::span<double> x(r.samples, n);
  if (r.sampleRate != filterRate_) {
    filterRate_ = r.sampleRate;
    highPass_ = FirstOrderFilter::HighPass(kMeasureHighPassHz, r.sampleRate);
  }
  highPass_.Run(x);

  // Third-octave bands: averaging decimation, Hann window, at most N samples into the FFT.
  const ImpulseBandPlan plan = BandPlanForRate(r.sampleRate);
  const auto factor = static_cast<std::size_t>(plan.factor);
  const std::size_t length = static_cast<std::size_t>(plan.fftLength);
  const std::size_t m = std::min(n / factor, length);
  for (std::size_t j = 0; j < m; ++j) {
    double sum = 0;
    for (std::size_t k = 0; k < factor; ++k) sum += x[j * factor + k];
    work_[j] = sum / static_cast<double>(factor);
  }
  platform::RealFft& fft = Fft(plan.fftLength);
  const std::span<double> in = fft.Input();
  std::fill(in.begin(), in.end(), 0.0);
  for (std::size_t j = 0; j < m; ++j) {
    const double w = m == 1 ? 1.0 : 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(j) / (m - 1));
    in[j] = work_[j] * w;
  }
  fft.Execute();
  const auto out = fft.Output();
  const double scale = std::pow(10.0, (3.0103 - 20 * std::log10(static_cast<double>(length)) - sensitivity) * 0.05);
  std::size_t bin = kImpulseFirstBin;
  char text[96];
  for (int b = 0; b < plan.bands; ++b) {
    double a = 0;
    for (int k = 0; k < kImpulseBandBins[b]; ++k, ++bin) {
      a += std::abs(out[bin]) * scale;  // bin 0 is never in a band
      if (bins) {
        std::snprintf(text, sizeof text, "%f\t%f\n", out[bin].real(), out[bin].imag());
        *bins += text;
      }
    }
    r.bandLevels[b] = 20 * std::log10(a / std::sqrt(kImpulseBandHz[b]));
  }
  r.bandCount = static_cast<std::uint16_t>(plan.bands);
  r.fftLength = static_cast<std::uint16_t>(plan.fftLength);

  // The part that holds 90 % of the energy, from where 5 % has gone by.
  const double dt = 1.0 / r.sampleRate;
  double total = 0;
  for (const double v : x) total += dt * v * v;
  std::size_t start = 0;
  double running = 0;
  for (std::size_t i = 0; i < n; ++i) {
    running += dt * x[i] * x[i];
    if (running >= 0.05 * total) {
      start = i;
      break;
    }
  }
  double energy = 0, peak = 0, squares = 0;
  std::size_t duration = n - start;
  for (std::size_t i = start + 1; i < n; ++i) {
    energy += dt * x[i] * x[i];
    peak = std::max(peak, x[i] * x[i]);
    squares += x[i] * x[i];
    if (energy >= 0.95 * total - 0.05 * total) {
      duration = i - start;
      break;
    }
  }
  r.startIndex = static_cast<std::int32_t>(start);
  r.durationSamples = static_cast<std::int32_t>(duration);
  r.sel = 10 * std::log10(energy) - sensitivity;
  r.spl = 20 * std::log10(std::sqrt(squares / static_cast<double>(duration))) - sensitivity;
  r.pk = 10 * std::log10(peak) - sensitivity;
  return true;
}

}  // namespace hylo
