#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "context/Hylo.h"
#include "link/LinkState.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"
#include "support/TestOptions.h"

using namespace hylo;
using namespace hylo::test;

namespace {

struct PlanCase {
  const char* name;
  ScanInputs in;
  ScanPlan expected;
};

ScanInputs In(int link, int model, std::uint32_t firmware, int wave, int fft, bool restart = false) {
  return {link, model, firmware, wave, fft, restart};
}
// enquiry, stream-capable, wave, fft, epoch, status
ScanPlan Out(bool enquiry, bool capable, bool wave, bool fft, bool epoch, bool status) {
  return {enquiry, capable, wave, fft, epoch, status};
}

struct Plan : ::testing::TestWithParam<PlanCase> {};

bool StatusLogHas(Hylo& hylo, std::string_view text) {
  for (const auto& line : hylo.MainPanel().Get(mainpanel::kStatusField).items) {
    if (line.ends_with(text)) return true;
  }
  return false;
}

}  // namespace

TEST_P(Plan, ChannelsFollowModelLinkTransportAndFirmware) {
  const auto& c = GetParam();
  auto fields = [](const ScanPlan& p) {
    return std::tuple(p.periodicEnquiry, p.streamCapable, p.openWave, p.openFft, p.epochChannel, p.openStatus);
  };
  EXPECT_EQ(fields(PlanScanning(c.in)), fields(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Scanning, Plan,
    ::testing::Values(PlanCase{"HfUdpBothFirmware210", In(LINK_ETHERNET, 5, 0x20100, 1, 1),
                               Out(false, true, true, true, true, true)},
                      PlanCase{"HfFirmware209HasNoStatusChannel", In(LINK_ETHERNET, 5, 0x20009, 1, 0),
                               Out(false, true, true, false, true, false)},
                      PlanCase{"AfTcpFirmware140GetsTheEpochChannel", In(LINK_ETHERNET, 7, 0x10400, 2, 2),
                               Out(false, true, true, true, true, false)},
                      PlanCase{"HfFirmware139HasNoEpochChannel", In(LINK_ETHERNET, 5, 0x10309, 2, 0),
                               Out(false, true, true, false, false, false)},
                      PlanCase{"ResumeOpensNothing", In(LINK_ETHERNET, 5, 0x20100, 1, 1, true),
                               Out(false, true, false, false, false, false)},
                      PlanCase{"LfOverTheCommandLink", In(LINK_ETHERNET, 2, 0x20100, 3, 3),
                               Out(true, false, false, false, false, false)},
                      PlanCase{"BothStreamsOffStillEnquire", In(LINK_ETHERNET, 5, 0x20100, 0, 0),
                               Out(true, true, false, false, true, true)},
                      PlanCase{"WaveOnTheLinkFftOnUdp", In(LINK_ETHERNET, 7, 0x20100, 3, 1),
                               Out(true, true, false, true, true, true)},
                      PlanCase{"SerialHfHasNoAddressToStreamTo", In(LINK_SERIAL, 5, 0x20100, 1, 1),
                               Out(false, true, false, false, false, false)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Scanning, StartWithoutAConnectionOnlyTellsTheOperator) {
  TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  hylo.Scan().StartScanningCallback();
  EXPECT_EQ(op.Notices(), (std::vector<std::string>{"No Active Connection."}));
  EXPECT_FALSE(hylo.Scan().Active());
  EXPECT_FALSE(hylo.Scan().KeepingAwake());
  EXPECT_FALSE(StatusLogHas(hylo, "Scanning Started"));
  EXPECT_FALSE(hylo.MainPanel().Get(scanpanel::kStart).dimmed);
  EXPECT_TRUE(hylo.MainPanel().Get(scanpanel::kStop).dimmed);
  // Pause does nothing while nothing runs.
  hylo.Scan().PauseCallback();
  EXPECT_FALSE(hylo.Scan().Paused());
  EXPECT_FALSE(StatusLogHas(hylo, "Scanning Paused"));
  EXPECT_EQ(hylo.MainExit(), 0);
}

TEST(Scanning, BeginArmsTheSkipFlagsKeepAwakeAndEnquiryAndStopUndoesThem) {
  TempDir dir;
  ScriptedOperator op;
  Hylo hylo(op, TestOptions(dir));
  ASSERT_EQ(hylo.Start(), 0);
  hylo.JobSetup().SetStreamTransports({TRANSPORT_LINK, TRANSPORT_TCP});
  hylo.Groups().display.scanPeriod = 0.25;
  std::vector<bool> flags;
  HyloScan::Hooks hooks;
  hooks.sendJobSetup = [&](bool start) {
    flags.push_back(start);
    return 0;
  };
  hylo.Scan().SetHooks(hooks);
  hylo.Threads().SetScanStopped(true);
  hylo.Threads().SetScanPaused(true);

  ASSERT_EQ(hylo.Scan().BeginScanning(false), 0);
  EXPECT_EQ(hylo.Data().StatusReplies().SkipCounter(), 3);
  EXPECT_FALSE(hylo.Threads().ScanStopped());
  EXPECT_FALSE(hylo.Threads().ScanPaused());
  EXPECT_TRUE(hylo.Scan().KeepingAwake());
  EXPECT_TRUE(hylo.Scan().Active());
  EXPECT_TRUE(hylo.Scan().LastPlan().periodicEnquiry);
  // Starting the enquiry sends three at once (counted even with no link to carry them).
  for (int i = 0; i < 400 && hylo.Data().StatusReplies().Requests() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(hylo.Data().StatusReplies().Requests(), 3);

  hylo.Scan().StopCallback();
  EXPECT_TRUE(hylo.Threads().ScanStopped());
  EXPECT_FALSE(hylo.Scan().Active());
  EXPECT_FALSE(hylo.Scan().KeepingAwake());
  EXPECT_EQ(flags, (std::vector<bool>{true, false})) << "the setup goes with the start flag, then the stop flag";
  EXPECT_TRUE(StatusLogHas(hylo, "Scanning Stopped"));
  EXPECT_EQ(hylo.MainExit(), 0);
}
