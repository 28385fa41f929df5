// Calibration: files read back (the current layout as our logging thread writes it, the two
// older layouts by their first lines), the history with its mean and smoothing, and the
// elapsed-time text.
#include <gtest/gtest.h>

#include <fstream>

#include "context/Hylo.h"
#include "files/HyloCalibrationFile.h"
#include "files/HyloLogging.h"
#include "processing/HyloCal.h"
#include "shell/ScriptedOperator.h"
#include "support/TestOptions.h"

using namespace hylo;
namespace fs = std::filesystem;

namespace {

SpectrumRecord Spectrum(int n) {
  SpectrumRecord r{};
  for (int i = 0; i < 512; ++i) r.bins[i] = static_cast<std::uint8_t>(100 + (i + n) % 7);
  r.sampleRate = 64000;
  r.fftLength = 1024;
  r.fftStep = 512;
  r.timeStamp = 1614834367 + static_cast<std::uint32_t>(n);
  return r;
}

// What the mean of bin i over records 0..n-1 must be, by the rounding rule.
int Expected(int bin, int n) {
  int sum = 0;
  for (int k = 0; k < n; ++k) sum += 100 + (bin + k) % 7;
  return (sum + n / 2 + 1) / n;
}

void WriteCurrent(const fs::path& p, int lines) {
  LoggingSettings s{p.parent_path()};
  std::ofstream out(p, std::ios::binary);
  out << FftLogHeader(Spectrum(0), {}, s, 2);
  for (int n = 0; n < lines; ++n) out << FftLogLine(Spectrum(n), "Calibration", {});
}

}  // namespace

TEST(Calibration, CurrentLayoutNeedsFiveLines) {
  test::TempDir dir;
  const fs::path p = dir.Path() / "HF_CAL.txt";
  WriteCurrent(p, 4);
  EXPECT_FALSE(ReloadCalibration(p).has_value()) << "4 data lines are not enough";
  WriteCurrent(p, 5);
  const auto mean = ReloadCalibration(p);
  ASSERT_TRUE(mean.has_value());
  for (int bin : {0, 1, 6, 200, 409}) EXPECT_EQ((*mean)[bin], Expected(bin, 5)) << bin;
  EXPECT_EQ((*mean)[410], 0) << "bins a line does not carry count as 0";
  EXPECT_FALSE(ReloadCalibration(dir.Path() / "missing.txt").has_value());
}

TEST(Calibration, OlderLayoutsByTheirFirstLine) {
  EXPECT_EQ(ClassifyCalibrationLine("Hylo V2.3.9 Log"), CalLayout::kOldest);
  EXPECT_EQ(ClassifyCalibrationLine("Hylo V2.4.0 Log"), CalLayout::kMiddle);
  // Found by fuzzing: a version too long for an int was undefined behaviour.
  EXPECT_EQ(ClassifyCalibrationLine("Hylo V99999.99999.99999"), CalLayout::kMiddle);
  EXPECT_EQ(ClassifyCalibrationLine("Hylo V8888888888884.4.0"), CalLayout::kNone);

  test::TempDir dir;
  const fs::path oldest = dir.Path() / "old.txt";
  {
    std::ofstream out(oldest, std::ios::binary);
    out << "Hylo V2.1.0\r\n";
    for (int i = 0; i < 7; ++i) out << "header " << i << "\r\n";
    for (int n = 0; n < 6; ++n) out << "10:00:0" << n << " \"dock\"\t21.5\t45.0\t" << n << "\t" << 90 + n << "\t7\r\n";
    out << "end of data\r\n";
  }
  const auto a = ReloadCalibration(oldest);
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ((*a)[0], (90 * 6 + 15 + 3 + 1) / 6);
  EXPECT_EQ((*a)[1], 7);

  const fs::path middle = dir.Path() / "mid.txt";
  {
    std::ofstream out(middle, std::ios::binary);
    out << "AurisondHF\r\n";
    for (int i = 0; i < 8; ++i) out << "header " << i << "\r\n";
    for (int n = 0; n < 4; ++n) out << "10:00:0" << n << "\ta\tb\tc\td\te\tf\t300\t" << 50 << "\r\n";
  }
  EXPECT_FALSE(ReloadCalibration(middle).has_value());
  std::ofstream(middle, std::ios::binary | std::ios::app) << "10:00:09\ta\tb\tc\td\te\tf\t300\t50\r\n";
  const auto b = ReloadCalibration(middle);
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ((*b)[0], 300 & 0xFF) << "the low eight bits of each value";
  EXPECT_EQ((*b)[1], 50);
}

TEST(Calibration, ReloadOnlyWhenTheUnitTypeChanges) {
  test::TempDir dir;
  WriteCurrent(dir.Path() / "LF_CAL.txt", 6);
  int applied = 0;
  CalibrationReloader reloader(dir.Path(), [&](const CalibrationSpectrum& s) {
    ++applied;
    EXPECT_EQ(s[3], Expected(3, 6));
  });
  EXPECT_TRUE(reloader.OnIdentity(2));
  EXPECT_FALSE(reloader.OnIdentity(2)) << "the same type again: no reload";
  EXPECT_FALSE(reloader.OnIdentity(5)) << "no HF file";
  EXPECT_FALSE(reloader.OnIdentity(9));
  EXPECT_TRUE(reloader.OnIdentity(2));
  EXPECT_EQ(applied, 2);
  EXPECT_EQ(CalibrationFileName(7), "HF_CAL.txt");
  EXPECT_EQ(CalibrationFileName(9), "");
}

TEST(Calibration, AnIdentityOfANewTypeLoadsItsSpectraIntoTheReferences) {
  test::TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, test::TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  WriteCurrent(hylo.Data().Logging().GetSettingsFolder() / "HF_CAL.txt", 5);
  DeviceIdentity id;
  id.modelCode = 2;  // no LF file: the references keep what they had
  hylo.Data().SetIdentity(id);
  EXPECT_EQ(hylo.Data().Reference().AmbientBins()[3], 0);
  id.modelCode = 5;
  hylo.Data().SetIdentity(id);
  for (int bin : {0, 3, 409}) EXPECT_EQ(hylo.Data().Reference().AmbientBins()[bin], Expected(bin, 5)) << bin;
  EXPECT_EQ(hylo.Data().Calibration().Ambient(), hylo.Data().Reference().AmbientBins()) << "the module holds it too";
  EXPECT_EQ(hylo.Data().Reference().AmbientBins()[410], 0) << "a log line carries 410 bins";
  EXPECT_EQ(hylo.MainExit(), 0);
}

TEST(Calibration, AFullScaleFileStaysFullScale) {
  test::TempDir dir;
  const fs::path p = dir.Path() / "LF_CAL.txt";
  LoggingSettings s{p.parent_path()};
  std::ofstream out(p, std::ios::binary);
  SpectrumRecord loud = Spectrum(0);
  std::fill(std::begin(loud.bins), std::end(loud.bins), std::uint8_t{255});
  out << FftLogHeader(loud, {}, s, 2);
  for (int n = 0; n < 6; ++n) out << FftLogLine(loud, "Calibration", {});
  out.close();
  const auto mean = ReloadCalibration(p);
  ASSERT_TRUE(mean.has_value());
  EXPECT_EQ((*mean)[5], 255) << "(6 × 255 + 3 + 1) / 6 rounds past the byte scale; it must not wrap to 0";
}

namespace {

SpectrumRecord Flat(std::uint8_t level, std::uint32_t bins = 512) {
  SpectrumRecord r{};
  std::fill(std::begin(r.bins), std::end(r.bins), level);
  r.binCount = bins;
  r.recordSeconds = 0.5;
  return r;
}

struct Cal : ::testing::Test {
  HyloCal cal;
  double now = 1000;
  std::optional<AmbientSpectrum> installed;
  int captures = 0;
  void SetUp() override {
    cal.SetClock([this] { return now; });
    cal.SetInstall([this](const AmbientSpectrum& a) { installed = a; });
    cal.SetCaptureRequest([this] { ++captures; });
  }
};

}  // namespace

TEST(CalMath, MeanRoundsAndStaysOnTheByteScale) {
  struct Case {
    std::uint64_t sum;
    int count;
    int expected;
  } cases[] = {
      {203, 2, 102},          // 100 and 103
      {100, 0, 101},          // no records count as one
      {255 * 800, 800, 255},  // the rounding's extra one must not wrap to 0
      {510, 2, 255},         {0, 5, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(CalibrationMean(c.sum, c.count), c.expected) << c.sum << "/" << c.count;
}

TEST(CalMath, SmoothingAcrossNeighbours) {
  struct Case {
    std::uint8_t level;
    int binCount;
    int bin0, inner, last;
  } cases[] = {
      {100, 512, 0, 102, 100},  // flat 100: 100 + round(4.77) − 3; the last two bins keep the mean
      {0, 410, 0, 2, 0},
      {255, 512, 0, 255, 255},  // kept within the scale rather than wrapping to 1
      {100, 2, 100, 100, 100},  // too few bins: unsmoothed
  };
  for (const auto& c : cases) {
    AmbientSpectrum m{};
    std::fill(m.begin(), m.begin() + c.binCount, c.level);
    const AmbientSpectrum s = SmoothAmbient(m, c.binCount);
    EXPECT_EQ(s[0], c.bin0) << int(c.level);
    if (c.binCount > 3) {
      EXPECT_EQ(s[static_cast<std::size_t>(c.binCount - 3)], c.inner) << int(c.level);
    }
    EXPECT_EQ(s[static_cast<std::size_t>(c.binCount - 1)], c.last) << int(c.level);
  }
}

TEST(CalMath, ElapsedText) {
  struct Case {
    double seconds;
    const char* text;
  } cases[] = {{0, "00:00"}, {59.9, "00:59"}, {61, "01:01"}, {5999, "99:59"}, {6000, "99:99"}, {-3, "00:00"}};
  for (const auto& c : cases) EXPECT_EQ(CalibrationTimeText(c.seconds), c.text) << c.seconds;
}

TEST_F(Cal, OnlyTheNewest800RecordsCount) {
  cal.StartCalibration(true);
  EXPECT_EQ(captures, 1);
  EXPECT_EQ(cal.ShowCalibrationTime(), "00:00");
  EXPECT_FALSE(cal.ShowCalibrationTime().has_value()) << "shown once per update";
  // 200 records at 50, then 800 at 120: the 50s must all be gone.
  for (int i = 0; i < 1000; ++i) {
    SpectrumRecord r = Flat(i < 200 ? 50 : 120);
    r.timeSeconds = 5000 + i * 0.5;
    cal.AddCalibrationRecord(r);
  }
  EXPECT_EQ(cal.RecordCount(), 800);
  EXPECT_DOUBLE_EQ(cal.FirstTime(), 5000 + 200 * 0.5) << "the oldest kept record's time";
  now += 100 * 60;
  cal.AddCalibrationRecord(Flat(120));
  EXPECT_EQ(cal.ShowCalibrationTime(), "99:99");
  ASSERT_TRUE(cal.StartCalibration(false));
  EXPECT_FALSE(cal.IsCalibrating());
  ASSERT_TRUE(installed.has_value());
  EXPECT_EQ((*installed)[0], 0);
  EXPECT_EQ((*installed)[100], 122) << "mean (96000 + 401) / 800 = 120, smoothed to 122";
}

TEST_F(Cal, TwoRecordsAverageWithRoundingAndAStartResetsTheCount) {
  cal.BeginCalibration();
  cal.AddCalibrationRecord(Flat(100, 410));
  cal.AddCalibrationRecord(Flat(103, 410));
  ASSERT_TRUE(cal.EndCalibration());
  // 102 averaged, then smoothed: 102 + round(4.77) − 3 = 104 inside, 102 in the last two bins.
  EXPECT_EQ((*installed)[200], 104);
  EXPECT_EQ((*installed)[409], 102);
  EXPECT_EQ((*installed)[410], 0) << "bins the records do not carry";
  cal.BeginCalibration();
  cal.AddCalibrationRecord(Flat(80, 410));
  ASSERT_TRUE(cal.EndCalibration());
  EXPECT_EQ((*installed)[408], 81) << "only the new record: (80 + 0 + 1) / 1";
}
