// COM port numbers, found-unit labels and the connect sequence against a scripted link.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "link/ComPortMap.h"
#include "link/HyloConnect.h"
#include "settings/HyloIni.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"
#include "test_link_support.h"

using namespace hylo;
using linktest::Bytes;
using linktest::Reply;

namespace {

std::vector<std::uint8_t> IdentifyPayload(std::uint8_t model, std::uint8_t interfaceCode) {
  std::vector<std::uint8_t> p(43, 0);
  p[0] = 0xD2;
  p[1] = 0x04;  // unit 1234
  const char fw[] = "v2.1.0";
  std::copy(fw, fw + 6, p.begin() + 2);
  p[28] = model;
  p[32] = 3;
  p[42] = interfaceCode;
  return p;
}

struct Connect : ::testing::Test {
  HyloIni ini;
  ScriptedOperator op;
  ConnectionSettings settings;
  linktest::ScriptedLink link;
  std::deque<Bytes> replies;  // answered in turn; none left: a time-out
  PanelModel panel{"connection"};
  PanelModel main{"main"};
  HyloConnect connect{ini, op, settings, link, panel, main};
  void SetUp() override {
    link.answer = [this](std::uint8_t, const Bytes&, int) -> std::optional<Bytes> {
      if (replies.empty()) return std::nullopt;
      Bytes r = std::move(replies.front());
      replies.pop_front();
      return r;
    };
    connect.InitConnection();
  }
  // Connect as the panel's button does, over Ethernet to `port`.
  int ConnectTo(int port) {
    panel.SetValue(connectpanel::kLinkType, std::int64_t{LINK_ETHERNET});
    panel.SetValue(connectpanel::kAddress, std::string("127.0.0.1"));
    panel.SetValue(connectpanel::kPort, std::int64_t{port});
    panel.SetValue(connectpanel::kTcpTimeout, std::int64_t{100});
    return connect.ConnectPort();
  }
};

}  // namespace

TEST_F(Connect, FallsBackToPort23AndKeepsThePortBase) {
  link.tcpAccepts[23] = true;
  replies.push_back(Reply('E', IdentifyPayload(5, 3)));
  EXPECT_EQ(ConnectTo(50100), 0);
  ASSERT_EQ(link.opened.size(), 2U);
  EXPECT_EQ(link.opened[1].second, 23);
  EXPECT_EQ(panel.Int(connectpanel::kPort), 23);
  EXPECT_EQ(connect.PortBase(), 0) << "port 23 leaves the port base alone";
  EXPECT_EQ(connect.ConnectionType(), LINK_ETHERNET);

  link.tcpAccepts[50010] = true;
  replies.push_back(Reply('E', IdentifyPayload(5, 3)));
  EXPECT_EQ(ConnectTo(50010), 0);
  EXPECT_EQ(connect.PortBase(), 10);
}

TEST_F(Connect, NoAnswerAfterThreeTriesClosesTheLink) {
  link.tcpAccepts[50000] = true;
  EXPECT_EQ(ConnectTo(50000), -1);
  EXPECT_EQ(std::ranges::count(link.Letters(), 'E'), 3) << "three tries; port 23 refuses the connection";
  EXPECT_EQ(connect.ConnectionType(), LINK_NONE);
  EXPECT_EQ(panel.Text(connectpanel::kStatus), "Not Connected");
  ASSERT_FALSE(op.Notices().empty());
  EXPECT_EQ(op.Notices().back(), "Connection failed, Check link settings.");
}

TEST_F(Connect, SerialInterfaceUnitsReportTheirBaudAndShortAnswersKeepIt) {
  link.tcpAccepts[50000] = true;
  replies.push_back(Reply('E', IdentifyPayload(5, 4)));
  replies.push_back(Reply('B', {0x00, 0x84, 0x03, 0x00}));  // 230400
  EXPECT_EQ(ConnectTo(50000), 0);
  EXPECT_EQ(settings.baudRate, 230400);
  replies.push_back(Reply('E', IdentifyPayload(5, 4)));
  replies.push_back(Reply('B', {0x00, 0x4B}));
  EXPECT_EQ(ConnectTo(50000), 0);
  EXPECT_EQ(settings.baudRate, 230400) << "a 2-byte answer holds no baud rate";
}

TEST_F(Connect, VersionReplyDescribesTheUnitAndWarnsOfOldFirmware) {
  link.tcpAccepts[50000] = true;
  replies.push_back(Reply('E', IdentifyPayload(5, 3)));
  ASSERT_EQ(ConnectTo(50000), 0);
  connect.OnVersionReply(IdentifyPayload(5, 3));
  EXPECT_EQ(main.Text(mainpanel::kUnitLine), "Aurisond HF # 1234 Ready   Firmware v2.1.0");
  EXPECT_TRUE(op.Notices().empty());
  auto old = IdentifyPayload(5, 3);
  old[3] = '1';
  old[5] = '4';  // v1.1.4
  connect.OnVersionReply(old);
  ASSERT_EQ(op.Notices().size(), 1U);
  EXPECT_EQ(op.Notices()[0].rfind("The connected device requires a firmware update", 0), 0U);
  connect.DisconnectFromUnit();
  EXPECT_EQ(main.Text(mainpanel::kUnitLine), "Not Connected");
}

TEST(SerialTiming, TableAndTheTimeOutAfterIdentify) {
  EXPECT_EQ(SerialTimeoutForBaud(1250000), 101);
  EXPECT_EQ(SerialTimeoutForBaud(256000), 105);
  EXPECT_EQ(SerialTimeoutForBaud(31337), 156);
  EXPECT_EQ(SerialTimingAfterIdentify(19200, 1, 156).timeoutMs, 4266);
  EXPECT_EQ(SerialTimingAfterIdentify(460800, 2, 103).baud, 1250000) << "USB units run at 1.25 Mbaud";
  EXPECT_EQ(SerialTimingAfterIdentify(256000, 1, 105).timeoutMs, 412);
  EXPECT_EQ(SerialTimingAfterIdentify(9600, 1, 228).timeoutMs, 228) << "never a 0 ms time-out";
  EXPECT_EQ(BaudLabel(921600), "921.6k");
}

TEST(ComPorts, NumbersFollowTheListAndNamedDevicesAreAddedOnce) {
  ComPortMap map({"/dev/ttyS0", "/dev/ttyUSB0"});
  EXPECT_EQ(map.NumberOf("/dev/ttyUSB0"), 2);
  EXPECT_EQ(map.Add("/dev/pts/7"), 3);
  EXPECT_EQ(map.Add("/dev/pts/7"), 3) << "the same device keeps its number";
  EXPECT_EQ(map.Add(""), 0);
  EXPECT_EQ(map.DeviceOf(3), "/dev/pts/7");
  EXPECT_EQ(map.DeviceOf(0), "");
  EXPECT_EQ(map.DeviceOf(4), "") << "an unmapped number opens nothing";
  EXPECT_EQ(map.Labels()[1], "COM2 (/dev/ttyUSB0)");
}

TEST(ComPorts, TheMapStopsAtOneHundredPorts) {
  ComPortMap map;
  for (int i = 0; i < 120; ++i) map.Add("/dev/tty" + std::to_string(i));
  EXPECT_EQ(map.Count(), ComPortMap::kMaxPorts);
  EXPECT_EQ(map.NumberOf("/dev/tty110"), 0);
}

TEST(ComPorts, FoundUnitLabelsNameOnlyInstrumentsAndTheSkiff) {
  EXPECT_EQ(FoundUnitLabel(15, 9), "Aurisond Skiff 9");
  EXPECT_EQ(FoundUnitLabel(12, 9), "Unknown 9") << "a link board is not labelled by the model table here";
  EXPECT_EQ(FoundUnitLabel(1, 65535), "Unknown 65535");
}
