// The listening filter against scipy.signal's designs, and the operator's choice of filter.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
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
