// Connection management against hylo-sim: no listener, pty links at high bauds, the baud
// change and recovery, the searches and cancel. Loopback and pseudo terminals only.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "context/Hylo.h"
#include "context/HyloSession.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestOptions.h"

using namespace hylo;
using namespace hylo::test;
using namespace std::chrono_literals;

namespace {

DeviceIdentity WaitForIdentity(Hylo& hylo) {
  DeviceIdentity id;
  for (int i = 0; i < 100 && id.modelCode == 0; ++i) {
    id = hylo.Connection().Identity();
    std::this_thread::sleep_for(20ms);
  }
  return id;
}

struct SimConnect : ::testing::Test {
  TempDir dir;
  ScriptedOperator op;
  std::unique_ptr<Hylo> hylo;
  void SetUp() override {
    hylo = std::make_unique<Hylo>(op, TestOptions(dir));
    ASSERT_EQ(hylo->Start(), 0);
  }
  void TearDown() override { hylo->MainExit(); }
  HyloConnect& Link() { return hylo->Connection(); }
  SessionResult Connect(int port, int timeoutMs = 1000) {
    return HyloSession(*hylo).Connect(TcpTarget{"127.0.0.1", port, timeoutMs});
  }
  SessionResult Connect(const std::string& device, int baud) {
    return HyloSession(*hylo).Connect(SerialTarget{device, baud});
  }
  // A search from the connection panel, run on the connection thread to its end.
  bool Search(bool ethernet) {
    auto& panel = hylo->Link().ConnectionPanel();
    panel.SetValue(connectpanel::kAddress, std::string("127.0.0.1"));
    panel.SetValue(connectpanel::kTcpTimeout, std::int64_t{300});
    return (ethernet ? Link().EthPortSearch() : Link().SerialPortSearch()) == 0 &&
           hylo->Threads().Barrier(CONNECT_THREAD, 60s);
  }
  // Maps the pty onto a COM port number, as a stored "Comm Serial Device" would, behind a
  // device that does not exist. The machine's real ports stay out of the searches.
  int ComPortFor(const std::string& device) {
    hylo->Groups().connection.commSerialDevice = device;
    Link().SetPorts(ComPortMap({"/dev/hylo-test-absent"}));
    return Link().Ports().NumberOf(device);
  }
};

TEST_F(SimConnect, NobodyListeningFailsWithTheMessageAndNoLink) {
  const int nobody = FreeLoopbackPort();
  // Ports 23 and 50000 are tried too; a unit on either would make this a different case.
  SimProcess probe(HYLO_SIM_BIN, {"--port", "50000", "--seconds", "1"});
  if (!probe.Ready()) GTEST_SKIP() << "something listens on 127.0.0.1:50000";
  probe.Stop();
  EXPECT_FALSE(Connect(nobody, 200).Ok());
  ASSERT_TRUE(op.WaitForNotices(1, 2000));
  EXPECT_EQ(op.Notices()[0], "Connection failed, Check link settings.");
  EXPECT_EQ(Link().ConnectionType(), LINK_NONE);
  EXPECT_EQ(hylo->Link().ConnectionPanel().Text(connectpanel::kStatus), "Not Connected");
}

TEST_F(SimConnect, PtyLinksAtHighBaudsIdentifyTheUnit) {
  for (const int baud : {256000, 1250000}) {
    SimProcess sim(HYLO_SIM_BIN,
                   {"--pty", "--baud", std::to_string(baud), "--model", "af", "--unit", "77", "--seconds", "60"});
    ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
    ASSERT_TRUE(Connect(sim.PtyPath(), baud).Ok()) << baud;
    const DeviceIdentity id = hylo->Connection().Identity();
    EXPECT_EQ(id.modelCode, 7);
    EXPECT_EQ(id.unitNumber, 77);
    EXPECT_EQ(hylo->Groups().connection.commSerialDevice, sim.PtyPath());
    HyloSession(*hylo).Disconnect();
    EXPECT_EQ(Link().ConnectionType(), LINK_NONE);
  }
}

// A unit that follows the new rate, and one that does not: half a second, three unheard
// identifies, five seconds, then the old rate.
TEST_F(SimConnect, BaudChangeIsReportedOrThePreviousRateRestored) {
  const struct {
    bool follows;
    const char* notice;
    int baud;
  } cases[] = {{true, "Baud Rate Updated Successfully", 921600},
               {false, "Baud rate update failed,\nPrevious baud rate restored.", 256000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.notice);
    std::vector<std::string> args{"--pty", "--baud", "256000", "--seconds", "60"};
    if (!c.follows) args.push_back("--ignore-baud");
    SimProcess sim(HYLO_SIM_BIN, args);
    ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
    ASSERT_TRUE(Connect(sim.PtyPath(), 256000).Ok());
    const std::size_t before = op.Notices().size();
    EXPECT_EQ(Link().SetBaudRate(921600), 0);  // posted to the connection thread
    ASSERT_TRUE(op.WaitForNotices(before + 1, 20000));
    EXPECT_EQ(op.Notices().back(), c.notice);
    EXPECT_EQ(Link().BaudRate(), c.baud);
    EXPECT_EQ(Link().ConnectionType(), LINK_SERIAL);
    if (c.follows) {
      // Other status lines (the clock step after identify) may come in between.
      auto updated = [&] {
        const auto lines = hylo->MainPanel().Get(mainpanel::kStatusField).items;
        return std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
          return l.find(" - 921.6k baud rate updated") != std::string::npos;
        });
      };
      EXPECT_TRUE(test::WaitFor(updated, 5000)) << "no \"921.6k baud rate updated\" status line";
    }
    HyloSession(*hylo).Disconnect();
  }
}

TEST_F(SimConnect, BaudRecoveryFindsAUnitAtAnotherRateAndBringsItTo19200) {
  SimProcess sim(HYLO_SIM_BIN, {"--pty", "--baud", "921600", "--unit", "55", "--seconds", "60"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  const int com = ComPortFor(sim.PtyPath());
  hylo->Link().ConnectionPanel().SetValue(connectpanel::kComPort, std::int64_t{com});
  op.QueueButton(0);  // "Yes" to the warning
  EXPECT_EQ(Link().RecoverBaud(), 0);
  ASSERT_TRUE(op.WaitForNotices(1, 30000));
  EXPECT_EQ(op.Notices()[0], "Unit successfully recovered at 19.2kbaud");
  EXPECT_EQ(Link().ConnectionType(), LINK_SERIAL);
  EXPECT_EQ(Link().BaudRate(), 19200);
  EXPECT_EQ(WaitForIdentity(*hylo).unitNumber, 55);
}

TEST_F(SimConnect, BaudChangeNeedsASerialLink) {
  EXPECT_EQ(Link().SetBaudRate(19200), -1);
  ASSERT_TRUE(op.WaitForNotices(1, 1000));
  EXPECT_EQ(op.Notices()[0], "This function can only be used with active serial connections");
}

TEST_F(SimConnect, EthernetSearchListsAUnitOnANonDefaultPortAndConnectsToIt) {
  SimProcess sim(HYLO_SIM_BIN, {"--port", "50100", "--unit", "812", "--seconds", "60"});
  if (!sim.Ready()) GTEST_SKIP() << "port 50100 (or its stream ports) taken on 127.0.0.1: " << sim.FirstLine();
  ASSERT_TRUE(Search(true));
  const auto found = Link().FoundUnits();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].label, "Aurisond HF 812");
  EXPECT_EQ(found[0].port, 50100);
  EXPECT_EQ(Link().ConnectionType(), LINK_NONE) << "a search leaves no link open";

  ASSERT_EQ(Link().ConnToFoundUnit(0), 0);
  EXPECT_EQ(WaitForIdentity(*hylo).unitNumber, 812);
  EXPECT_EQ(Link().PortBase(), 100);
  EXPECT_EQ(hylo->Link().ConnectionPanel().Int(connectpanel::kPort), 50100);
}

TEST_F(SimConnect, SerialSearchFindsTheUnitOnItsPty) {
  SimProcess sim(HYLO_SIM_BIN, {"--pty", "--baud", "460800", "--model", "lf", "--unit", "31", "--seconds", "60"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  const int com = ComPortFor(sim.PtyPath());
  ASSERT_GT(com, 0);
  ASSERT_TRUE(Search(false));
  ASSERT_EQ(com, 2);
  const auto found = Link().FoundUnits();
  ASSERT_EQ(found.size(), 1u) << "COM1 does not exist; COM2 is the pty";
  EXPECT_EQ(found[0].port, com);
  EXPECT_EQ(found[0].label, "Aurisond LF 31");
  EXPECT_EQ(found[0].baud, 460800) << "the faster rates are not heard by a unit at 460800";
  EXPECT_EQ(found[0].timeoutMs, 273);
  EXPECT_EQ(Link().ConnectionType(), LINK_NONE);
}

TEST_F(SimConnect, FoundUnitsThatAreNotInstrumentsAreRefused) {
  SimProcess sim(HYLO_SIM_BIN, {"--port", "50100", "--model", "12", "--seconds", "60"});
  if (!sim.Ready()) GTEST_SKIP() << "port 50100 taken on 127.0.0.1";
  ASSERT_TRUE(Search(true));
  ASSERT_EQ(Link().FoundUnits().size(), 1u);
  EXPECT_EQ(Link().FoundUnits()[0].label, "Unknown 1");
  EXPECT_EQ(Link().ConnToFoundUnit(0), -1);
  ASSERT_TRUE(op.WaitForNotices(1, 1000));
  EXPECT_EQ(op.Notices()[0], "Connections to this device are unsupported.");
}

TEST_F(SimConnect, CancelEndsAConnectThatGetsNoAnswer) {
  const int port = FreeLoopbackPort();
  SimProcess sim(HYLO_SIM_BIN, {"--port", std::to_string(port), "--withhold", "E", "--seconds", "60"});
  ASSERT_TRUE(sim.Ready()) << sim.FirstLine();
  auto done = std::async(std::launch::async, [&] { return Connect(port, 5000); });
  std::this_thread::sleep_for(300ms);
  Link().CancelConnect();
  // Three unanswered tries would take 15 s; a cancel ends it in a step or two.
  ASSERT_EQ(done.wait_for(3s), std::future_status::ready);
  EXPECT_FALSE(done.get().Ok());
  EXPECT_EQ(Link().ConnectionType(), LINK_NONE);
}

}  // namespace
