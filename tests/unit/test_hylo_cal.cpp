// The calibration history, its mean and smoothing, and the elapsed-time text.
#include <gtest/gtest.h>

#include "processing/HyloCal.h"

using namespace hylo;

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
  } cases[] = {{0, "00:00"},    {59.9, "00:59"},     {61, "01:01"}, {5999, "99:59"},
               {6000, "99:99"}, {100 * 60, "99:99"}, {-3, "00:00"}};
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
