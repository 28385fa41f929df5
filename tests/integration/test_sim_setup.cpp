// The job setup exchange against hylo-sim: read, change, apply and read back for each model
// and firmware family, and the unit's refusals.
#include <gtest/gtest.h>

#include "config/SetupExchange.h"
#include "support/SimSession.h"

using namespace hylo;
using namespace hylo::setup;
using namespace hylo::test;

namespace {

// One simulated unit and a connected context; "Connected" is shown last, after the reply's
// notices (an old firmware's warning).
struct Connected : SimSession {
  bool ok = false;
  Connected(const char* model, const char* firmware, std::vector<std::string> extra = {})
      : SimSession(Args(model, firmware, std::move(extra)), 60) {
    ok = Connect() && WaitFor(
                          [&] {
                            return hylo.Connection().Identity().firmwareText == firmware &&
                                   hylo.Link().ConnectionPanel().Text(connectpanel::kStatus) == "Connected";
                          },
                          2000);
  }
  static std::vector<std::string> Args(const char* model, const char* firmware, std::vector<std::string> extra) {
    extra.insert(extra.begin(), {"--model", model, "--firmware", firmware});
    return extra;
  }
  JobSetupCommands& Cmds() { return hylo.JobSetup(); }
};

// What the panel would send now, as bytes: the records of the unit's family.
std::vector<std::vector<std::uint8_t>> Records(JobSetup s, const SetupContext& ctx) {
  Notices n;
  auto bytes = [](const auto& a) { return std::vector<std::uint8_t>(a.begin(), a.end()); };
  if (ctx.IsLf()) return {bytes(Pack(BuildLfSetup(s)))};
  if (ctx.model == kModelAf || ctx.firmware >= Firmware(2, 0, 0))
    return {PackSetupParamList(BuildSetupParamEntries(s, ctx, n))};
  std::vector<std::vector<std::uint8_t>> r = {bytes(Pack(BuildWaveSetup(s, ctx, n))),
                                              bytes(Pack(BuildFftSetup(s, ctx, n)))};
  if (ctx.firmware < Firmware(1, 5, 0))
    r.push_back(bytes(Pack(BuildLegacyDutyCycleSetup(s, 0))));
  else
    r.push_back(bytes(Pack(BuildDutyCycleSetup(s))));
  return r;
}

struct UnitCase {
  const char* name;
  const char* model;
  const char* firmware;
  const char* configured;
};

class SimSetupRoundTrip : public testing::TestWithParam<UnitCase> {};

TEST_P(SimSetupRoundTrip, ReadChangeApplyReadBack) {
  const UnitCase& c = GetParam();
  Connected unit(c.model, c.firmware);
  ASSERT_TRUE(unit.ok) << unit.sim.Line();
  JobSetupCommands& cmds = unit.Cmds();
  const SetupContext ctx = cmds.Context();

  // Firmware below 1.5.0 is told to update on connect; nothing else may be said.
  const std::size_t noticesBefore = unit.op.Notices().size();
  ASSERT_EQ(cmds.OpenUnitSetupPanel(), 0) << "the enquiry gets every frame the unit sends";
  const JobSetup read = cmds.Setup();
  // The simulator's start-up setup: HF family 128000 S/s, LF gain 18 at 4000 S/s.
  if (ctx.IsLf()) {
    EXPECT_EQ(read.lfGain, 18);
    EXPECT_EQ(read.lfBandwidthHz, 1600u);
  } else {
    EXPECT_EQ(read.waveBandwidthHz, 51200u);
    EXPECT_EQ(read.spectrumBandwidthHz, 51200u);
  }

  cmds.EditSetup([&](JobSetup& s) {
    if (ctx.IsLf()) {
      s.lfAdvancedDisplay = true;
      s.lfGain = 30;
      s.lfBandwidthHz = 800;
      s.lfMode = {2, 1, 2};
      s.lfFftType = kFftFilter;
      s.lfNumStrings = 6;
      s.lfOverlap = 0.5;
    } else {
      s.waveBandwidthHz = 25600;
      s.waveLogChoice = kLogDutyCycle;
      s.waveMaxLogLength = 5;
      s.dutyRunMinutes = 10;
      s.dutyCycleMinutes = 30;
      s.spectrumBandwidthHz = 12800;
      s.fftTypeChoice = kFftFilter;
      s.overlap = 0.75;
      s.accumulationTime = 2;
      s.refLevel = -130;
      s.fftLogChoice = kFftLogContinuous;
      s.fftMaxLogLength = 7;
      s.spectrumStreaming = true;
      s.advancedDisplay = true;
      s.dataFormat = 0x82;
      s.gain = 12;
      s.syncPinMode = 2;
      s.timeSource = true;
    }
  });
  const auto sent = Records(cmds.Setup(), ctx);
  ASSERT_EQ(cmds.ApplySetupCallback(), 0) << (unit.op.Notices().empty() ? "" : unit.op.Notices().back());
  EXPECT_FALSE(cmds.PanelOpen());
  EXPECT_TRUE(unit.Logged(c.configured));

  // Read back onto a panel that shows something else: the unit's records must restore it.
  cmds.EditSetup([](JobSetup& s) {
    s.waveBandwidthHz = 400;
    s.spectrumBandwidthHz = 400;
    s.lfBandwidthHz = 100;
    s.refLevel = -120;
  });
  ASSERT_EQ(cmds.ReadJobSetup(), 0);
  EXPECT_EQ(Records(cmds.Setup(), ctx), sent) << "the unit keeps what was applied";
  EXPECT_EQ(unit.op.Notices().size(), noticesBefore) << unit.op.Notices().back();
}

INSTANTIATE_TEST_SUITE_P(Units, SimSetupRoundTrip,
                         testing::Values(UnitCase{"Lf", "lf", "v2.4.0", "Aurisond LF Configured Successfully"},
                                         UnitCase{"Hf145", "hf", "v1.4.5", "Aurisond HF Configured Successfully"},
                                         UnitCase{"Hf152", "hf", "v1.5.2", "Aurisond HF Configured Successfully"},
                                         UnitCase{"Hf200", "hf", "v2.0.0", "Aurisond HF Configured Successfully"},
                                         UnitCase{"Hf210", "hf", "v2.1.0", "Aurisond HF Configured Successfully"},
                                         UnitCase{"Af210", "af", "v2.1.0", "Aurisond AF Configured Successfully"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Refusals ----------------------------------------------------------------------------

struct RefusalCase {
  const char* name;
  const char* firmware;
  std::uint16_t code;
  std::string_view apply;  // Apply's own message
  const char* model = "hf";
};
class SimSetupRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(SimSetupRefusal, TheUnitsCodeGivesItsText) {
  const RefusalCase& c = GetParam();
  Connected unit(c.model, c.firmware, {"--setup-error", std::to_string(c.code)});
  ASSERT_TRUE(unit.ok) << unit.sim.Line();
  JobSetupCommands& cmds = unit.Cmds();
  ASSERT_EQ(cmds.OpenUnitSetupPanel(), 0);
  EXPECT_NE(cmds.ApplySetupCallback(), 0);
  EXPECT_TRUE(cmds.PanelOpen());
  EXPECT_TRUE(unit.Noticed(DescribeSetupError(c.code))) << DescribeSetupError(c.code);
  EXPECT_TRUE(unit.Noticed(c.apply));
  EXPECT_TRUE(unit.Logged(" - Job setup failed"));
}

INSTANTIATE_TEST_SUITE_P(Codes, SimSetupRefusal,
                         testing::Values(RefusalCase{"TriggeredRate", "v1.5.2", 0xFFFD, kHfSetupFailedText},
                                         RefusalCase{"CannotLog", "v1.5.2", 0xFFFE, kHfSetupFailedText},
                                         RefusalCase{"NotReady", "v1.4.5", 0xFFFF, kHfSetupFailedText},
                                         RefusalCase{"OtherCode", "v1.5.2", 32, kHfSetupFailedText},
                                         RefusalCase{"ListNotReady", "v2.1.0", 0xFFFF, kParamListFailedText},
                                         RefusalCase{"Gain", "v1.5.2", 1, kHfSetupFailedText},
                                         RefusalCase{"Bandwidth", "v1.4.5", 2, kHfSetupFailedText},
                                         RefusalCase{"Mode", "v1.5.2", 4, kHfSetupFailedText},
                                         RefusalCase{"ListLogging", "v2.0.0", 16, kParamListFailedText},
                                         RefusalCase{"AfFft", "v2.1.0", 8, kParamListFailedText, "af"},
                                         RefusalCase{"LfGain", "v2.4.0", 1, kLfSetupFailedText, "lf"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimSetup, DecliningTheDataRateWarningSendsNothing) {
  // A unit behind a serial interface: the link carries half its 256000 baud.
  Connected unit("hf", "v2.1.0", {"--interface", "1"});
  ASSERT_TRUE(unit.ok) << unit.sim.Line();
  JobSetupCommands& cmds = unit.Cmds();
  ASSERT_EQ(cmds.OpenUnitSetupPanel(), 0);
  cmds.EditSetup([](JobSetup& s) {
    s.waveStreaming = true;
    s.waveBandwidthHz = 102400;
  });
  EXPECT_EQ(cmds.ApplySetupCallback(), -1);
  EXPECT_TRUE(cmds.PanelOpen());
  ASSERT_FALSE(unit.op.Questions().empty());
  EXPECT_EQ(unit.op.Questions().back(), "Warning: " + std::string(kDataRateWarningText));
  EXPECT_FALSE(unit.Logged("Configured Successfully"));
  ASSERT_EQ(cmds.ReadJobSetup(), 0);
  EXPECT_EQ(cmds.Setup().waveBandwidthHz, 51200u) << "the unit still has its own setup";
}

// ---- Echoes and short enquiry answers -----------------------------------------------------

struct EchoCase {
  const char* name;
  const char* model;
  const char* firmware;
  const char* flip;  // record type : offset inverted in the unit's echo
  bool accepted;
};
class SimSetupEcho : public testing::TestWithParam<EchoCase> {};

TEST_P(SimSetupEcho, OnlyTheComparedBytesMustMatch) {
  const EchoCase& c = GetParam();
  Connected unit(c.model, c.firmware, {"--echo-flip", c.flip});
  ASSERT_TRUE(unit.ok) << unit.sim.Line();
  JobSetupCommands& cmds = unit.Cmds();
  ASSERT_EQ(cmds.OpenUnitSetupPanel(), 0);
  const bool lf = cmds.Context().IsLf();
  cmds.EditSetup([](JobSetup& s) {
    s.waveBandwidthHz = 25600;
    s.lfBandwidthHz = 800;
  });
  const int rc = cmds.ApplySetupCallback();
  if (c.accepted) {
    EXPECT_EQ(rc, 0) << (unit.op.Notices().empty() ? "" : unit.op.Notices().back());
    EXPECT_FALSE(cmds.PanelOpen());
    EXPECT_TRUE(unit.Logged("Configured Successfully"));
  } else {
    EXPECT_NE(rc, 0);
    EXPECT_TRUE(cmds.PanelOpen());
    EXPECT_TRUE(unit.Noticed(lf ? kLfSetupFailedText : kHfSetupFailedText));
    EXPECT_FALSE(unit.Logged("Configured Successfully"));
    EXPECT_TRUE(cmds.Changed(lf ? UnitTab::kLf : UnitTab::kHf)) << "Apply can be pressed again";
  }
}

INSTANTIATE_TEST_SUITE_P(Flips, SimSetupEcho,
                         testing::Values(EchoCase{"Hf152WaveReserved", "hf", "v1.5.2", "14:11", true},
                                         EchoCase{"Hf145WaveReserved", "hf", "v1.4.5", "14:11", true},
                                         EchoCase{"Hf152WaveRate", "hf", "v1.5.2", "14:4", false},
                                         EchoCase{"Hf145WaveFormat", "hf", "v1.4.5", "14:10", false},
                                         EchoCase{"Hf152FftLastByte", "hf", "v1.5.2", "15:19", false},
                                         EchoCase{"Hf152DutyReserved", "hf", "v1.5.2", "19:7", false},
                                         EchoCase{"Hf145LegacyDuty", "hf", "v1.4.5", "16:4", false},
                                         EchoCase{"LfPastSixteenBytes", "lf", "v2.4.0", "12:20", true},
                                         EchoCase{"LfFftType", "lf", "v2.4.0", "12:14", false},
                                         EchoCase{"Hf210ListNotCompared", "hf", "v2.1.0", "20:8", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ShortEnquiryCase {
  const char* name;
  const char* firmware;
  const char* frames;
};
class SimSetupShortEnquiry : public testing::TestWithParam<ShortEnquiryCase> {};

TEST_P(SimSetupShortEnquiry, FewerFramesThanTheFirmwareSendsFail) {
  const ShortEnquiryCase& c = GetParam();
  Connected unit("hf", c.firmware, {"--enquiry-frames", c.frames});
  ASSERT_TRUE(unit.ok) << unit.sim.Line();
  JobSetupCommands& cmds = unit.Cmds();
  cmds.EditSetup([](JobSetup& s) {
    s.waveBandwidthHz = 400;
    s.spectrumBandwidthHz = 400;
  });
  EXPECT_EQ(cmds.ReadJobSetup(), -1);
  // The frames that came were still read (on the reply thread, which may trail the
  // time-out): the wave and FFT records lead the answer.
  WaitFor([&] { return cmds.Setup().spectrumBandwidthHz == 51200u; }, 2000);
  EXPECT_EQ(cmds.Setup().waveBandwidthHz, 51200u);
  EXPECT_EQ(cmds.Setup().spectrumBandwidthHz, 51200u);
}

INSTANTIATE_TEST_SUITE_P(Frames, SimSetupShortEnquiry,
                         testing::Values(ShortEnquiryCase{"Hf145TwoOfThree", "v1.4.5", "2"},
                                         ShortEnquiryCase{"Hf152ThreeOfFour", "v1.5.2", "3"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
