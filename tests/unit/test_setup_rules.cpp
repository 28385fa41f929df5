#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "config/SetupDerived.h"
#include "link/DeviceIdentity.h"
#include "support/SetupUnit.h"

using namespace hylo;
using namespace hylo::setup;

namespace {

SetupContext Hf(const char* firmware, std::uint8_t level = 2, bool serial = false) {
  return test::SetupUnit(kModelHf, firmware, level, serial);
}
SetupContext Lf(const char* firmware) { return test::SetupUnit(kModelLf, firmware); }

bool Contains(const Notices& n, std::string_view text) { return std::find(n.begin(), n.end(), text) != n.end(); }

}  // namespace

struct WaveCase {
  const char* firmware;
  std::uint32_t bandwidth;
  bool advanced;
  std::uint8_t format;
  int gain;
  int logChoice;
  std::uint8_t sentFormat;
  int sentGain;
  std::uint32_t sentRate;  // 0: not checked
  std::string_view notice;
};
class WaveRules : public testing::TestWithParam<WaveCase> {};

TEST_P(WaveRules, FormatGainAndRateSent) {
  const WaveCase& c = GetParam();
  JobSetup s;
  s.waveBandwidthHz = c.bandwidth;
  s.advancedDisplay = c.advanced;
  s.dataFormat = c.format;
  s.gain = c.gain;
  s.waveLogChoice = c.logChoice;
  Notices n;
  const WaveSetup w = BuildWaveSetup(s, Hf(c.firmware), n);
  EXPECT_EQ(w.dataFormat, c.sentFormat);
  if (c.advanced && !c.notice.empty()) {
    EXPECT_EQ(s.dataFormat, c.sentFormat) << "a correction shows on the panel";
  }
  EXPECT_EQ(w.gain, c.sentGain);
  EXPECT_EQ(w.sampleRate, c.sentRate ? c.sentRate : w.sampleRate);
  EXPECT_TRUE(c.notice.empty() ? n.empty() : Contains(n, c.notice));
}

INSTANTIATE_TEST_SUITE_P(
    SetupRules, WaveRules,
    testing::Values(WaveCase{"v2.1.0", 12800, true, 0x83, 12, kLoggingOff, 0x83, 0, 32000, {}},  // no gain at 24 bit
                    WaveCase{"v2.1.0", 12800, true, 0x82, 12, kLoggingOff, 0x82, 12, 0, {}},
                    WaveCase{"v2.1.0", 12800, false, 0x82, 12, kLoggingOff, 0x83, 0, 0, {}},  // simple: no gain
                    WaveCase{"v1.2.9", 12800, true, 0x82, 12, kLoggingOff, 0x03, 0, 0, {}},
                    WaveCase{"v2.0.0", 204800, false, 0x83, 0, kLoggingOff, 0x82, 0, 512000, {}},
                    WaveCase{"v2.1.0", 204800, false, 0x83, 0, kLoggingOff, 0x83, 0, 512000, {}},
                    WaveCase{"v2.0.0", 204800, true, 0x04, 0, kLoggingOff, 0x02, 0, 0, k512kSixteenBitText},
                    WaveCase{"v2.1.0", 12800, true, 0x04, 0, kLogContinuous, 0x83, 0, 0, kNo32BitLoggingText},
                    WaveCase{"v1.3.5", 204800, false, 0x83, 0, kLoggingOff, 0x82, 0, 256000, kNo512kText}));

struct FftCase {
  std::uint32_t bandwidth;
  double overlap;
  double accumulationTime;
  int typeChoice;
  int type, step, accumulation, weight;  // -1: not checked
  std::string_view notice;
};
class FftRules : public testing::TestWithParam<FftCase> {};

TEST_P(FftRules, TypeStepAccumulationAndWeight) {
  const FftCase& c = GetParam();
  JobSetup s;
  s.spectrumBandwidthHz = c.bandwidth;
  s.overlap = c.overlap;
  s.accumulationTime = c.accumulationTime;
  s.fftTypeChoice = c.typeChoice;
  Notices n;
  const FftSetup f = BuildFftSetup(s, Hf("v2.1.0"), n);
  // A case's -1 takes what was built.
  EXPECT_EQ(f.fftType, c.type < 0 ? f.fftType : c.type);
  EXPECT_EQ(f.fftStep, c.step < 0 ? f.fftStep : c.step);
  EXPECT_EQ(f.accumulation, c.accumulation < 0 ? f.accumulation : c.accumulation);
  EXPECT_EQ(f.weight, c.weight < 0 ? f.weight : c.weight);
  EXPECT_EQ(f.fftLength, 1024);
  EXPECT_TRUE(c.notice.empty() ? n.empty() : Contains(n, c.notice));
}

INSTANTIATE_TEST_SUITE_P(SetupRules, FftRules,
                         testing::Values(FftCase{25600, 0.5, 1.0, kFftMean, 4, 512, 125, 0, {}},
                                         FftCase{25600, 0.0, 1.0, kFftMean, 0, 1024, -1, -1, {}},
                                         FftCase{25600, 0.75, 1.0, kFftPeak, 5, -1, -1, -1, {}},
                                         FftCase{25600, 0.5, 1.0, kFftFilter, 6, -1, 125, (125 + 2) / 3, {}},
                                         // 0.25 × 1000 / 512 rounds up to 1.
                                         FftCase{400, 0.5, 0.25, kFftMean, -1, -1, 1, -1, {}},
                                         // 240000 FFTs would wrap to 43392.
                                         FftCase{102400, 0.9375, 60, kFftMean, -1, 64, 65535, -1,
                                                 kAccumulationClampedText}));

TEST(SetupRules, StreamTransportCodes) {
  Notices n;
  // Off 0, TCP 2, the command link 3 on a serial link or while the unit logs.
  for (const auto& [streaming, logChoice, serial, code] :
       {std::tuple{false, kLoggingOff, false, 0}, std::tuple{true, kLoggingOff, false, 2},
        std::tuple{true, kLoggingOff, true, 3}, std::tuple{true, kLogContinuous, false, 3}}) {
    JobSetup s;
    s.waveStreaming = streaming;
    s.waveLogChoice = logChoice;
    BuildWaveSetup(s, Hf("v2.2.0", 2, serial), n);
    EXPECT_EQ(s.waveStreamCode, code) << streaming << logChoice << serial;
  }
  JobSetup s;
  s.fftLogChoice = kFftEpoch;
  BuildFftSetup(s, Hf("v2.2.0"), n);
  EXPECT_EQ(s.fftStreamCode, 3);
}

TEST(SetupRules, DutyCycleRecords) {
  JobSetup s;
  s.waveLogChoice = kLogContinuous;
  s.dutyRunMinutes = 10;
  s.dutyCycleMinutes = 60;
  EXPECT_EQ(BuildDutyCycleSetup(s), (DutyCycleSetup{0, 0, 0, 0}));
  s.waveLogChoice = kLogDutyCycle;
  EXPECT_EQ(BuildDutyCycleSetup(s), (DutyCycleSetup{10, 50, 0, 0}));
  // Run above cycle is lowered to the cycle.
  s.dutyRunMinutes = 90;
  EXPECT_EQ(BuildDutyCycleSetup(s), (DutyCycleSetup{0, 1, 0, 0}));
  EXPECT_EQ(s.dutyRunMinutes, 60);
  // A delayed start just over a minute away rounds up; one in the past is no delay.
  const std::uint32_t now = 1'700'000'000;
  s.waveLogChoice = kLogContinuous;
  s.enableDelay = true;
  s.startTime = now + 61;
  EXPECT_EQ(BuildLegacyDutyCycleSetup(s, now), (LegacyDutyCycleSetup{0, 0, 1, 2}));
  ReadBack(s, StartTimeSetup{0, now - 100, 0}, now);
  EXPECT_FALSE(s.enableDelay);
}

TEST(SetupRules, ReadBackFftSnapsAccumulationTime) {
  JobSetup s;
  // 375 × 512 / 64000 = 3 s → 2 s.
  ASSERT_TRUE(ReadBack(s, Hf("v2.1.0"), FftSetup{-130, 64000, 1024, 5, 512, 375, 0, 2, 10}));
  EXPECT_EQ(s.accumulationTime, 2.0);
  EXPECT_EQ(s.spectrumBandwidthHz, 25600u);
  EXPECT_EQ(s.fftTypeChoice, kFftPeak);
  EXPECT_EQ(s.fftLogChoice, kFftEpoch);
  EXPECT_EQ(SnapAccumulationTime(4999), 3600);
}

TEST(SetupRules, ReadBackRefusesZeroDivisors) {
  JobSetup s;
  const JobSetup before = s;
  EXPECT_FALSE(ReadBack(s, Hf("v2.1.0"), FftSetup{-120, 0, 1024, 4, 512, 32, 0, 0, 0}));
  EXPECT_FALSE(ReadBack(s, Hf("v2.1.0"), FftSetup{-120, 32000, 0, 4, 512, 32, 0, 0, 0}));
  EXPECT_FALSE(ReadBack(s, Hf("v2.1.0"), FftSetup{-120, 32000, 1024, 4, 0, 32, 0, 0, 0}));
  EXPECT_FALSE(ReadBack(s, Hf("v2.1.0"), FftSetup{-120, 32000, 1024, 7, 512, 32, 0, 0, 0}));
  EXPECT_FALSE(ReadBack(s, Hf("v2.1.0"), WaveSetup{0, 0, 0, 0, 0x83, 0}));
  EXPECT_FALSE(ReadBack(s, LfSetup{12, 4000, 0, 0, 0, 4, 8, 0, 8, 0}));
  EXPECT_FALSE(ReadBack(s, LfSetup{12, 4000, 36, 0, 0, 0, 8, 0, 1, 1}));
  EXPECT_EQ(s.accumulationTime, before.accumulationTime);
  EXPECT_EQ(s.waveBandwidthHz, before.waveBandwidthHz);
  EXPECT_EQ(s.lfGain, before.lfGain);
}

TEST(SetupRules, ReadBackLoggedWaveStreamBelow220SwitchesStreamingOff) {
  JobSetup s;
  s.waveStreaming = true;
  s.waveStreamCode = 2;
  ReadBack(s, Hf("v2.1.0"), WaveSetup{0, 32000, 1, 30, 0x83, 0});
  EXPECT_FALSE(s.waveStreaming);
  EXPECT_EQ(s.waveStreamCode, 0);
  JobSetup t;
  t.waveStreaming = true;
  ReadBack(t, Hf("v2.2.0"), WaveSetup{0, 32000, 1, 30, 0x83, 0});
  EXPECT_TRUE(t.waveStreaming);
  EXPECT_EQ(t.waveStreamCode, 3);
}

TEST(SetupRules, LfReadBack) {
  JobSetup s;
  ASSERT_TRUE(ReadBack(s, LfSetup{6, 4000, 21, 0, 0, 6, 4, 10, 8, 16}));
  EXPECT_EQ(s.lfMode, (control::LfModeChoice{2, 1, 2}));
  EXPECT_EQ(s.lfOverlap, 0.5);
  EXPECT_TRUE(s.lfGainOutsideSimple);
  ApplyPanelRules(s, Lf("v2.4.0"));
  EXPECT_TRUE(s.lfAdvancedDisplay);
  EXPECT_EQ(s.lfGain, 6);
  LeaveLfAdvancedDisplay(s);
  EXPECT_EQ(s.lfGain, 12);
}

TEST(SetupRules, LfDerivedDisplays) {
  JobSetup s;
  s.lfBandwidthHz = 6400;  // 16000 S/s
  s.lfFftType = kFftMean;
  s.lfNumStrings = 1;
  s.lfOverlap = 0.5;
  const double perSec = LfFftStringsPerSec(s);
  EXPECT_DOUBLE_EQ(perSec, 2.0 * 16000 / 1024);
  EXPECT_TRUE(LfDataLossNoteVisible(perSec));
  EXPECT_FALSE(LfDataLossNoteVisible(30.0));
  EXPECT_EQ(LfSignalRangeText(LfSignalRange(12, -170)), "Gives 38 - 163 dB re \xC2\xB5Pa Signal Range");
}

TEST(SetupRules, DataRateAndLinkMaximum) {
  JobSetup s;
  s.waveBandwidthHz = 204800;
  s.waveStreaming = true;
  s.spectrumStreaming = false;
  SetupContext ctx = Hf("v2.2.0");
  // (512000 × 3 + 500) × 10 with no limit on Ethernet while not logging.
  EXPECT_EQ(EstimatedDataRate(s, ctx), 15'365'000u);
  EXPECT_FALSE(LinkMaximum(s, ctx));
  EXPECT_FALSE(DataRateExceedsLink(s, ctx));
  s.waveLogChoice = kLogContinuous;
  EXPECT_EQ(LinkMaximum(s, ctx), 1'925'000u);
  EXPECT_TRUE(DataRateExceedsLink(s, ctx));
  ctx.interfaceCode = 4;  // a serial interface behind Ethernet
  EXPECT_EQ(LinkMaximum(s, ctx), 460'800u);
  SetupContext lf = Lf("v2.4.0");
  EXPECT_EQ(LinkMaximum(s, lf), 817'680u);
  s.lfMode = {0, 0, 1};
  s.lfBandwidthHz = 1600;
  s.lfNumStrings = 1;
  s.lfOverlap = 0;
  // 10 × (100 + 512 × 4000/1024) = 21000
  EXPECT_EQ(EstimatedDataRate(s, lf), 21'000u);
}

TEST(SetupRules, ScanInterval) {
  JobSetup s;
  SetupContext hf = Hf("v2.2.0");
  s.waveStreamCode = 0;
  s.fftStreamCode = 0;
  EXPECT_EQ(ScanInterval(s, hf, std::nullopt), 0.5);
  s.waveStreamCode = 3;
  s.waveBandwidthHz = 12800;  // 32 updates/s → 1/64 s
  EXPECT_EQ(ScanInterval(s, hf, std::nullopt), 0.015625);
  s.waveStreamCode = 0;
  s.fftStreamCode = 3;
  s.accumulationTime = 0.25;  // 4 strings/s → 0.125
  EXPECT_EQ(ScanInterval(s, hf, std::nullopt), 0.125);
  SetupContext lf = Lf("v2.3.0");
  s.fftStreamCode = 0;
  EXPECT_EQ(ScanInterval(s, lf, std::nullopt), 1.0);  // 50 s, snapped
  EXPECT_EQ(ScanInterval(s, Lf("v2.4.0"), std::nullopt), 0.5);
  EXPECT_EQ(ScanInterval(s, hf, 0.3), 0.25);
  EXPECT_EQ(ScanInterval(s, hf, 0.00001), 0.001);
}

TEST(SetupRules, PanelRules) {
  JobSetup s;
  s.waveStreaming = true;
  s.waveLogChoice = kLogContinuous;
  s.dataFormat = 0x83;
  s.gain = 12;
  ApplyPanelRules(s, Hf("v2.1.0"));
  EXPECT_FALSE(s.waveStreaming);
  EXPECT_EQ(s.gain, 0);
  s.waveStreaming = true;
  ApplyPanelRules(s, Hf("v2.2.0"));
  EXPECT_TRUE(s.waveStreaming);
  s.lfGain = 72;
  ApplyPanelRules(s, Lf("v2.4.0"));
  EXPECT_EQ(s.lfGain, 24);
}
