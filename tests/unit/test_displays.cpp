#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "display/AxisTicks.h"
#include "display/HyloSpectrum.h"
#include "display/HyloTimeSeries.h"
#include "display/HyloUIUpdate.h"
#include "support/TempDir.h"

using namespace hylo;

TEST(StatusTexts, ClockBatterySyncAndPower) {
  const std::time_t noon = 1700000000 - 1700000000 % 86400 + 12 * 3600;
  EXPECT_EQ(ClockText(noon, true, 7200), "12:00:00 UTC");
  EXPECT_EQ(ClockText(noon, false, 7200), "14:00:00 UTC+2.00");
  EXPECT_EQ(ClockText(noon, false, -5 * 3600), "7:00:00 UTC-5.00");
  EXPECT_EQ(EnvironmentText(-5, 0), "-0.5'C  0.0% RH");
  EXPECT_EQ(BatteryText(5, 0), "<5%");
  EXPECT_EQ(PowerStatusText(3, 1000, 1000), "Charge Complete");
}

TEST(UiUpdate, AnUnknownSyncModeKeepsTheLastText) {
  StatusStore store;
  PanelModel panel("status");
  HyloUIUpdate ui(store, panel);
  ui.SetLocalOffset([] { return 0L; });
  std::array<std::uint8_t, 24> sync{};
  sync[4] = 2;
  sync[5] = 4;
  store.SetSyncRecord(sync);
  ui.Refresh();
  EXPECT_EQ(panel.Text(statuspanel::kSyncStatus), "Master w/ Time");
  sync[4] = 9;
  store.SetSyncRecord(sync);
  ui.Refresh();
  EXPECT_EQ(panel.Text(statuspanel::kSyncStatus), "Master w/ Time");
}

TEST(TimeSeries, LabelDecimalsAndTheFirst768Samples) {
  EXPECT_EQ(TraceLabel(64000, 768), "64 kS/sec,   1.2 msec/div");
  EXPECT_EQ(TraceLabel(31250, 768), "31.25 kS/sec,   2.5 msec/div");
  HyloNodes nodes;
  ASSERT_EQ(nodes.CreateNodePool(), 0);
  ASSERT_EQ(nodes.CreateSampleBufferPool(), 0);
  WaveformRecord r{};
  r.sampleBuffer = nodes.AcquireSampleBuffer();
  r.sampleCount = 2000;
  r.sampleRate = 64000;
  r.voltsPerCount = 1e-6;
  auto* s = reinterpret_cast<std::int32_t*>(r.sampleBuffer->data);
  for (int i = 0; i < 2000; ++i) s[i] = 1000 + (i % 2 ? 500 : -500);
  HyloTimeSeries series;
  series.AddTrace(r);
  const TraceView view = series.DrawTrace();
  ASSERT_EQ(view.volts.size(), 768U);
  EXPECT_NEAR(view.volts[0], -500e-6, 1e-12) << "mean removed, in volts";
  EXPECT_NEAR(view.blockMeanVolts, 1000e-6, 1e-12);
  EXPECT_NEAR(view.smoothedRms, 0.25 * 500e-6, 1e-12);
  EXPECT_FALSE(series.DrawTrace().fresh);
  nodes.ReleaseSampleBuffer(r.sampleBuffer);
}

TEST(SpectrumStore, LineFilterBlanksAndTheZoomStopsAtItsLastLevel) {
  std::array<std::uint8_t, 512> bins;
  bins.fill(100);
  LineFilter(bins.data(), 512, 1000);  // bins of ~0.98 Hz
  for (int i = 0; i <= 10; ++i) EXPECT_EQ(bins[static_cast<std::size_t>(i)], 0) << i;
  EXPECT_EQ(bins[11], 100);
  int cleared = 0;
  for (int i = 40; i < 80; ++i) cleared += bins[static_cast<std::size_t>(i)] == 0;
  EXPECT_EQ(cleared, 9) << "nine bins around 60 Hz";

  HyloSpectrum spectrum;
  spectrum.SelectZoom(1e9);
  EXPECT_EQ(spectrum.ZoomLevel(), 6);
}

TEST(SpectrumStore, NineHundredMissedRecordsClearTheLevelAndBlanksRepeatTheLevels) {
  HyloSpectrum spectrum;
  SpectrumRecord r{};
  r.binCount = 512;
  r.sampleRate = 64000;
  r.recordSeconds = 0.25;
  r.levelsValid = 1;
  r.rmsLevel = 101;
  r.peakToPeakLevel = 110;
  r.zeroToPeakLevel = 104;
  std::memset(r.bins, 120, 512);
  for (int i = 0; i < 3; ++i) spectrum.AddSpectrum(r);
  r.missedRecords = 2;
  r.rmsLevel = 99;
  spectrum.AddSpectrum(r);
  SpectrogramView view = spectrum.View();
  ASSERT_EQ(view.levels.size(), 800U);
  EXPECT_EQ(view.levels[799].rms, 99);
  EXPECT_EQ(view.levels[798].rms, 101) << "a blank column repeats the last levels";
  EXPECT_EQ(view.columnsAdded, 6U);

  r.missedRecords = 900;
  std::memset(r.bins, 130, 512);
  spectrum.AddSpectrum(r);
  EXPECT_EQ(spectrum.StoredBin(0, 0, 0, 3), 130);
  for (int back = 1; back < 800; ++back) {
    ASSERT_EQ(spectrum.StoredBin(0, 1, back, 3), 0) << "column " << back << " back";
  }
  view = spectrum.View();
  for (int c = 0; c < 799; ++c) ASSERT_EQ(view.image[static_cast<std::size_t>(c) * 512 + 3], 0) << c;
}

TEST(SpectrumStore, NoiseCompareCurveLoadsFrom512NumbersAndFollowsTheVoltUnits) {
  test::TempDir dir;
  const auto good = dir.Path() / "noise.csv";
  {
    std::ofstream out(good);
    for (int i = 0; i < 512; ++i)
      out << (i == 0 ? "40000.7" : i == 1 ? "-12.9" : std::to_string(60 + i % 7) + ".5") << "\n";
  }
  HyloSpectrum spectrum;
  EXPECT_TRUE(spectrum.View().noiseCompare.empty());
  ASSERT_TRUE(spectrum.LoadNoiseCompare(good));
  SpectrogramView view = spectrum.View();
  ASSERT_EQ(view.noiseCompare.size(), 410U);
  EXPECT_EQ(view.noiseCompare[0], 32767) << "held at the 16-bit bound";
  EXPECT_EQ(view.noiseCompare[1], -12) << "truncated";
  EXPECT_EQ(view.noiseCompare[2], 62);
  ReferenceTable table{};
  table.unit = UNIT_DBV;
  spectrum.SetReferenceTable(table);
  spectrum.SetDisplayToNyquist(true);
  view = spectrum.View();
  ASSERT_EQ(view.noiseCompare.size(), 512U);
  EXPECT_EQ(view.noiseCompare[2], 62 - 120) << "shifted for the volt units";

  const auto shortFile = dir.Path() / "short.csv";
  {
    std::ofstream out(shortFile);
    for (int i = 0; i < 511; ++i) out << "1\n";
  }
  EXPECT_FALSE(spectrum.LoadNoiseCompare(shortFile));
  EXPECT_TRUE(spectrum.View().noiseCompare.empty()) << "a failed read leaves no curve loaded";
  EXPECT_FALSE(spectrum.LoadNoiseCompare(dir.Path() / "missing.csv"));
}

TEST(StatusTexts, SyncIndicatorByModelFirmwareAndFeatureLevel) {
  constexpr auto fw = [](std::uint32_t a, std::uint32_t b, std::uint32_t c) { return a * 65536U + b * 256U + c; };
  EXPECT_TRUE(SyncIndicatorShown(5, fw(2, 1, 0), 2));
  EXPECT_FALSE(SyncIndicatorShown(5, fw(2, 1, 0), 1)) << "feature level below 2";
  EXPECT_FALSE(SyncIndicatorShown(7, fw(2, 0, 9), 3));
  EXPECT_TRUE(SyncIndicatorShown(2, fw(2, 7, 0), 0)) << "LF needs no feature level";
  EXPECT_FALSE(SyncIndicatorShown(2, fw(2, 6, 9), 5));
}

TEST(SpectrumStore, BandLevelOverTheAcousticBandLessTheCorrectionInDensityUnits) {
  std::array<std::uint8_t, 512> bins;
  bins.fill(100);
  bins[408] = 250;  // above the band: not counted
  EXPECT_NEAR(BandLevel(bins.data(), 512), 100 + 10 * std::log10(408.0), 1e-9);
  EXPECT_EQ(BandLevel(bins.data(), 1), 0) << "no bins in the band";

  HyloSpectrum spectrum;
  ReferenceTable table{};
  table.unit = UNIT_UPA_DENSITY;
  table.densityCorrection = 18;
  spectrum.SetReferenceTable(table);
  SpectrumRecord r{};
  r.binCount = 512;
  r.sampleRate = 64000;
  r.restart = 1;
  std::copy(bins.begin(), bins.end(), r.bins);
  spectrum.AddSpectrum(r);
  // bandCorrection = trunc(10·log10(0.8 × 512) + 18) = 44
  EXPECT_NEAR(spectrum.View().bandLevel, 100 + 10 * std::log10(408.0) - 44, 1e-9);
}

namespace {
std::vector<std::string> Labels(const std::vector<AxisTick>& ticks) {
  std::vector<std::string> out;
  for (const auto& t : ticks) out.push_back(t.label);
  return out;
}
}  // namespace

TEST(AxisTicks, RoundStepsAndUnits) {
  struct Case {
    std::vector<AxisTick> ticks;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {NiceTicks(0, 100, 5, "dB"), {"0 dB", "20 dB", "40 dB", "60 dB", "80 dB", "100 dB"}},
      {NiceTicks(-1, 1, 4), {"-1.0", "-0.5", "0.0", "0.5", "1.0"}},
      {FrequencyTicks(0, 1000, 5), {"0 Hz", "200 Hz", "400 Hz", "600 Hz", "800 Hz", "1000 Hz"}},
      {FrequencyTicks(0, 12800, 4), {"0 kHz", "5 kHz", "10 kHz"}},
      {TimeTicks(-200, 0, 4), {"-200 s", "-150 s", "-100 s", "-50 s", "0 s"}},
      {TimeTicks(-3600, 0, 3), {"-60 min", "-40 min", "-20 min", "0 min"}},
      {TimeTicks(-4 * 86400, 0, 2), {"-50 h", "0 h"}},
      {NiceTicks(5, 5, 4), {}},
      {NiceTicks(0, std::numeric_limits<double>::infinity(), 4), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Labels(c.ticks), c.labels);
  const auto kHz = FrequencyTicks(0, 12800, 4);
  ASSERT_EQ(kHz.size(), 3U);
  EXPECT_DOUBLE_EQ(kHz[1].value, 5000);
  EXPECT_EQ(FormatFrequency(1000), "1000.0 Hz");
  EXPECT_EQ(FormatFrequency(12500), "12.50 kHz");
  EXPECT_EQ(FormatSeconds(-12.5), "-12.50 s");
  EXPECT_EQ(FormatSeconds(-900), "-15.0 min");
}
