#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "config/SetupDerived.h"
#include "link/DeviceIdentity.h"

using namespace hylo;
using namespace hylo::setup;

namespace {

SetupContext Hf(const char* firmware, std::uint8_t featureLevel = 2, bool serial = false) {
  SetupContext c;
  c.model = kModelHf;
  c.firmware = FirmwareVersion(firmware);
  c.featureLevel = featureLevel;
  c.serialLink = serial;
  c.interfaceCode = 3;
  c.baudRate = 921600;
  return c;
}

SetupContext Lf(const char* firmware) {
  SetupContext c = Hf(firmware);
  c.model = kModelLf;
  return c;
}

bool Contains(const Notices& n, std::string_view text) { return std::find(n.begin(), n.end(), text) != n.end(); }

std::optional<std::uint32_t> Entry(const std::vector<SetupParamEntry>& e, std::uint16_t id) {
  for (const auto& x : e)
    if (x.id == id) return x.value;
  return std::nullopt;
}

}  // namespace

TEST(SetupRules, BandwidthToSampleRate) {
  EXPECT_EQ(SampleRateForBandwidth(204800), 512000u);
  EXPECT_EQ(SamplesPerSecText(204800), "Gives 512000 Samples/sec");
  // Every listed bandwidth lands exactly on its rate (12800 / 0.4 in doubles is 31999.99…).
  const auto list = BandwidthList(kModelHf);
  ASSERT_EQ(list.size(), 10u);
  for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(SampleRateForBandwidth(list[i]), kHfSampleRates[i]);
  EXPECT_EQ(BandwidthList(kModelAf).size(), 6u);
  EXPECT_EQ(BandwidthList(kModelAf).back(), 12800u);
  EXPECT_EQ(BandwidthList(kModelLf).front(), 100u);
  EXPECT_EQ(BandwidthForSampleRate(512000), 204800u);
  JobSetup s;
  s.waveBandwidthHz = 12800;
  Notices n;
  EXPECT_EQ(BuildWaveSetup(s, Hf("v2.1.0"), n).sampleRate, 32000u);
}

TEST(SetupRules, GainListsPerModel) {
  EXPECT_EQ(GainList(kModelHf, false).back(), 48);
  EXPECT_EQ(GainList(kModelLf, true).back(), 72);
  EXPECT_EQ(GainList(kModelLf, false), (std::vector<int>{12, 18, 24}));
}

TEST(SetupRules, GainIsZeroFor24BitData) {
  JobSetup s;
  s.advancedDisplay = true;
  s.dataFormat = 0x83;
  s.gain = 12;
  Notices n;
  EXPECT_EQ(BuildWaveSetup(s, Hf("v2.1.0"), n).gain, 0);
  s.dataFormat = 0x82;
  EXPECT_EQ(BuildWaveSetup(s, Hf("v2.1.0"), n).gain, 12);
  s.advancedDisplay = false;  // the simple display never sends a gain
  EXPECT_EQ(BuildWaveSetup(s, Hf("v2.1.0"), n).gain, 0);
}

TEST(SetupRules, DataFormatBeforeFirmware130) {
  JobSetup s;
  s.advancedDisplay = true;
  s.dataFormat = 0x82;
  s.gain = 12;
  Notices n;
  const WaveSetup w = BuildWaveSetup(s, Hf("v1.2.9"), n);
  EXPECT_EQ(w.dataFormat, 0x03);
  EXPECT_EQ(w.gain, 0);
}

TEST(SetupRules, SimpleDisplayAt512kBelow210Sends16Bit) {
  JobSetup s;
  s.waveBandwidthHz = 204800;
  Notices n;
  EXPECT_EQ(BuildWaveSetup(s, Hf("v2.0.0"), n).dataFormat, 0x82);
  EXPECT_EQ(BuildWaveSetup(s, Hf("v2.1.0"), n).dataFormat, 0x83);
  EXPECT_TRUE(n.empty());
}

TEST(SetupRules, AdvancedDisplayAt512kForces16BitKeepingEndian) {
  JobSetup s;
  s.waveBandwidthHz = 204800;
  s.advancedDisplay = true;
  s.dataFormat = 0x04;  // 32-bit big-endian, streaming only
  Notices n;
  const WaveSetup w = BuildWaveSetup(s, Hf("v2.0.0"), n);
  EXPECT_EQ(w.dataFormat, 0x02);
  EXPECT_EQ(s.dataFormat, 0x02);
  EXPECT_TRUE(Contains(n, k512kSixteenBitText));
}

TEST(SetupRules, LoggingCorrectsTo24BitLittleEndian) {
  JobSetup s;
  s.advancedDisplay = true;
  s.dataFormat = 0x04;
  s.waveLogChoice = kLogContinuous;
  Notices n;
  const WaveSetup w = BuildWaveSetup(s, Hf("v2.1.0"), n);
  EXPECT_EQ(w.dataFormat, 0x83);
  EXPECT_EQ(s.dataFormat, 0x83);
  EXPECT_TRUE(Contains(n, kNo32BitLoggingText));
  EXPECT_TRUE(Contains(n, kLittleEndianLoggingText));
  EXPECT_EQ(w.logMode, 1);
}

TEST(SetupRules, No512kBelow140) {
  JobSetup s;
  s.waveBandwidthHz = 204800;
  Notices n;
  EXPECT_EQ(BuildWaveSetup(s, Hf("v1.3.5"), n).sampleRate, 256000u);
  EXPECT_TRUE(Contains(n, kNo512kText));
  EXPECT_EQ(s.waveBandwidthHz, 102400u);
}

TEST(SetupRules, WaveLogChoicesAndDutyFlag) {
  EXPECT_EQ(WaveLogModeFor(kLogDutyCycle), 1);
  EXPECT_EQ(WaveLogModeFor(kEpochDutyCycle), 2);
  EXPECT_EQ(WaveLogModeFor(kLoggingOff), 0);
  EXPECT_EQ(WaveLogChoiceFor(1, true), kLogDutyCycle);
  EXPECT_EQ(WaveLogChoiceFor(2, false), kEpoch);
  EXPECT_EQ(FftLogModeFor(kFftEpoch), 2);
  EXPECT_EQ(FftLogModeFor(2), 0);
  EXPECT_EQ(FftLogChoiceFor(2), kFftEpoch);
}

TEST(SetupRules, FftTypePromotionWithOverlap) {
  JobSetup s;
  s.spectrumBandwidthHz = 25600;  // 64000
  s.overlap = 0.5;
  s.fftTypeChoice = kFftMean;
  Notices n;
  FftSetup f = BuildFftSetup(s, Hf("v2.1.0"), n);
  EXPECT_EQ(f.fftType, 4);
  EXPECT_EQ(f.fftStep, 512);
  EXPECT_EQ(f.fftLength, 1024);
  s.overlap = 0.0;
  f = BuildFftSetup(s, Hf("v2.1.0"), n);
  EXPECT_EQ(f.fftType, 0);
  EXPECT_EQ(f.fftStep, 1024);
  s.overlap = 0.75;
  s.fftTypeChoice = kFftPeak;
  EXPECT_EQ(BuildFftSetup(s, Hf("v2.1.0"), n).fftType, 5);
}

TEST(SetupRules, AccumulationFromTime) {
  JobSetup s;
  s.spectrumBandwidthHz = 25600;
  s.overlap = 0.5;
  s.accumulationTime = 1.0;
  Notices n;
  EXPECT_EQ(BuildFftSetup(s, Hf("v2.1.0"), n).accumulation, 125);
  s.accumulationTime = 0.25;
  s.spectrumBandwidthHz = 400;  // 1000 S/s: 0.25 × 1000 / 512 rounds up to 1
  EXPECT_EQ(BuildFftSetup(s, Hf("v2.1.0"), n).accumulation, 1);
  EXPECT_TRUE(n.empty());
}

TEST(SetupRules, AccumulationClampedTo65535WithNotice) {
  JobSetup s;
  s.spectrumBandwidthHz = 102400;  // 256000 S/s
  s.accumulationTime = 60;
  s.overlap = 0.9375;  // step 64: 240000 FFTs would wrap to 43392
  Notices n;
  const FftSetup f = BuildFftSetup(s, Hf("v2.1.0"), n);
  EXPECT_EQ(f.fftStep, 64);
  EXPECT_EQ(f.accumulation, 65535);
  EXPECT_TRUE(Contains(n, kAccumulationClampedText));
}

TEST(SetupRules, FilterWeightAndType6) {
  JobSetup s;
  s.spectrumBandwidthHz = 25600;
  s.overlap = 0.5;
  s.accumulationTime = 1.0;
  s.fftTypeChoice = kFftFilter;
  Notices n;
  const FftSetup f = BuildFftSetup(s, Hf("v2.1.0"), n);
  EXPECT_EQ(f.fftType, 6);
  EXPECT_EQ(f.weight, (125 + 2) / 3);
  s.fftTypeChoice = kFftMean;
  EXPECT_EQ(BuildFftSetup(s, Hf("v2.1.0"), n).weight, 0);
}

TEST(SetupRules, StreamTransportCodes) {
  JobSetup s;
  s.waveStreaming = false;
  Notices n;
  BuildWaveSetup(s, Hf("v2.2.0"), n);
  EXPECT_EQ(s.waveStreamCode, 0);
  s.waveStreaming = true;
  BuildWaveSetup(s, Hf("v2.2.0"), n);
  EXPECT_EQ(s.waveStreamCode, 2);
  BuildWaveSetup(s, Hf("v2.2.0", 2, true), n);
  EXPECT_EQ(s.waveStreamCode, 3);
  s.waveLogChoice = kLogContinuous;
  BuildWaveSetup(s, Hf("v2.2.0"), n);
  EXPECT_EQ(s.waveStreamCode, 3);
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
  s.dutyRunMinutes = 60;
  EXPECT_EQ(BuildDutyCycleSetup(s), (DutyCycleSetup{0, 1, 0, 0}));
  // Run above cycle is lowered to the cycle.
  s.dutyRunMinutes = 90;
  EXPECT_EQ(BuildDutyCycleSetup(s), (DutyCycleSetup{0, 1, 0, 0}));
  EXPECT_EQ(s.dutyRunMinutes, 60);
}

TEST(SetupRules, LegacyDutyCycleAndDelay) {
  JobSetup s;
  const std::uint32_t now = 1'700'000'000;
  EXPECT_EQ(BuildLegacyDutyCycleSetup(s, now), (LegacyDutyCycleSetup{0, 0, 1, 0}));
  s.enableDelay = true;
  s.startTime = now + 61;  // just over a minute: rounds up to 2
  EXPECT_EQ(BuildLegacyDutyCycleSetup(s, now), (LegacyDutyCycleSetup{0, 0, 1, 2}));
  s.waveLogChoice = kEpochDutyCycle;
  s.dutyRunMinutes = 5;
  s.dutyCycleMinutes = 20;
  EXPECT_EQ(BuildLegacyDutyCycleSetup(s, now), (LegacyDutyCycleSetup{0, 5, 15, 2}));

  JobSetup back;
  back.waveLogChoice = kEpoch;
  ReadBack(back, LegacyDutyCycleSetup{0, 5, 15, 2}, now);
  EXPECT_TRUE(back.enableDelay);
  EXPECT_EQ(back.startTime, now + 120);
  EXPECT_EQ(back.dutyCycleMinutes, 20);
  EXPECT_EQ(back.waveLogChoice, kEpochDutyCycle);
}

TEST(SetupRules, StartTimeRecord) {
  JobSetup s;
  EXPECT_EQ(BuildStartTimeSetup(s).startTime, kNoDelayedStart);
  s.enableDelay = true;
  s.startTime = 1'800'000'000;
  EXPECT_EQ(BuildStartTimeSetup(s).startTime, 1'800'000'000u);
  JobSetup back;
  ReadBack(back, StartTimeSetup{0, kNoDelayedStart, 0}, 1'700'000'000);
  EXPECT_FALSE(back.enableDelay);
  ReadBack(back, StartTimeSetup{0, 1'700'000'100, 0}, 1'700'000'000);
  EXPECT_TRUE(back.enableDelay);
  ReadBack(back, StartTimeSetup{0, 1'600'000'000, 0}, 1'700'000'000);
  EXPECT_FALSE(back.enableDelay);
}

TEST(SetupRules, ParamListEntries) {
  JobSetup s;
  s.fftTypeChoice = kFftMean;
  s.syncPinMode = 1;
  s.wakeFromStandby = true;
  s.timeSource = true;
  Notices n;
  auto e = BuildSetupParamEntries(s, Hf("v2.1.0"), n);
  ASSERT_GE(e.size(), 3u);
  EXPECT_EQ(e[0].id, kWaveSampleRate);
  EXPECT_EQ(e[1].id, kWaveGain);
  EXPECT_EQ(e[2].id, kWaveBitDepth);
  EXPECT_EQ(*Entry(e, kWaveBitDepth), 24u);
  EXPECT_EQ(*Entry(e, kWaveEndian), 1u);
  EXPECT_FALSE(Entry(e, kWaveLogLength));  // wave logging off
  EXPECT_FALSE(Entry(e, kFftWeight));      // type 4
  EXPECT_FALSE(Entry(e, kFftLogLength));
  EXPECT_EQ(*Entry(e, kFftRefLevel), static_cast<std::uint32_t>(-120));
  EXPECT_EQ(*Entry(e, kLogStartTime), kNoDelayedStart);
  EXPECT_EQ(*Entry(e, kAuxPin), 33u);
  EXPECT_EQ(*Entry(e, kTimeSrc), 1u);
  EXPECT_EQ(e.back().id, kTimeSrc);

  s.fftTypeChoice = kFftFilter;
  s.waveLogChoice = kLogContinuous;
  s.fftLogChoice = kFftLogContinuous;
  e = BuildSetupParamEntries(s, Hf("v2.0.0"), n);
  EXPECT_TRUE(Entry(e, kWaveLogLength));
  EXPECT_TRUE(Entry(e, kFftWeight));
  EXPECT_TRUE(Entry(e, kFftLogLength));
  EXPECT_EQ(*Entry(e, kAuxPin), 1u);  // no wake bit below 2.1.0
  EXPECT_FALSE(Entry(e, kTimeSrc));
  e = BuildSetupParamEntries(s, Hf("v2.1.0", 1), n);
  EXPECT_FALSE(Entry(e, kAuxPin));
  EXPECT_FALSE(Entry(e, kTimeSrc));
}

TEST(SetupRules, ReadBackFftSnapsAccumulationTime) {
  JobSetup s;
  // 375 × 512 / 64000 = 3 s → 2 s.
  ASSERT_TRUE(ReadBack(s, Hf("v2.1.0"), FftSetup{-130, 64000, 1024, 5, 512, 375, 0, 2, 10}));
  EXPECT_EQ(s.accumulationTime, 2.0);
  EXPECT_EQ(s.spectrumBandwidthHz, 25600u);
  EXPECT_EQ(s.fftTypeChoice, kFftPeak);
  EXPECT_EQ(s.overlap, 0.5);
  EXPECT_EQ(s.refLevel, -130);
  EXPECT_EQ(s.fftLogChoice, kFftEpoch);
  EXPECT_EQ(SnapAccumulationTime(7000), 7000);
  EXPECT_EQ(SnapAccumulationTime(4999), 3600);
  EXPECT_EQ(SnapAccumulationTime(0.1), 0);
  EXPECT_EQ(SnapAccumulationTime(0.5), 0.5);
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

TEST(SetupRules, ReadBackWaveThenDutyMovesContinuousToDutyCycle) {
  JobSetup s;
  s.dutyCycleInEffect = false;
  ASSERT_TRUE(ReadBack(s, Hf("v2.1.0"), WaveSetup{0, 32000, 1, 30, 0x83, 0}));
  EXPECT_EQ(s.waveLogChoice, kLogContinuous);
  ReadBack(s, DutyCycleSetup{10, 50, 0, 0});
  EXPECT_EQ(s.waveLogChoice, kLogDutyCycle);
  EXPECT_EQ(s.dutyRunMinutes, 10);
  EXPECT_EQ(s.dutyCycleMinutes, 60);
  // With the flag now set, the next wave record reads as duty-cycled directly.
  ASSERT_TRUE(ReadBack(s, Hf("v2.1.0"), WaveSetup{0, 32000, 2, 30, 0x83, 0}));
  EXPECT_EQ(s.waveLogChoice, kEpochDutyCycle);
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

TEST(SetupRules, ReadBackParamList) {
  JobSetup out;
  Notices n;
  JobSetup in;
  in.waveBandwidthHz = 51200;
  in.waveLogChoice = kLogDutyCycle;
  in.dutyRunMinutes = 10;
  in.dutyCycleMinutes = 30;
  in.fftTypeChoice = kFftFilter;
  in.overlap = 0.75;
  in.accumulationTime = 2;
  in.syncPinMode = 1;
  in.wakeFromStandby = true;
  in.timeSource = true;
  const auto entries = BuildSetupParamEntries(in, Hf("v2.2.0"), n);
  const auto bytes = PackSetupParamList(entries);
  const auto v = UnpackSetupParamList(bytes);
  ASSERT_TRUE(v);
  ReadBack(out, Hf("v2.2.0"), *v, 1'700'000'000);
  EXPECT_EQ(out.waveBandwidthHz, 51200u);
  EXPECT_EQ(out.waveLogChoice, kLogDutyCycle);
  EXPECT_EQ(out.dutyCycleMinutes, 30);
  EXPECT_EQ(out.fftTypeChoice, kFftFilter);
  EXPECT_EQ(out.overlap, 0.75);
  EXPECT_EQ(out.accumulationTime, 2);
  EXPECT_EQ(out.syncPinMode, 1);
  EXPECT_TRUE(out.wakeFromStandby);
  EXPECT_TRUE(out.timeSource);
  Notices m;
  EXPECT_EQ(PackSetupParamList(BuildSetupParamEntries(out, Hf("v2.2.0"), m)), bytes);
  // An enabled stream that is not logged gets TCP on Ethernet, the link on serial.
  JobSetup e;
  e.spectrumStreaming = true;
  ReadBack(e, Hf("v2.2.0"), *v, 0);
  EXPECT_EQ(e.fftStreamCode, 2);
  ReadBack(e, Hf("v2.2.0", 2, true), *v, 0);
  EXPECT_EQ(e.fftStreamCode, 3);
}

TEST(SetupRules, LfSetupRecord) {
  JobSetup s;
  s.lfMode = {2, 1, 2};
  s.lfGain = 18;
  s.lfBandwidthHz = 1600;
  s.lfFftType = kFftFilter;
  s.lfNumStrings = 10;
  s.lfOverlap = 0.5;
  LfSetup r = BuildLfSetup(s);
  EXPECT_EQ(r.operatingMode, 21);
  EXPECT_EQ(r.sampleRate, 4000u);
  EXPECT_EQ(r.fftType, 6);
  EXPECT_EQ(r.filterLength, 10);
  EXPECT_EQ(r.accumulation, 4);
  EXPECT_EQ(r.stepSixteenths, 8);
  EXPECT_EQ(r.lengthUnits, 16);
  s.lfFftType = kFftOff;
  s.lfOverlap = 0.75;
  r = BuildLfSetup(s);
  EXPECT_EQ(r.fftType, 1);
  EXPECT_EQ(r.filterLength, 16);
  EXPECT_EQ(r.accumulation, 4);
  s.lfFftType = kFftMean;
  s.lfOverlap = 0;
  r = BuildLfSetup(s);
  EXPECT_EQ(r.fftType, 0);
  EXPECT_EQ(r.accumulation, 10);
  EXPECT_EQ(r.stepSixteenths, 1);
  EXPECT_EQ(r.lengthUnits, 1);
}

TEST(SetupRules, LfReadBack) {
  JobSetup s;
  ASSERT_TRUE(ReadBack(s, LfSetup{6, 4000, 21, 0, 0, 6, 4, 10, 8, 16}));
  EXPECT_EQ(s.lfMode, (control::LfModeChoice{2, 1, 2}));
  EXPECT_EQ(s.lfFftType, kFftFilter);
  EXPECT_EQ(s.lfNumStrings, 10);
  EXPECT_EQ(s.lfOverlap, 0.5);
  EXPECT_EQ(s.lfBandwidthHz, 1600u);
  EXPECT_TRUE(s.lfGainOutsideSimple);
  ApplyPanelRules(s, Lf("v2.4.0"));
  EXPECT_TRUE(s.lfAdvancedDisplay);
  EXPECT_EQ(s.lfGain, 6);
  LeaveLfAdvancedDisplay(s);
  EXPECT_EQ(s.lfGain, 12);
  ASSERT_TRUE(ReadBack(s, LfSetup{18, 4000, 21, 0, 0, 1, 4, 16, 4, 16}));
  EXPECT_EQ(s.lfFftType, kFftOff);
  EXPECT_EQ(s.lfOverlap, 0.75);
}

TEST(SetupRules, LfDerivedDisplays) {
  JobSetup s;
  s.lfBandwidthHz = 6400;  // 16000 S/s
  s.lfFftType = kFftMean;
  s.lfNumStrings = 1;
  s.lfOverlap = 0.5;
  const double perSec = LfFftStringsPerSec(s);
  EXPECT_DOUBLE_EQ(perSec, 2.0 * 16000 / 1024);
  EXPECT_EQ(LfFftStringsText(perSec), "Gives  31.250  FFT Strings/sec");
  EXPECT_TRUE(LfDataLossNoteVisible(perSec));
  EXPECT_FALSE(LfDataLossNoteVisible(30.0));
  EXPECT_EQ(LfBandwidthText(800), "Current Bandwidth:   800 Hz");
  EXPECT_EQ(LfSignalRangeText(LfSignalRange(12, -170)), "Gives 38 - 163 dB re \xC2\xB5Pa Signal Range");
  EXPECT_EQ(HfSpectrumBandwidthText(32000), "Current Bandwidth: 12.800000 kHz");
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
  SetupContext other;
  other.model = 9;
  EXPECT_EQ(ScanInterval(s, other, std::nullopt), 0.5);
  EXPECT_EQ(SnapScanInterval(0.002), 0.001953125);
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
  EXPECT_EQ(TimeSourceLabel(2), "Decode time from PPS");
  EXPECT_EQ(TimeSourceLabel(3), "Encode time in PPS");
  EXPECT_EQ(TimeSourceLabel(4), "N/A");
}

TEST(SetupRules, LocalDateTimeRoundTrip) {
  const LocalDateTime t{2031, 7, 14, 9, 45};
  const auto v = InstrumentTimeFromLocal(t);
  ASSERT_TRUE(v);
  EXPECT_EQ(*v % 60, 0u);
  EXPECT_EQ(LocalFromInstrumentTime(*v), t);
  EXPECT_FALSE(InstrumentTimeFromLocal(LocalDateTime{1900, 1, 1, 0, 0}));
}
