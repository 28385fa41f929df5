// Calibrating on the simulator's noise floor: the installed ambient reference makes the same
// noise read near 0 dB Ambient, and the calibration file written meanwhile reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "files/HyloCalibrationFile.h"
#include "support/SimSession.h"

using namespace hylo;
using namespace hylo::test;

TEST(SimCalibration, TheSameNoiseReadsNearZeroDbAmbient) {
  SimSession s({"--model", "hf", "--firmware", "v2.1.0", "--rate", "64000", "--noise", "-50", "--seed", "11"});
  ASSERT_TRUE(s.Connect()) << s.sim.Line();
  std::mutex lock;
  std::vector<SpectrumRecord> after;
  bool collecting = false;
  s.hylo.Data().SetSpectrumTap([&](const SpectrumRecord& r) {
    std::lock_guard guard(lock);
    if (collecting && after.size() < 200) after.push_back(r);
  });
  s.hylo.JobSetup().SetStreamTransports({TRANSPORT_OFF, TRANSPORT_UDP});
  s.hylo.Scan().StartScanningCallback();
  s.hylo.Scan().WaitForChannels();

  HyloCal& cal = s.hylo.Data().Calibration();
  cal.StartCalibration(true);
  EXPECT_EQ(cal.ShowCalibrationTime(), "00:00");
  ASSERT_TRUE(WaitFor([&] { return cal.RecordCount() >= 40; }, 20000)) << cal.RecordCount() << " spectra";
  ASSERT_TRUE(cal.StartCalibration(false));
  HyloReference& ref = s.hylo.Data().Reference();
  EXPECT_EQ(ref.Unit(), UNIT_AMBIENT);
  EXPECT_EQ(ref.DisplayReference(), 0);
  {
    std::lock_guard guard(lock);
    collecting = true;
  }
  ASSERT_TRUE(WaitFor(
      [&] {
        std::lock_guard guard(lock);
        return after.size() >= 40;
      },
      20000));
  s.hylo.Scan().StopCallback();
  s.hylo.Data().SetSpectrumTap({});

  // Displayed level = byte + offset; the inner bins of the same noise sit near 0.
  const auto offsets = ref.Offsets();
  const int bins = static_cast<int>(after.front().binCount);
  ASSERT_GT(bins, 100);
  double sum = 0;
  int count = 0, far = 0;
  for (int bin = 2; bin < bins - 2; ++bin) {
    double mean = 0;
    for (const auto& r : after) mean += r.bins[bin] + offsets[static_cast<std::size_t>(bin)];
    mean /= static_cast<double>(after.size());
    sum += mean;
    ++count;
    if (std::abs(mean) > 4) ++far;
  }
  const double level = sum / count;
  // The smoothing's power sum of three bins less 3 dB puts the reference 1.8 dB over the mean.
  EXPECT_NEAR(level, -2, 1.5) << "mean displayed level of the calibrated noise, dB Ambient";
  EXPECT_LT(far, count / 20) << far << " of " << count << " bins more than 4 dB away";

  // The logging thread wrote the calibration file meanwhile; it reads back to the same noise.
  const auto file = s.hylo.Data().Logging().GetSettingsFolder() / "HF_CAL.txt";
  const auto reloaded = ReloadCalibration(file);
  ASSERT_TRUE(reloaded.has_value()) << file;
  const auto ambient = cal.Ambient();
  const int logged = std::min(bins, 410);  // a log line holds 2 × FFT size / 5 + 1 values
  int close = 0;
  for (int bin = 2; bin < logged - 2; ++bin)
    close += std::abs((*reloaded)[static_cast<std::size_t>(bin)] + 2 - ambient[static_cast<std::size_t>(bin)]) <= 2;
  EXPECT_GT(close, (logged - 4) * 9 / 10) << "the file's mean and the installed reference agree";
}
