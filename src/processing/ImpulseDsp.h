#pragma once
// The signal work of impulse detection, free of threads and nodes: the candidate scan of a
// waveform block and the measurement of one impulse (SEL, SPL, peak, third-octave bands).
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "processing/ImpulseRecord.h"

namespace hylo {

namespace platform {
class RealFft;
}

// A first-order Butterworth section by the bilinear transform (corner pre-warped), run from
// rest. A corner at or above half the sample rate leaves the signal as it is.
struct FirstOrderFilter {
  double b0 = 1, b1 = 0, a1 = 0;
  static FirstOrderFilter LowPass(double corner, double rate);
  static FirstOrderFilter HighPass(double corner, double rate);
  void Run(std::span<double> x) const;
};

struct ImpulseCandidateSettings {
  int detectDb = 40;
  int resetDb = 20;
  int preMs = 10;
  int postMs = 50;
};

// What the candidate stage takes from the waveform block.
struct WaveBlockInfo {
  std::uint32_t timeStamp = 0;
  std::uint32_t sampleRate = 0;
  std::uint64_t firstSample = 0;
  double voltsPerCount = 0;
  double rangeVolts = 0;
  std::int32_t bitsPerSample = 0;
};

// One impulse found in a block: where it starts and ends, and which samples are copied.
struct ImpulseCut {
  std::size_t start = 0;  // first sample above the detect level
  std::size_t end = 0;    // where the envelope fell to the reset level (or the scan stopped)
  std::size_t from = 0;   // first copied sample
  std::size_t count = 0;  // copied samples, never past the block's end
  double peak = 0;        // largest signal value from start to end, volts
};

inline constexpr int kImpulsesPerBlock = 3;
inline constexpr std::size_t kImpulseMaxLength = 25001;  // envelope run limit, samples

class ImpulseCandidates {
 public:
  // Finds up to three impulses in one block. The block's signal (mean removed, in volts)
  // stays available through Signal() until the next call.
  std::vector<ImpulseCut> Find(const WaveBlockInfo& block, std::span<const std::int32_t> samples,
                               const ImpulseCandidateSettings& settings);
  std::span<const double> Signal() const { return y_; }
  std::span<const double> Envelope() const { return e_; }
  // Fills the candidate fields of `r` for `cut` (samples copied from Signal()).
  void FillRecord(const ImpulseCut& cut, const WaveBlockInfo& block, double sensitivity, ImpulseRecord& r) const;

 private:
  void Design(std::uint32_t rate);
  std::uint32_t designedRate_ = 0;
  FirstOrderFilter envelopeHighPass_, envelopeLowPass_;
  bool useHighPass_ = false;
  std::vector<double> y_, e_, sorted_;
};

// FFT length, band count and averaging decimation factor for a sample rate. Bands that would
// reach past half the rate (bins mirrored from below) are not counted.
struct ImpulseBandPlan {
  int fftLength = 16384;
  int bands = kImpulseMaxBands;
  int factor = 1;
};
ImpulseBandPlan BandPlanForRate(int sampleRate);
// First bin and width of each band.
inline constexpr int kImpulseFirstBin = 4;
extern const int kImpulseBandBins[kImpulseMaxBands];
extern const double kImpulseBandHz[kImpulseMaxBands];

// The running exposure: the first SEL, then the energy sum of every later one.
double AddExposure(double cumulative, double sel);

class ImpulseMeasurement {
 public:
  ImpulseMeasurement();
  ~ImpulseMeasurement();
  ImpulseMeasurement(const ImpulseMeasurement&) = delete;
  ImpulseMeasurement& operator=(const ImpulseMeasurement&) = delete;

  // Measures `r` in place: filters its samples, writes start, duration, SEL, SPL, peak and
  // band levels (every level minus `sensitivity`). False, with nothing written, when the
  // record holds no samples or no usable rate. `bins`, when given, receives each FFT bin used
  // as "re\tim\n".
  bool Measure(ImpulseRecord& r, double sensitivity, std::string* bins = nullptr);

 private:
  platform::RealFft& Fft(int length);
  int filterRate_ = 0;
  FirstOrderFilter highPass_;
  std::map<int, std::unique_ptr<platform::RealFft>> ffts_;
  std::vector<double> work_;
};

}  // namespace hylo
