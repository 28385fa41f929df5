#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "link/HyloConnect.h"
#include "settings/HyloIni.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"

using namespace hylo;

namespace {

// The connection rules against a scripted link: which ports accept, what the unit answers.
// (The same rules run against hylo-sim over loopback in the integration tests.)
class ScriptedLink final : public CommandLink {
 public:
  std::map<int, bool> tcpAccepts;
  std::deque<std::optional<std::vector<std::uint8_t>>> replies;
  std::vector<std::pair<std::string, int>> opened;
  std::vector<char> sent;
  int closes = 0;
  int type = LINK_NONE;
  bool OpenTcp(const std::string& host, int port, int) override {
    opened.emplace_back(host, port);
    type = tcpAccepts[port] ? LINK_ETHERNET : LINK_NONE;
    return type == LINK_ETHERNET;
  }
  bool OpenSerial(int, int, int) override {
    type = LINK_SERIAL;
    return true;
  }
  void Close() override {
    ++closes;
    type = LINK_NONE;
  }
  int ConnectionType() const override { return type; }
  std::optional<std::vector<std::uint8_t>> Transact(std::uint8_t letter, std::span<const std::uint8_t>, int, bool,
                                                    const std::atomic<bool>&) override {
    sent.push_back(static_cast<char>(letter));
    if (replies.empty()) return std::nullopt;
    auto r = replies.front();
    replies.pop_front();
    return r;
  }
  int Send(std::uint8_t, std::span<const std::uint8_t>, bool) override { return 0; }
  void CancelCommands() override {}
};

std::vector<std::uint8_t> Frame(char letter, std::vector<std::uint8_t> payload) {
  std::vector<std::uint8_t> f(4 + payload.size());
  f[0] = '*';
  f[1] = static_cast<std::uint8_t>(letter);
  f[2] = static_cast<std::uint8_t>(payload.size());
  f[3] = static_cast<std::uint8_t>(payload.size() >> 8);
  std::copy(payload.begin(), payload.end(), f.begin() + 4);
  return f;
}

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
  ScriptedLink link;
  PanelModel panel{"connection"};
  PanelModel main{"main"};
  HyloConnect connect{ini, op, settings, link, panel, main};
  void SetUp() override { connect.InitConnection(); }
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
  link.replies.push_back(Frame('E', IdentifyPayload(5, 3)));
  EXPECT_EQ(ConnectTo(50100), 0);
  ASSERT_EQ(link.opened.size(), 2U);
  EXPECT_EQ(link.opened[1].second, 23);
  EXPECT_EQ(panel.Int(connectpanel::kPort), 23);
  EXPECT_EQ(connect.PortBase(), 0) << "port 23 leaves the port base alone";
  EXPECT_EQ(connect.ConnectionType(), LINK_ETHERNET);

  link.tcpAccepts[50010] = true;
  link.replies.push_back(Frame('E', IdentifyPayload(5, 3)));
  EXPECT_EQ(ConnectTo(50010), 0);
  EXPECT_EQ(connect.PortBase(), 10);
}

TEST_F(Connect, NoAnswerAfterThreeTriesClosesTheLink) {
  link.tcpAccepts[50000] = true;
  EXPECT_EQ(ConnectTo(50000), -1);
  EXPECT_EQ(std::count(link.sent.begin(), link.sent.end(), 'E'), 3) << "three tries; port 23 refuses the connection";
  EXPECT_EQ(connect.ConnectionType(), LINK_NONE);
  EXPECT_EQ(panel.Text(connectpanel::kStatus), "Not Connected");
  ASSERT_FALSE(op.Notices().empty());
  EXPECT_EQ(op.Notices().back(), "Connection failed, Check link settings.");
}

TEST_F(Connect, SerialInterfaceUnitsReportTheirBaudAndShortAnswersKeepIt) {
  link.tcpAccepts[50000] = true;
  link.replies.push_back(Frame('E', IdentifyPayload(5, 4)));
  link.replies.push_back(Frame('B', {0x00, 0x84, 0x03, 0x00}));  // 230400
  EXPECT_EQ(ConnectTo(50000), 0);
  EXPECT_EQ(settings.baudRate, 230400);
  link.replies.push_back(Frame('E', IdentifyPayload(5, 4)));
  link.replies.push_back(Frame('B', {0x00, 0x4B}));
  EXPECT_EQ(ConnectTo(50000), 0);
  EXPECT_EQ(settings.baudRate, 230400) << "a 2-byte answer holds no baud rate";
}

TEST_F(Connect, VersionReplyDescribesTheUnitAndWarnsOfOldFirmware) {
  link.tcpAccepts[50000] = true;
  link.replies.push_back(Frame('E', IdentifyPayload(5, 3)));
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
