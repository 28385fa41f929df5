#pragma once
// The listening filter: a 4th-order Butterworth high-pass at 150 Hz below 64 000 samples/s,
// a 4th-order Chebyshev (0.1 dB ripple) band-pass from 150 Hz to 20 kHz at 64 000 or more.
// Designed by the bilinear transform of the analogue prototype and run as second-order
// sections, which stay stable where one 8th-order polynomial would not at high rates.
#include <array>
#include <complex>
#include <span>
#include <vector>

namespace hylo {

struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;  // a0 = 1
  double s1 = 0, s2 = 0;                          // transposed direct form II state
};

class AudioFilter {
 public:
  enum class Kind { kNone, kButterworthHighPass, kChebyshevBandPass };
  static constexpr double kLowEdgeHz = 150;
  static constexpr double kHighEdgeHz = 20000;
  static constexpr double kRippleDb = 0.1;
  static constexpr int kOrder = 4;

  // The operator's choice: by the rate (the default), one of the two, or none.
  enum class Choice { kAuto, kHighPass, kBandPass, kOff };
  // The filter for a waveform rate (none for rates too low to pass anything above 150 Hz; the
  // band-pass needs a rate above 40 000, else the high-pass serves).
  void Design(double sampleRate, Choice choice = Choice::kAuto);
  void ClearState();
  // Filters in place; the state carries over to the next call.
  void Process(std::span<double> samples);
  // |H| at `hz`, from the designed sections.
  double Magnitude(double hz) const;
  Kind Type() const { return kind_; }
  const std::vector<Biquad>& Sections() const { return sections_; }

 private:
  Kind kind_ = Kind::kNone;
  double rate_ = 0;
  std::vector<Biquad> sections_;
};

}  // namespace hylo
