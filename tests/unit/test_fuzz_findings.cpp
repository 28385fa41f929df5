// Inputs the fuzz targets found, kept as plain tests so the fix stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "config/SetupFile.h"
#include "link/DeviceIdentity.h"
#include "support/SetupUnit.h"
#include "support/TempDir.h"

using namespace hylo;
using namespace hylo::setup;

// An accumulation the unit takes (15 × 512 / 32000 = 0.24 s, four spectra a second by its
// integer check) must not come back from the panel as one FFT per step: saved and loaded
// again, the FFT setup is still accepted and the file no longer changes.
TEST(FuzzFindings, ShortAccumulationSurvivesSaveAndLoad) {
  test::TempDir dir;
  const auto in = dir.Path() / "in.cfg";
  std::ofstream(in) << "$FFT_REF_LEVEL = -150\n$FFT_SAMPLE_RATE = 32000\n$FFT_TYPE = 4\n$FFT_ACCUM = 15\n";
  const SetupContext af = test::SetupUnit(kModelAf, "v2.1.0");
  Notices notices;
  JobSetup first;
  ReadSetupFile(in, first, af, notices, 0);
  ASSERT_TRUE(notices.empty()) << notices.front();
  EXPECT_EQ(first.accumulationTime, 0.25);

  const auto once = dir.Path() / "once.cfg", twice = dir.Path() / "twice.cfg";
  ASSERT_TRUE(WriteSetupFile(once, first, af, notices));
  JobSetup second;
  ReadSetupFile(once, second, af, notices, 0);
  EXPECT_TRUE(std::find(notices.begin(), notices.end(), kFftFileErrorText) == notices.end());
  ASSERT_TRUE(WriteSetupFile(twice, second, af, notices));
  const std::string text = test::ReadFile(once);
  EXPECT_NE(text.find("$FFT_ACCUM = 16\n"), std::string::npos) << text;
  EXPECT_EQ(text, test::ReadFile(twice));
}

// A 16-bit wave log of 63 minutes at 128000 samples/s (968 MB) is accepted; the panel sends
// 24-bit, so the built record must shorten the file to stay under the unit's 1 GB, or the
// saved setup comes back refused.
TEST(FuzzFindings, WiderLogFormatKeepsFilesUnderOneGigabyte) {
  test::TempDir dir;
  const auto in = dir.Path() / "in.cfg";
  std::ofstream(in) << "$WAVE_SAMPLE_RATE = 128000\n$WAVE_LOG_MODE = 1\n$WAVE_LOG_LENGTH = 63\n"
                       "$WAVE_BIT_DEPTH = 16\n";
  const SetupContext hf = test::SetupUnit(kModelHf, "v1.4.0", 0);
  Notices notices;
  JobSetup first;
  ReadSetupFile(in, first, hf, notices, 0);
  ASSERT_TRUE(std::find(notices.begin(), notices.end(), kWaveFileErrorText) == notices.end());
  const WaveSetup built = BuildWaveSetup(first, hf, notices);
  EXPECT_EQ(built.dataFormat & 0x7F, 3);
  EXPECT_EQ(built.logLength, 43) << "1e9 / (128000 × 3 × 60) minutes";
  EXPECT_EQ(CheckSetupRecord(built), 0);

  const auto once = dir.Path() / "once.cfg", twice = dir.Path() / "twice.cfg";
  ASSERT_TRUE(WriteSetupFile(once, first, hf, notices));
  JobSetup second;
  ReadSetupFile(once, second, hf, notices, 0);
  EXPECT_TRUE(std::find(notices.begin(), notices.end(), kWaveFileErrorText) == notices.end());
  ASSERT_TRUE(WriteSetupFile(twice, second, hf, notices));
  EXPECT_EQ(test::ReadFile(once), test::ReadFile(twice));
}
