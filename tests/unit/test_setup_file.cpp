#include <gtest/gtest.h>

#include <algorithm>

#include "config/SetupFile.h"
#include "link/DeviceIdentity.h"
#include "support/SetupUnit.h"
#include "support/TempDir.h"

using namespace hylo;
using namespace hylo::setup;

namespace {

SetupContext Hf210() { return test::SetupUnit(kModelHf, "v2.1.0"); }

bool Contains(const Notices& n, std::string_view text) { return std::find(n.begin(), n.end(), text) != n.end(); }

}  // namespace

TEST(SetupFile, WrittenKeyLinesExactly) {
  test::TempDir dir;
  const auto path = dir.Path() / "a.cfg";
  JobSetup s;
  s.waveBandwidthHz = 51200;
  s.waveLogChoice = kLogDutyCycle;
  s.waveMaxLogLength = 15;
  s.dutyRunMinutes = 10;
  s.dutyCycleMinutes = 60;
  s.spectrumBandwidthHz = 12800;
  s.overlap = 0.5;
  s.accumulationTime = 1;
  s.fftTypeChoice = kFftFilter;
  s.refLevel = -150;
  s.fftLogChoice = kFftEpoch;
  s.fftMaxLogLength = 20;
  s.syncPinMode = 1;
  s.wakeFromStandby = true;
  s.timeSource = true;
  Notices n;
  ASSERT_TRUE(WriteSetupFile(path, s, Hf210(), n));
  EXPECT_EQ(test::ReadFile(path),
            "$WAVE_GAIN = 0\n"
            "$WAVE_SAMPLE_RATE = 128000\n"
            "$WAVE_LOG_MODE = 1\n"
            "$WAVE_LOG_LENGTH = 15\n"
            "$WAVE_BIT_DEPTH = 24\n"
            "$WAVE_ENDIAN = 1\n"
            "$FFT_REF_LEVEL = -150\n"
            "$FFT_SAMPLE_RATE = 32000\n"
            "$FFT_TYPE = 6\n"
            "$FFT_ACCUM = 63\n"
            "$FFT_WEIGHT = 21\n"
            "$FFT_LOG_MODE = 2\n"
            "$FFT_LOG_LENGTH = 20\n"
            "$LOG_START_TIME = -1\n"
            "$DUTY_RUN_TIME = 10\n"
            "$DUTY_CYCLE_TIME = 60\n"
            "$DUTY_IGNORE_TIME_CHANGE = 0\n"
            "$AUX_PIN = 33\n"
            "$TIME_SRC = 1\n");
}

TEST(SetupFile, RunTimeWithoutCycleTimeFailsDutyCycle) {
  Notices n;
  const auto r = SetupFileToRecords(ParseSetupFileText("$DUTY_RUN_TIME = 10\n"), n);
  EXPECT_FALSE(r.duty);
  EXPECT_TRUE(Contains(n, kDutyFileErrorText));
  EXPECT_TRUE(r.wave && r.fft && r.startTime) << "the other records still load";
  JobSetup s;
  s.dutyRunMinutes = 3;
  s.dutyCycleMinutes = 9;
  ApplySetupFileRecords(s, Hf210(), r, 0);
  EXPECT_EQ(s.dutyRunMinutes, 3);
  EXPECT_EQ(s.dutyCycleMinutes, 9);
}

TEST(SetupFile, OlderNames) {
  auto v = ParseSetupFileText("$WAVE_DATA_FMT = 130\n");
  EXPECT_EQ(v.value[kWaveBitDepth], 16);
  EXPECT_EQ(v.value[kWaveEndian], 1);
  Notices n;
  const auto r = SetupFileToRecords(v, n);
  ASSERT_TRUE(r.wave);
  EXPECT_EQ(r.wave->dataFormat, 0x82);

  // "$FFT_WEIGHT_FACTOR" contains "$FFT_WEIGHT", which comes first.
  v = ParseSetupFileText("$FFT_WEIGHT_FACTOR = 3\n");
  EXPECT_EQ(v.value[kFftWeight], 3);
  EXPECT_TRUE(v.present.test(kFftWeight));
  EXPECT_FALSE(v.present.test(kOldFftWeightFactor));

  v = ParseSetupFileText("$DUTY_RUN_DURATION = 4\n$DUTY_WAIT_DURATION = 6\n");
  EXPECT_EQ(v.value[kDutyCycleTime], 10);

  // Newer names win over older ones.
  v = ParseSetupFileText("$FFT_NUM_ACCUM = 9\n$FFT_ACCUM = 7\n");
  EXPECT_EQ(v.value[kFftAccum], 7);
}

TEST(SetupFile, LineParsing) {
  const auto v = ParseSetupFileText(
      "# comment\n"
      " $WAVE_GAIN = 12\n"           // not at line start: ignored
      "$WAVE_SAMPLE_RATE=64000\r\n"  // no blanks, CR LF
      "$FFT_TYPE\n"                  // no "="
      "$FFT_ACCUM = \n"              // no value
      "$FFT_REF_LEVEL = -150 dBV\n"
      "$UNKNOWN_KEY = 5\n"
      "$TIME_SRC = +1");
  EXPECT_EQ(v.value[kWaveGain], 0);
  EXPECT_EQ(v.value[kWaveSampleRate], 64000);
  EXPECT_FALSE(v.present.test(kFftType));
  EXPECT_FALSE(v.present.test(kFftAccum));
  EXPECT_EQ(v.value[kFftAccum], 32);
  EXPECT_EQ(v.value[kFftRefLevel], -150);
  EXPECT_EQ(v.value[kTimeSrc], 1);
}

struct FileCase {
  const char* text;
  std::string_view failed;  // the record the file cannot make: wave, fft, duty or sync
  std::string_view notice;
};
class FileRecords : public testing::TestWithParam<FileCase> {};

TEST_P(FileRecords, OnlyTheBadRecordFailsWithItsText) {
  const FileCase& c = GetParam();
  Notices n;
  const auto r = SetupFileToRecords(ParseSetupFileText(c.text), n);
  EXPECT_EQ(r.wave.has_value(), c.failed != "wave");
  EXPECT_EQ(r.fft.has_value(), c.failed != "fft");
  EXPECT_EQ(r.duty.has_value(), c.failed != "duty");
  EXPECT_EQ(r.syncPinMode.has_value(), c.failed != "sync");
  EXPECT_TRUE(c.notice.empty() ? n.empty() : Contains(n, c.notice)) << (n.empty() ? "" : n[0]);
}

INSTANTIATE_TEST_SUITE_P(
    SetupFile, FileRecords,
    testing::Values(FileCase{"$FFT_TYPE = 0\n", "fft", "Error in FFT setup"},  // no overlap
                    FileCase{"$AUX_PIN = 37\n", "sync", "Error in sync setup"},
                    FileCase{"$AUX_PIN = 33\n$TIME_SRC = 1\n", "", ""},
                    FileCase{"$WAVE_SAMPLE_RATE = 512000\n$WAVE_BIT_DEPTH = 16\n$WAVE_LOG_MODE = 1\n"
                             "$WAVE_LOG_LENGTH = 17\n",
                             "wave", "Error in wave setup"},
                    FileCase{"$WAVE_SAMPLE_RATE = 512000\n$WAVE_BIT_DEPTH = 16\n$WAVE_LOG_MODE = 1\n"
                             "$WAVE_LOG_LENGTH = 16\n",
                             "", ""},
                    // Out-of-field values fail instead of wrapping to valid ones (65536 + 6, 65536 + 32).
                    FileCase{"$WAVE_GAIN = 65542\n$WAVE_BIT_DEPTH = 16\n", "wave", "Error in wave setup"},
                    FileCase{"$FFT_ACCUM = 65568\n", "fft", "Error in FFT setup"},
                    // An unreadable value is no value.
                    FileCase{"$DUTY_RUN_TIME = 99999999999999999999\n", "", ""}));

TEST(SetupFile, SyncPinFlagsAndTheFftTypeWithoutOverlap) {
  Notices n;
  const auto r = SetupFileToRecords(ParseSetupFileText("$AUX_PIN = 33\n$TIME_SRC = 1\n"), n);
  EXPECT_EQ(r.syncPinMode, 1);
  EXPECT_TRUE(r.wakeFromStandby && r.timeSource);
  JobSetup s;
  s.overlap = 0;
  EXPECT_NE(FormatSetupFile(s, Hf210(), n).find("$FFT_TYPE = 0\n"), std::string::npos);
}

TEST(SetupFile, CheckSetupRecordBits) {
  EXPECT_EQ(CheckSetupRecord(WaveSetup{0, 32000, 0, 0, 0x83, 0}), 0);
  EXPECT_EQ(CheckSetupRecord(WaveSetup{7, 32000, 0, 0, 0x82, 0}), 1);
  EXPECT_EQ(CheckSetupRecord(WaveSetup{0, 33000, 0, 0, 0x83, 0}), 2);
  EXPECT_EQ(CheckSetupRecord(WaveSetup{0, 32000, 0, 0, 0x85, 0}), 4);
  EXPECT_EQ(CheckSetupRecord(WaveSetup{0, 32000, 1, 0, 0x83, 0}), 16);
  EXPECT_EQ(CheckSetupRecord(WaveSetup{0, 32000, 1, 10, 0x03, 0}), 4);
  // Out of range and logged: bit 4 once, never 4 + 4 = the FFT bit.
  EXPECT_EQ(CheckSetupRecord(WaveSetup{0, 32000, 1, 10, 0x85, 0}), 4);
  EXPECT_EQ(CheckSetupRecord(FftSetup{-120, 32000, 1024, 4, 512, 32, 0, 0, 0}), 0);
  EXPECT_EQ(CheckSetupRecord(FftSetup{-120, 32000, 1024, 6, 512, 32, 0, 0, 0}), 8);
  EXPECT_EQ(CheckSetupRecord(FftSetup{-110, 32000, 1024, 4, 512, 32, 0, 0, 0}), 8);
  EXPECT_EQ(CheckSetupRecord(FftSetup{-120, 32000, 1024, 4, 512, 0, 0, 0, 0}), 8);
  EXPECT_EQ(CheckSetupRecord(FftSetup{-120, 31000, 1024, 4, 512, 32, 0, 1, 0}), 2 | 16);
  // 512000 / (1 × 512) = 1000 spectra a second is too many.
  EXPECT_EQ(CheckSetupRecord(FftSetup{-120, 512000, 1024, 4, 512, 1, 0, 0, 0}), 8);
  EXPECT_EQ(CheckSetupRecord(StartTimeSetup{1, 0, 0}), 0xFFF7);
  EXPECT_EQ(CheckSetupRecord(DutyCycleSetup{0, 0, 0, 1}), 0xFFF7);
  EXPECT_EQ(CheckSetupRecord(PackSetupParamList({})), 0);
  const std::vector<std::uint8_t> shortWave = {0x0E, 0x00, 0x0C};
  EXPECT_EQ(CheckSetupRecord(shortWave), 0xFFFD);
}

TEST(SetupFile, NonsenseFilesAreRefusedCleanly) {
  test::TempDir dir;
  const auto path = dir.Path() / "junk.cfg";
  std::string junk(5000, '$');
  junk += "=\n$=\n$==\n=$\n$AUX_PIN=-99999999999999999999999\n";
  junk += "$WAVE_GAIN = 6";
  junk.push_back('\0');
  junk += "\n$FFT_TYPE = 9\n";
  test::WriteFile(path, junk);
  JobSetup s;
  Notices n;
  ReadSetupFile(path, s, Hf210(), n, 0);
  EXPECT_TRUE(Contains(n, "Error in FFT setup"));
  EXPECT_TRUE(Contains(n, "Error in wave setup"));  // gain 6 with 24-bit data
  EXPECT_FALSE(Contains(n, "Error in sync setup"));
}
