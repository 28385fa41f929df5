// The listening filter against scipy.signal's designs, and its state across calls.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "processing/AudioFilter.h"
#include "support/RunTool.h"
#include "support/TempDir.h"

using namespace hylo;

TEST(AudioFilter, ResponseAgreesWithScipyFrom50HzTo20kHz) {
  test::TempDir dir;
  const auto py = dir.Path() / "response.py";
  std::ofstream(py) << "import sys, numpy as np\nfrom scipy import signal\n"
                       "fs = float(sys.argv[1]); f = np.array([float(v) for v in sys.argv[2:]])\n"
                       "if fs < 64000: sos = signal.butter(4, 150, 'highpass', fs=fs, output='sos')\n"
                       "else: sos = signal.cheby1(4, 0.1, [150, 20000], 'bandpass', fs=fs, output='sos')\n"
                       "w, h = signal.sosfreqz(sos, worN=f, fs=fs)\n"
                       "print(' '.join(repr(float(v)) for v in np.abs(h)))\n";
  for (double fs : {2000.0, 8000.0, 16000.0, 48000.0, 64000.0, 128000.0, 512000.0}) {
    AudioFilter filter;
    filter.Design(fs);
    EXPECT_EQ(filter.Type(),
              fs < 64000 ? AudioFilter::Kind::kButterworthHighPass : AudioFilter::Kind::kChebyshevBandPass);
    std::vector<double> freqs;
    for (double f = 50; f <= std::min(20000.0, 0.45 * fs); f *= 1.15) freqs.push_back(f);
    std::string command = std::string(HYLO_PYTHON) + " " + test::Quoted(py) + " " + std::to_string(fs);
    for (double f : freqs) command += " " + std::to_string(f);
    const auto result = test::RunTool(command);
    ASSERT_EQ(result.status, 0) << result.output;
    std::istringstream in(result.output);
    for (double f : freqs) {
      double expected = 0;
      ASSERT_TRUE(in >> expected) << result.output;
      const auto db = [](double m) { return 20 * std::log10(std::max(m, 1e-6)); };
      EXPECT_NEAR(db(filter.Magnitude(f)), db(expected), 0.5) << fs << " S/s at " << f << " Hz";
    }
  }
}

TEST(AudioFilter, StateCarriesAcrossCallsAndClears) {
  AudioFilter filter;
  filter.Design(8000);
  // A 1 kHz tone filtered in two halves settles to the designed gain; 60 Hz is cut.
  for (double hz : {1000.0, 60.0}) {
    filter.ClearState();
    std::vector<double> x(16000);
    for (std::size_t i = 0; i < x.size(); ++i)
      x[i] = std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / 8000);
    filter.Process(std::span(x).first(8000));
    filter.Process(std::span(x).subspan(8000));
    // Amplitude from the RMS of whole periods: sampled peaks miss the crest.
    double power = 0;
    for (std::size_t i = 8000; i < x.size(); ++i) power += x[i] * x[i];
    EXPECT_NEAR(std::sqrt(2 * power / 8000), filter.Magnitude(hz), 0.01) << hz;
  }
  EXPECT_LT(filter.Magnitude(60), 0.05);
  AudioFilter none;
  none.Design(400);  // nothing above 150 Hz to keep: passes unchanged
  std::vector<double> x{1, -2, 3};
  none.Process(x);
  EXPECT_EQ(x, (std::vector<double>{1, -2, 3}));
}

TEST(AudioFilter, TheOperatorsChoiceWhereTheRateAllowsIt) {
  using C = AudioFilter::Choice;
  using K = AudioFilter::Kind;
  struct Case {
    double fs;
    C choice;
    K kind;
  } cases[] = {{8000, C::kAuto, K::kButterworthHighPass},
               {64000, C::kAuto, K::kChebyshevBandPass},
               {64000, C::kHighPass, K::kButterworthHighPass},
               {48000, C::kBandPass, K::kChebyshevBandPass},
               {16000, C::kBandPass, K::kButterworthHighPass},
               {128000, C::kOff, K::kNone},
               {500, C::kAuto, K::kNone}};
  for (const auto& c : cases) {
    AudioFilter f;
    f.Design(c.fs, c.choice);
    EXPECT_EQ(f.Type(), c.kind) << c.fs << " choice " << static_cast<int>(c.choice);
    if (c.kind == K::kNone) {
      EXPECT_DOUBLE_EQ(f.Magnitude(1000), 1.0);
    }
  }
}
