#pragma once
// What the setup panel derives from a job setup: its texts, the data-rate estimate against
// the link, and the display side's scan interval.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/HyloSetup.h"

namespace hylo::setup {

// Derived displays.
std::string SamplesPerSecText(std::uint32_t bandwidthHz);       // "Gives %d Samples/sec"
std::string LfBandwidthText(std::uint32_t bandwidthHz);         // "Current Bandwidth: %5d Hz"
std::string HfSpectrumBandwidthText(std::uint32_t fftSampleRate);  // "Current Bandwidth: %5f kHz"
double LfFftStringsPerSec(const JobSetup& s);
std::string LfFftStringsText(double perSec);  // "Gives %7.3f  FFT Strings/sec"
inline constexpr std::string_view kLfDataLossNote = "Note: Data may be lost at 32 FFT Strings/sec and faster.";
bool LfDataLossNoteVisible(double perSec);  // above 30.0
struct SignalRange {
  int low = 0;
  int high = 0;
};
SignalRange LfSignalRange(int gain, int sensitivityDb);
std::string LfSignalRangeText(const SignalRange& r);  // "Gives %d - %d dB re µPa Signal Range"

// Data rate estimate in bits per second, and the link's maximum (none = no limit).
std::uint64_t EstimatedDataRate(const JobSetup& s, const SetupContext& ctx);
std::optional<std::uint64_t> LinkMaximum(const JobSetup& s, const SetupContext& ctx);
bool DataRateExceedsLink(const JobSetup& s, const SetupContext& ctx);

// Scan interval in seconds, snapped to 1, 0.5 … 0.001. `customInterval` is the user's
// own scan rate when chosen.
double ScanInterval(const JobSetup& s, const SetupContext& ctx, std::optional<double> customInterval);
double SnapScanInterval(double interval);

}  // namespace hylo::setup
