#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "display/AxisTicks.h"

using namespace hylo;

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
