// Discovery datagrams, the unit finder's address rules, and the finder against loopback
// sockets (enquiries and set commands go to 127.0.0.1 only).
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <set>

#include "link/DiscoveryWire.h"
#include "link/HyloUnitFinder.h"
#include "link/NetworkRules.h"
#include "settings/HyloIni.h"
#include "shell/ScriptedOperator.h"
#include "support/SimProcess.h"
#include "test_link_support.h"
#include "wire/CRC_Update.h"

using namespace hylo;
using namespace hylo::discovery;
namespace nr = hylo::netrules;

namespace {

std::vector<std::uint8_t> Frame(char letter, std::vector<std::uint8_t> payload) {
  std::vector<std::uint8_t> f(payload.size() + 4);
  f[0] = '*';
  f[1] = static_cast<std::uint8_t>(letter);
  f[2] = static_cast<std::uint8_t>(payload.size());
  f[3] = static_cast<std::uint8_t>(payload.size() >> 8);
  std::copy(payload.begin(), payload.end(), f.begin() + 4);
  const std::uint16_t crc = CRC_Update(0, f);
  f.push_back(static_cast<std::uint8_t>(crc));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  return f;
}

// Model 5, unit 606, MAC 00:1A:2B:3C:4D:5E, fixed 172.16.5.9/16, gateway 172.16.0.1: each
// address last byte first.
std::vector<std::uint8_t> RecordBytes() {
  return {5, 0x5E, 0x02, 0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00, 2, 9, 5, 16, 172, 0, 0, 255, 255, 1, 0, 16, 172};
}

const Mac kMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

}  // namespace

TEST(DiscoveryWire, DatagramsAreCheckedBeforeAnyFieldIsRead) {
  const auto record22 = RecordBytes();
  auto reply22 = Frame('W', record22);
  auto reply21 = Frame('W', std::vector<std::uint8_t>(record22.begin(), record22.end() - 1));
  auto badCrc = reply22;
  badCrc[10] ^= 1;
  auto badStart = reply22;
  badStart[0] = '#';
  auto cut = reply22;
  cut.pop_back();
  auto longLength = reply22;
  longLength[2] = 0xFF;  // claims more than arrived
  std::vector<std::uint8_t> result24 = RecordBytes();
  result24.insert(result24.begin() + 9, {0, 0});  // code 0 after the MAC
  auto result23 = result24;
  result23.pop_back();
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    int kind;  // 0 ignored, 1 discovery record, 2 set result
  } cases[] = {
      {"N = 22", reply22, 1},
      {"N = 21", reply21, 0},
      {"wrong CRC", badCrc, 0},
      {"wrong start byte", badStart, 0},
      {"one byte short", cut, 0},
      {"length beyond the datagram", longLength, 0},
      {"set result N = 24", Frame('X', result24), 2},
      {"set result N = 23", Frame('X', result23), 0},
      {"empty", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Datagram d = ParseDatagram(c.bytes);
    EXPECT_EQ(static_cast<int>(d.index()), c.kind);
  }
  const auto record = std::get<DiscoveryRecord>(ParseDatagram(reply22));
  EXPECT_EQ(record.modelCode, 5);
  EXPECT_EQ(record.unitNumber, 606);
  EXPECT_EQ(record.mac, kMac);
  EXPECT_EQ(nr::DottedText(record.ipAddress), "172.16.5.9");
  EXPECT_EQ(nr::DottedText(record.subnetMask), "255.255.0.0");
  EXPECT_EQ(nr::DottedText(record.gateway), "172.16.0.1");
  auto enc = EncodeRecord(record);
  EXPECT_EQ(std::vector<std::uint8_t>(enc.begin(), enc.end()), RecordBytes());
  const auto result = std::get<SetResult>(ParseDatagram(Frame('X', result24)));
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.record, record);
}

TEST(DiscoveryWire, EnquiryAndSetCommandLayout) {
  const auto enquiry = BuildEnquiry(0xC3A1);
  EXPECT_EQ(enquiry.size(), 17U);
  EXPECT_EQ(std::vector<std::uint8_t>(enquiry.begin(), enquiry.begin() + 15),
            (std::vector<std::uint8_t>{'*', 'W', 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0xC3}));
  EXPECT_EQ(CRC_Update(0, enquiry), 0);

  SetCommand c{5, 606, kMac, 40000, kModeFixed, 0xC0A80114, 0xFFFFFF00, 0xC0A80101};
  const auto set = BuildSetCommand(c);
  const std::vector<std::uint8_t> want{'*',  'X', 24, 0, 5,   0x5E, 0x02, 0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00, 0x40,
                                       0x9C, 2,   20, 1, 168, 192,  0,    255,  255,  255,  1,    1,    168,  192};
  EXPECT_EQ(std::vector<std::uint8_t>(set.begin(), set.begin() + 28), want);
  EXPECT_EQ(CRC_Update(0, set), 0);
}

TEST(NetworkRules, OctetFieldCorrections) {
  const struct {
    const char* text;
    bool first;
    const char* kept;
    const char* notice;
  } cases[] = {
      {"0", true, "223", "0 is not a valid entry. Please specify a value between 1 and 223"},
      {"224", true, "223", "224 is not a valid entry. Please specify a value between 1 and 223"},
      {"127", true, "1",
       "IP addresses starting with 127 are not valid entries because they are reserved for loopback addresses. "
       "Please specify a different value between 1 and 223."},
      {"223", true, "223", ""},
      {"", true, "", ""},
      {"256", false, "255", "256 is not a valid entry. Please specify a value between 0 and 255"},
      {"255", false, "255", ""},
      {"0", false, "0", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto check = nr::CheckOctetField(c.text, c.first);
    EXPECT_EQ(check.text, c.kept);
    EXPECT_EQ(check.notice, c.notice);
  }
}

TEST(NetworkRules, MasksHostPartsAndDefaults) {
  const struct {
    const char* mask;
    nr::MaskFault fault;
  } masks[] = {{"255.255.0.255", nr::MaskFault::NotContiguous},
               {"255.255.255.255", nr::MaskFault::TopOrLowBit},
               {"0.0.0.0", nr::MaskFault::TopOrLowBit},
               {"127.255.255.0", nr::MaskFault::NotContiguous},
               {"255.255.255.0", nr::MaskFault::None},
               {"255.255.255.252", nr::MaskFault::None},
               {"128.0.0.0", nr::MaskFault::None}};
  for (const auto& m : masks) EXPECT_EQ(nr::CheckMask(*nr::ParseDotted(m.mask)), m.fault) << m.mask;
  EXPECT_TRUE(nr::MaskQuestion(nr::MaskFault::TopOrLowBit).ends_with("class?."));
  EXPECT_TRUE(nr::MaskQuestion(nr::MaskFault::NotContiguous).ends_with("class?"));

  const struct {
    const char* address;
    bool usable;
  } hosts[] = {{"192.168.1.0", false}, {"192.168.1.255", false}, {"192.168.1.20", true}};
  for (const auto& h : hosts)
    EXPECT_EQ(nr::HostPartUsable(*nr::ParseDotted(h.address), 0xFFFFFF00), h.usable) << h.address;

  const std::map<int, std::string> defaults{{1, "255.0.0.0"},     {127, "255.0.0.0"},     {128, "255.255.0.0"},
                                            {191, "255.255.0.0"}, {192, "255.255.255.0"}, {223, "255.255.255.0"}};
  for (const auto& [first, mask] : defaults) EXPECT_EQ(nr::DottedText(nr::DefaultMask(first)), mask) << first;
}

TEST(NetworkRules, GatewayPrefillMacTextAndDottedText) {
  const struct {
    nr::Octets ip, mask, gateway;
  } cases[] = {
      {{"192", "168", "1", "20"}, {"255", "255", "255", "0"}, {"192", "168", "1", "1"}},
      {{"10", "1", "2", "3"}, {"255", "255", "0", "0"}, {"10", "1", "0", "1"}},
      {{"172", "16", "5", "9"}, {"255", "0", "0", "0"}, {"172", "0", "0", "1"}},
  };
  for (const auto& c : cases) EXPECT_EQ(nr::GatewayPrefill(c.ip, c.mask), c.gateway) << c.ip[0];

  EXPECT_EQ(nr::MacText(kMac), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(nr::ParseMacText("00:1a:2B:3C:4D:5E"), kMac);
}

TEST(NetworkRules, SuggestAddressTakesTheFirstSilentAddressFromTheTop) {
  std::atomic<bool> cancel{false};
  std::map<std::string, int> pings;
  const std::set<std::string> taken{"10.9.0.254", "10.9.0.253"};
  auto ping = [&](const std::string& a, int timeoutMs) {
    EXPECT_EQ(timeoutMs, 1000);
    ++pings[a];
    return taken.contains(a);
  };
  EXPECT_EQ(nr::DottedText(*nr::SuggestAddress("10.9.0.1", ping, cancel)), "10.9.0.252");
  EXPECT_EQ(pings["10.9.0.254"], 1) << "an answer ends the tries";
  EXPECT_EQ(pings["10.9.0.252"], 4) << "four tries before an address counts as free";
  EXPECT_FALSE(nr::SuggestAddress("not an address", ping, cancel));
  int all = 0;
  EXPECT_FALSE(nr::SuggestAddress(
      "10.9.0.1", [&](const std::string&, int) { return ++all > 0; }, cancel));
  EXPECT_EQ(all, 254) << "the sweep is bounded: .254 down to .1";
  cancel = true;
  EXPECT_FALSE(nr::SuggestAddress("10.9.0.1", ping, cancel));
}

namespace {

using Listener = test::LoopbackUdp;

struct Finder : ::testing::Test {
  HyloIni ini;
  ScriptedOperator op;
  ConnectionSettings settings;
  linktest::ScriptedLink link;
  PanelModel panel{"connection"};
  PanelModel main{"main"};
  PanelModel finderPanel{"unitFinder"};
  HyloConnect connect{ini, op, settings, link, panel, main};
  HyloUnitFinder finder{op, connect, panel, finderPanel};
  Listener unit;
  std::set<std::string> answering;  // addresses that answer pings
  void SetUp() override {
    auto ping = [this](const std::string& a, int) { return answering.contains(a); };
    connect.SetPing(ping);
    finder.SetPing(ping);
    finder.SetInterfaces([] { return std::vector<std::string>{"127.0.0.1"}; });
    finder.SetDestination("127.0.0.1", unit.port);
    finder.SetSearchLimits(10, 20);
    connect.InitConnection();
    finder.InitDiscovery();
    ASSERT_EQ(finder.OpenDiscoveryChannels(), 0);
  }
  FoundUnit Unit() {
    FoundUnit u;
    u.modelCode = 5;
    u.unitNumber = 606;
    u.macAddress = kMac;
    u.ipAddress = 0xAC100509;
    u.subnetMask = 0xFFFF0000;
    return u;
  }
  void Fill(const char* address, nr::Octets o) {
    for (int i = 0; i < 4; ++i) finderPanel.SetValue(finderpanel::Field(address, i), o[static_cast<std::size_t>(i)]);
  }
  bool WaitForItems(std::size_t n) {
    for (int i = 0; i < 200; ++i) {
      if (panel.Get(connectpanel::kFoundUnits).items.size() >= n) return true;
      ::usleep(10000);
    }
    return false;
  }
};

}  // namespace

TEST_F(Finder, EnquiryRepliesAreListedOncePerMac) {
  // The enquiry reaches the "unit" with the channel's own reply port.
  std::thread search([&] { finder.CBEnquireNetwork(0); });
  const auto enquiry = unit.Receive();
  ASSERT_EQ(enquiry.size(), 17U);
  const std::uint16_t replyPort = static_cast<std::uint16_t>(enquiry[13] | enquiry[14] << 8);
  EXPECT_EQ(replyPort, finder.ChannelPort(0));
  unit.SendTo(replyPort, Frame('W', RecordBytes()));
  unit.SendTo(replyPort, Frame('W', RecordBytes()));
  auto other = RecordBytes();
  other[3] = 0x5F;                                                                                // another MAC
  unit.SendTo(replyPort, Frame('W', std::vector<std::uint8_t>(other.begin(), other.end() - 1)));  // N = 21
  search.join();
  const auto units = connect.FoundUnits();
  ASSERT_EQ(units.size(), 1U);
  EXPECT_EQ(units[0].label, "Aurisond HF 606 - Configure");
  EXPECT_EQ(units[0].address, "172.16.5.9");
  EXPECT_EQ(units[0].port, 50000);
  EXPECT_EQ(panel.Get(connectpanel::kFoundUnits).items, std::vector<std::string>{"Aurisond HF 606 - Configure"});
  EXPECT_FALSE(panel.Get(connectpanel::kSearchProgress).visible);
  EXPECT_EQ(panel.Text(connectpanel::kSearchProgress), "Searching for Units: 1 found");
}

TEST_F(Finder, SetResultsUpdateTheListAndTellTheOperator) {
  auto result = RecordBytes();
  result.insert(result.begin() + 9, {0, 0});
  result[12] = 20, result[13] = 0, result[14] = 9, result[15] = 10;  // now 10.9.0.20
  unit.SendTo(finder.ChannelPort(0), Frame('X', result));
  ASSERT_TRUE(WaitForItems(1));
  EXPECT_EQ(connect.FoundUnits()[0].address, "10.9.0.20");
  auto failed = result;
  failed[9] = 7;
  unit.SendTo(finder.ChannelPort(0), Frame('X', failed));
  ASSERT_TRUE(op.WaitForNotices(2, 2000));
  EXPECT_EQ(op.Notices()[0], "Aurisond #606 was reconfigured with address: 10.9.0.20.");
  EXPECT_EQ(op.Notices()[1], "Aurisond #606 failed to update network settings.\nError Code: 7");
}

TEST_F(Finder, AutoReconfigureSendsAFreeAddressOnTheUnitsChannel) {
  answering = {"127.0.0.254"};
  ConnectRequest r;
  r.op = kOpDiscovered;
  r.record = EncodeRecord(
      *std::get_if<DiscoveryRecord>(&static_cast<const Datagram&>(ParseDatagram(Frame('W', RecordBytes())))));
  connect.HandleConnectRequest(r);
  connect.SetReconfigure([&](const FoundUnit& u, bool automatic) {
    EXPECT_TRUE(automatic);
    finder.AutoReconfigure(u);
  });
  op.QueueButton(0);  // "Auto (Recommended)"
  EXPECT_EQ(connect.ConnToFoundUnit(0), 0);
  EXPECT_EQ(op.Questions().size(), 1U);
  const auto set = unit.Receive();
  ASSERT_EQ(set.size(), 30U);
  const auto parsed = BuildSetCommand({5, 606, kMac, finder.ChannelPort(0), kModeFixed, 0x7F0000FD, 0xFF000000, 0});
  EXPECT_EQ(set, std::vector<std::uint8_t>(parsed.begin(), parsed.end())) << "127.0.0.253 with its class mask";
  EXPECT_EQ(connect.FoundUnits()[0].address, "127.0.0.253");
}

TEST_F(Finder, AcceptChangesChecksMaskAndHostPart) {
  FoundUnit u = Unit();
  finder.ManualReconfigure(u);
  EXPECT_TRUE(finderPanel.Get(finderpanel::kPanel).visible);
  EXPECT_EQ(finderPanel.Text(finderpanel::kMac), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(finderPanel.Text(finderpanel::kModel), "Aurisond HF");
  Fill("ip", {"192", "168", "1", "0"});
  Fill("mask", {"255", "255", "255", "0"});
  EXPECT_EQ(finder.CBAcceptChanges(), -1);
  EXPECT_EQ(op.Notices().back(),
            "The IP address and subnet address are not compatable.\nPlease adjust your settings before trying to apply "
            "again.");
  Fill("mask", {"255", "255", "0", "255"});
  op.QueueButton(1);  // keep the mask: nothing is sent
  EXPECT_EQ(finder.CBAcceptChanges(), -1);
  EXPECT_EQ(op.Notices().back(), "Network settings have not been updated.");
  Fill("ip", {"192", "168", "1", "20"});
  Fill("mask", {"255", "255", "255", "255"});
  op.QueueButton(0);  // take the class default
  finder.CBDisableGateway(false);
  EXPECT_EQ(finderPanel.Text("gw0"), "192");
  EXPECT_EQ(finderPanel.Text("gw3"), "1");
  EXPECT_EQ(finder.CBAcceptChanges(), 0);
  EXPECT_EQ(finderPanel.Text("mask3"), "0");
  const auto set = unit.Receive();
  const auto want =
      BuildSetCommand({5, 606, kMac, finder.ChannelPort(0), kModeFixed, 0xC0A80114, 0xFFFFFF00, 0xC0A80101});
  EXPECT_EQ(set, std::vector<std::uint8_t>(want.begin(), want.end()));
  EXPECT_FALSE(finderPanel.Get(finderpanel::kPanel).visible);
}

TEST_F(Finder, FieldsMoveFocusAndDhcpDimsTheAddress) {
  EXPECT_EQ(finder.CBIpField("ip0", "192"), "ip1");
  EXPECT_EQ(finder.CBIpField("ip3", "100"), "") << "the last field keeps the focus";
  EXPECT_EQ(finder.CBIpField("gw0", "0"), "");
  EXPECT_EQ(finderPanel.Text("gw0"), "223");
  EXPECT_EQ(finder.CBIpField("mask0", "0"), "") << "a mask may begin with 0 while typed";
  EXPECT_EQ(finder.CBIpFieldKey("ip2", '\b', true), HyloUnitFinder::KeyAction::FocusPrevious);
  EXPECT_EQ(finder.CBIpFieldKey("ip0", '\b', true), HyloUnitFinder::KeyAction::Accept);
  finder.CBSetIpMode(kModeDhcp);
  EXPECT_EQ(finderPanel.Text("ip0"), "0");
  EXPECT_TRUE(finderPanel.Get("ip0").dimmed);
  finder.CBSetIpMode(kModeFixed);
  EXPECT_FALSE(finderPanel.Get("ip0").dimmed);
  EXPECT_TRUE(finderPanel.Get("gw0").dimmed) << "the gateway stays off while its switch is set";
}

TEST_F(Finder, ReconfigureFallsBackToTheManualViewOrReportsAMissingUnit) {
  ConnectRequest r;
  r.op = kOpReconfigure;
  r.unitNumber = 999;
  r.ticket = 1;
  EXPECT_EQ(connect.HandleConnectRequest(r), -1);
  EXPECT_EQ(op.Notices().back(), "Error: Could not find unit in the list.\nPlease re-enquire network and try again.");
  EXPECT_EQ(connect.FinishedTicket(), 1U) << "the waiting window is released all the same";

  finder.SetPing([](const std::string&, int) { return true; });  // every address taken
  finder.AutoReconfigure(Unit());
  EXPECT_EQ(op.Notices().back(), "Unable to find a compatible IP .\nAddress will have to be entered manually.");
  EXPECT_TRUE(finderPanel.Get(finderpanel::kPanel).visible);
  EXPECT_EQ(finderPanel.Text("ip0"), "172");
}
