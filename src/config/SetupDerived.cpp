#include "config/SetupDerived.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

namespace hylo::setup {

namespace {
constexpr std::array<double, 11> kScanSnaps = {1,        0.5,       0.25,       0.125,       0.0625, 0.03125,
                                               0.015625, 0.0078125, 0.00390625, 0.001953125, 0.001};
}  // namespace

// ---- Derived displays ------------------------------------------------------------------

std::string SamplesPerSecText(std::uint32_t bandwidthHz) {
  char text[64];
  std::snprintf(text, sizeof text, "Gives %lu Samples/sec",
                static_cast<unsigned long>(SampleRateForBandwidth(bandwidthHz)));
  return text;
}

std::string LfBandwidthText(std::uint32_t bandwidthHz) {
  char text[64];
  std::snprintf(text, sizeof text, "Current Bandwidth: %5lu Hz", static_cast<unsigned long>(bandwidthHz));
  return text;
}

std::string HfSpectrumBandwidthText(std::uint32_t fftSampleRate) {
  char text[64];
  std::snprintf(text, sizeof text, "Current Bandwidth: %5f kHz", fftSampleRate * 0.0004);
  return text;
}

double LfFftStringsPerSec(const JobSetup& s) {
  const double overlap = SnapOverlap(s.lfOverlap);
  const double perSec = SampleRateForBandwidth(s.lfBandwidthHz);
  const int n = s.lfFftType == kFftOff ? 1 : std::max(s.lfNumStrings, 1);
  return (1.0 / (1.0 - overlap)) * (perSec / 1024.0) / n;
}

std::string LfFftStringsText(double perSec) {
  char text[64];
  std::snprintf(text, sizeof text, "Gives %7.3f  FFT Strings/sec", perSec);
  return text;
}

bool LfDataLossNoteVisible(double perSec) { return perSec > 30.0; }

SignalRange LfSignalRange(int gain, int sensitivityDb) {
  // 16-bit arithmetic, as the unit's display does.
  const auto low = static_cast<std::int16_t>((0 + 1) / 2 - gain - 120 - sensitivityDb);
  const auto high = static_cast<std::int16_t>((250 + 1) / 2 - gain - 120 - sensitivityDb);
  return {low, high};
}

std::string LfSignalRangeText(const SignalRange& r) {
  char text[80];
  std::snprintf(text, sizeof text, "Gives %d - %d dB re \xC2\xB5Pa Signal Range", r.low, r.high);
  return text;
}

// ---- Data rate and scan interval --------------------------------------------------------

namespace {
std::uint64_t FftRate(double stringsPerSec) {
  const double v = 10.0 * (100.0 + 512.0 * stringsPerSec);
  return v >= 1e18 ? std::numeric_limits<std::uint64_t>::max() / 4 : static_cast<std::uint64_t>(v);
}
double HfStringsPerSec(const JobSetup& s) {
  return 1.0 / (s.accumulationTime > 0 ? s.accumulationTime : kAccumulationTimes.front());
}
int HfBytesPerSample(const JobSetup& s, const SetupContext& ctx) {
  const std::uint32_t rate = SampleRateForBandwidth(s.waveBandwidthHz);
  if (ctx.firmware < Firmware(1, 3, 0)) return 3;
  if (!s.advancedDisplay) return ctx.firmware < Firmware(2, 1, 0) && rate == 512000 ? 2 : 3;
  return (s.dataFormat & 0x7F);
}
}  // namespace

std::uint64_t EstimatedDataRate(const JobSetup& s, const SetupContext& ctx) {
  std::uint64_t wave = 0;
  std::uint64_t fft = 0;
  if (ctx.IsLf()) {
    if (s.lfMode.waveData != 0) wave = (std::uint64_t{SampleRateForBandwidth(s.lfBandwidthHz)} * 3 + 100) * 10;
    if (s.lfMode.fftData != 0) fft = FftRate(LfFftStringsPerSec(s));
  } else {
    if (s.waveStreaming)
      wave = (std::uint64_t{SampleRateForBandwidth(s.waveBandwidthHz)} * HfBytesPerSample(s, ctx) + 500) * 10;
    if (s.spectrumStreaming) fft = FftRate(HfStringsPerSec(s));
  }
  return wave + fft;
}

std::optional<std::uint64_t> LinkMaximum(const JobSetup& s, const SetupContext& ctx) {
  const std::uint8_t i = ctx.interfaceCode;
  if (ctx.serialLink || i == 1 || i == 4 || i == 5) return ctx.baudRate / 2;
  if (ctx.IsLf()) return 817680;
  if (s.waveStreaming && s.waveLogChoice != kLoggingOff) return 1925000;
  return std::nullopt;
}

bool DataRateExceedsLink(const JobSetup& s, const SetupContext& ctx) {
  const auto max = LinkMaximum(s, ctx);
  return max && EstimatedDataRate(s, ctx) > *max;
}

double SnapScanInterval(double interval) {
  for (double v : kScanSnaps)
    if (v <= interval) return v;
  return kScanSnaps.back();
}

double ScanInterval(const JobSetup& s, const SetupContext& ctx, std::optional<double> customInterval) {
  double interval = 0.5;
  if (ctx.IsLf() || ctx.IsHfFamily()) {
    const bool lf = ctx.IsLf();
    const double perSec = lf ? SampleRateForBandwidth(s.lfBandwidthHz) : s.waveBandwidthHz * 2.5;
    const double strings = lf ? LfFftStringsPerSec(s) : HfStringsPerSec(s);
    double r = 0;
    if (s.waveStreamCode == 3) {
      r = perSec / 1000.0;
      if (s.fftStreamCode == 3 && strings > r) r = strings;
    } else if (s.fftStreamCode == 3) {
      r = strings;
    } else if (!lf) {
      r = 1.0;
    }
    if (!(r > 0)) r = 0.01;
    interval = (1.0 / r) / 2.0;
    if (lf && ctx.firmware >= Firmware(2, 4, 0) && interval > 1.0) interval = 0.5;
  }
  if (interval < 0.001) interval = 0.001;
  if (customInterval) interval = *customInterval;
  return SnapScanInterval(interval);
}

}  // namespace hylo::setup
