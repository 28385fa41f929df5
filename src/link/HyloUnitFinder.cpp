#include "link/HyloUnitFinder.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "link/DeviceIdentity.h"
#include "platform/InetPing.h"
#include "shell/OperatorPort.h"

namespace hylo {
namespace {

constexpr const char* kAddresses[] = {"ip", "mask", "gw"};

std::string FinderModelLabel(int model) {
  switch (model) {
    case 2:
      return "Aurisond LF";
    case 4:
      return "Vocaris HF";
    case 5:
      return "Aurisond HF";
    case 7:
      return "Aurisond AF";
    default:
      return "Unknown";
  }
}

int ModelFromLabel(std::string_view label) {
  if (label == "Aurisond LF") return 2;
  if (label == "Aurisond HF") return 5;
  if (label == "Aurisond AF") return 7;
  return 0;
}

// "ip2" -> {"ip", 2}; octet −1 when the id is not an address field.
std::pair<std::string, int> SplitField(std::string_view field) {
  if (field.empty()) return {{}, -1};
  const char last = field.back();
  if (last < '0' || last > '3') return {{}, -1};
  const std::string address(field.substr(0, field.size() - 1));
  for (const char* a : kAddresses)
    if (address == a) return {address, last - '0'};
  return {{}, -1};
}

std::string Format(const char* pattern, int a, int b = 0, int c = 0, int d = 0, int e = 0) {
  char text[256];
  std::snprintf(text, sizeof text, pattern, a, b, c, d, e);
  return text;
}

}  // namespace

std::string finderpanel::Field(std::string_view address, int octet) {
  return std::string(address) + std::to_string(octet);
}

HyloUnitFinder::HyloUnitFinder(OperatorPort& op, HyloConnect& connect, PanelModel& connectionPanel,
                               PanelModel& finderPanel)
    : operator_(op), connect_(connect), connectionPanel_(connectionPanel), panel_(finderPanel) {}

HyloUnitFinder::~HyloUnitFinder() { ShutdownDiscovery(); }

void HyloUnitFinder::SetDestination(std::string address, std::uint16_t port) {
  destination_ = std::move(address);
  destinationPort_ = port;
}

void HyloUnitFinder::SetSearchLimits(double maxSeconds, int roundMs) {
  maxSearchSeconds_ = maxSeconds;
  roundMs_ = roundMs;
}

void HyloUnitFinder::InitDiscovery() {
  panel_.SetVisible(finderpanel::kPanel, false);
  panel_.SetValue(finderpanel::kIpMode, std::int64_t{discovery::kModeFixed});
  connectionPanel_.SetValue(connectpanel::kSearchType, std::int64_t{0});
  connectionPanel_.SetVisible(connectpanel::kSearchProgress, false);
}

void HyloUnitFinder::ShutdownDiscovery() {
  Quit();
  sockets_.Close();
}

void HyloUnitFinder::Quit() {
  shutdown_ = true;
  stop_ = true;
}

int HyloUnitFinder::OpenDiscoveryChannels() {
  sockets_.Close();
  const auto addresses = interfaces_ ? interfaces_() : platform::LocalIPv4Addresses();
  const int opened = sockets_.Open(addresses, [this](int index, std::span<const std::uint8_t> data, bool error) {
    OnDiscoveryData(index, data, error);
  });
  std::vector<std::string> items;
  for (int i = 0; i < opened; ++i) items.push_back(sockets_.LocalAddress(i));
  panel_.SetItems(finderpanel::kInterface, std::move(items));
  if (opened == 0) {
    operator_.ShowNotice("Unable create unit finder channel(s).");
    return -1;
  }
  return 0;
}

void HyloUnitFinder::OnDiscoveryData(int index, std::span<const std::uint8_t> data, bool readError) {
  if (readError) {
    operator_.ShowNotice("Failed to read data");
    return;
  }
  const discovery::Datagram datagram = discovery::ParseDatagram(data);
  ConnectRequest request;
  request.op = kOpDiscovered;
  request.channel = static_cast<std::uint8_t>(index);
  if (const auto* record = std::get_if<discovery::DiscoveryRecord>(&datagram)) {
    request.record = discovery::EncodeRecord(*record);
    connect_.Post(request);
  } else if (const auto* result = std::get_if<discovery::SetResult>(&datagram)) {
    const discovery::DiscoveryRecord& r = result->record;
    if (result->code != 0) {
      operator_.ShowNotice(
          Format("Aurisond #%d failed to update network settings.\nError Code: %d", r.unitNumber, result->code));
      return;
    }
    request.record = discovery::EncodeRecord(r);
    connect_.Post(request);
    if (r.addressMode == discovery::kModeDhcp) {
      operator_.ShowNotice(Format("Aurisond #%d was reconfigured to acquire an address using DHCP.", r.unitNumber));
    } else {
      const std::uint32_t a = r.ipAddress;
      operator_.ShowNotice(Format("Aurisond #%d was reconfigured with address: %d.%d.%d.%d.", r.unitNumber,
                                  static_cast<int>(a >> 24), static_cast<int>(a >> 16 & 0xFF),
                                  static_cast<int>(a >> 8 & 0xFF), static_cast<int>(a & 0xFF)));
    }
  }
}

void HyloUnitFinder::Pause(int ms) {
  for (int waited = 0; waited < ms && !stop_; waited += 100) {
    if (pump_) pump_();
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(100, ms - waited)));
  }
}

int HyloUnitFinder::CBEnquireNetwork(int searchType) {
  if (searchType == 1) return connect_.SerialPortSearch();
  if (searching_.exchange(true)) return -1;  // one search at a time
  if (forget_) {
    forget_();
  } else {
    connect_.ForgetUnits();
  }
  if (OpenDiscoveryChannels() != 0) {
    searching_ = false;
    return -1;
  }
  for (int i = 0; i < sockets_.Count(); ++i)
    sockets_.Send(i, discovery::BuildEnquiry(sockets_.LocalPort(i)), destination_, destinationPort_);
  stop_ = shutdown_.load();
  connectionPanel_.SetVisible(connectpanel::kSearchProgress, true);
  connectionPanel_.SetDimmed(connectpanel::kEnquire, true);
  // Rounds of about a second until five in a row bring no new unit, the operator stops the
  // search, or the time limit is reached.
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(maxSearchSeconds_);
  std::size_t last = static_cast<std::size_t>(-1);
  int quiet = 0;
  while (!stop_ && std::chrono::steady_clock::now() < until) {
    if (pump_) pump_();
    const std::size_t count = connectionPanel_.Get(connectpanel::kFoundUnits).items.size();
    connectionPanel_.SetValue(connectpanel::kSearchProgress,
                              Format("Searching for Units: %d found", static_cast<int>(count)));
    if (count != last) {
      last = count;
      quiet = 0;
    } else if (++quiet >= 5) {
      break;
    }
    Pause(roundMs_);
  }
  connectionPanel_.SetVisible(connectpanel::kSearchProgress, false);
  connectionPanel_.SetDimmed(connectpanel::kEnquire, false);
  searching_ = false;
  return 0;
}

void HyloUnitFinder::StopSearch() { stop_ = true; }

bool HyloUnitFinder::Ping(const std::string& address, int timeoutMs) const {
  return ping_ ? ping_(address, timeoutMs) : platform::InetPing(address, timeoutMs);
}

bool HyloUnitFinder::Answers(const std::string& address) const {
  for (int i = 0; i < 4 && !shutdown_; ++i)
    if (Ping(address, 1000)) return true;
  return false;
}

void HyloUnitFinder::SendSetCommand(int channel, const discovery::SetCommand& command) {
  sockets_.Send(channel, discovery::BuildSetCommand(command), destination_, destinationPort_);
}

void HyloUnitFinder::AutoReconfigure(const FoundUnit& unit) {
  const std::string interfaceAddress = sockets_.LocalAddress(unit.channelIndex);
  const auto suggestion = netrules::SuggestAddress(
      interfaceAddress, [this](const std::string& a, int t) { return Ping(a, t); }, shutdown_);
  if (!suggestion) {
    if (shutdown_) return;
    operator_.ShowNotice("Unable to find a compatible IP .\nAddress will have to be entered manually.");
    ManualReconfigure(unit);
    return;
  }
  discovery::SetCommand command;
  command.modelCode = static_cast<std::uint8_t>(unit.modelCode);
  command.unitNumber = unit.unitNumber;
  command.mac = unit.macAddress;
  command.replyPort = sockets_.LocalPort(unit.channelIndex);
  command.addressMode = discovery::kModeFixed;
  command.ipAddress = *suggestion;
  command.subnetMask = netrules::DefaultMask(static_cast<int>(*suggestion >> 24));
  command.gateway = 0;
  SendSetCommand(unit.channelIndex, command);
  FoundUnit updated = unit;
  updated.ipAddress = command.ipAddress;
  updated.subnetMask = command.subnetMask;
  updated.gateway = 0;
  updated.addressMode = discovery::kModeFixed;
  connect_.RecordNetworkSettings(updated);
}

void HyloUnitFinder::Fill(std::string_view address, const netrules::Octets& octets) {
  for (int i = 0; i < 4; ++i) panel_.SetValue(finderpanel::Field(address, i), octets[static_cast<std::size_t>(i)]);
}

netrules::Octets HyloUnitFinder::Read(std::string_view address) const {
  netrules::Octets octets;
  for (int i = 0; i < 4; ++i) octets[static_cast<std::size_t>(i)] = panel_.Text(finderpanel::Field(address, i));
  return octets;
}

void HyloUnitFinder::DimAddressFields() {
  const bool dhcp = panel_.Int(finderpanel::kIpMode, discovery::kModeFixed) == discovery::kModeDhcp;
  const bool noGateway = panel_.Int(finderpanel::kDisableGateway, 0) != 0;
  for (int i = 0; i < 4; ++i) {
    panel_.SetDimmed(finderpanel::Field("ip", i), dhcp);
    panel_.SetDimmed(finderpanel::Field("mask", i), dhcp);
    panel_.SetDimmed(finderpanel::Field("gw", i), dhcp || noGateway);
  }
  panel_.SetDimmed(finderpanel::kDisableGateway, dhcp);
  panel_.SetDimmed(finderpanel::kSuggest, dhcp);
}

void HyloUnitFinder::ManualReconfigure(const FoundUnit& unit) {
  panel_.SetValue(finderpanel::kModel, FinderModelLabel(unit.modelCode));
  panel_.SetValue(finderpanel::kUnit, std::int64_t{unit.unitNumber});
  panel_.SetValue(finderpanel::kMac, netrules::MacText(unit.macAddress));
  panel_.SetValue(finderpanel::kInterface, std::int64_t{unit.channelIndex});
  panel_.SetValue(finderpanel::kIpMode, std::int64_t{unit.addressMode == discovery::kModeDhcp ? discovery::kModeDhcp
                                                                                              : discovery::kModeFixed});
  Fill("ip", netrules::ValueOctets(unit.ipAddress));
  Fill("mask", netrules::ValueOctets(unit.subnetMask));
  Fill("gw", netrules::ValueOctets(unit.gateway));
  panel_.SetValue(finderpanel::kDisableGateway, std::int64_t{unit.gateway == 0 ? 1 : 0});
  DimAddressFields();
  panel_.SetVisible(finderpanel::kPanel, true);
}

std::string HyloUnitFinder::CBIpField(std::string_view field, std::string_view text) {
  const auto [address, octet] = SplitField(field);
  if (octet < 0) return {};
  const bool first = octet == 0 && address != "mask";
  const netrules::OctetCheck check = netrules::CheckOctetField(text, first);
  panel_.SetValue(field, check.text);
  if (!check.notice.empty()) operator_.ShowNotice(check.notice);
  if (check.text.size() >= 3 && check.notice.empty() && octet < 3) return finderpanel::Field(address, octet + 1);
  return {};
}

HyloUnitFinder::KeyAction HyloUnitFinder::CBIpFieldKey(std::string_view field, char key, bool cursorAtStart) const {
  if (key == '\b') return cursorAtStart && !PreviousField(field).empty() ? KeyAction::FocusPrevious : KeyAction::Accept;
  if (key >= '0' && key <= '9') return KeyAction::Accept;
  return KeyAction::Refuse;
}

std::string HyloUnitFinder::PreviousField(std::string_view field) const {
  const auto [address, octet] = SplitField(field);
  if (octet <= 0) return {};
  return finderpanel::Field(address, octet - 1);
}

void HyloUnitFinder::CBSetIpMode(int mode) {
  panel_.SetValue(finderpanel::kIpMode, std::int64_t{mode});
  if (mode == discovery::kModeDhcp) {
    for (const char* a : kAddresses) Fill(a, {"0", "0", "0", "0"});
    panel_.SetValue(finderpanel::kDisableGateway, std::int64_t{1});
  }
  DimAddressFields();
}

int HyloUnitFinder::CBSuggestIp() {
  const int index = static_cast<int>(panel_.Int(finderpanel::kInterface, 0));
  const auto suggestion = netrules::SuggestAddress(
      sockets_.LocalAddress(index), [this](const std::string& a, int t) { return Ping(a, t); }, shutdown_);
  if (!suggestion) {
    operator_.ShowNotice("Unable to find a good suggestion.\nAddress will have to be entered manually.");
    return -1;
  }
  Fill("ip", netrules::ValueOctets(*suggestion));
  Fill("mask", netrules::ValueOctets(netrules::DefaultMask(static_cast<int>(*suggestion >> 24))));
  Fill("gw", {"0", "0", "0", "0"});
  panel_.SetValue(finderpanel::kDisableGateway, std::int64_t{1});
  DimAddressFields();
  return 0;
}

void HyloUnitFinder::CBDisableGateway(bool disabled) {
  panel_.SetValue(finderpanel::kDisableGateway, std::int64_t{disabled ? 1 : 0});
  if (disabled) {
    Fill("gw", {"0", "0", "0", "0"});
  } else {
    const auto gw = Read("gw");
    if (gw[0].empty() || gw[0] == "0") Fill("gw", netrules::GatewayPrefill(Read("ip"), Read("mask")));
  }
  DimAddressFields();
}

int HyloUnitFinder::CBAcceptChanges() {
  discovery::SetCommand command;
  command.modelCode = static_cast<std::uint8_t>(ModelFromLabel(panel_.Text(finderpanel::kModel)));
  command.unitNumber = static_cast<std::uint16_t>(panel_.Int(finderpanel::kUnit, 0));
  const auto mac = netrules::ParseMacText(panel_.Text(finderpanel::kMac));
  const int channel = static_cast<int>(panel_.Int(finderpanel::kInterface, 0));
  if (!mac || channel < 0 || channel >= sockets_.Count()) {
    operator_.ShowNotice("Network settings have not been updated.");
    return -1;
  }
  command.mac = *mac;
  command.replyPort = sockets_.LocalPort(channel);
  if (panel_.Int(finderpanel::kIpMode, discovery::kModeFixed) == discovery::kModeDhcp) {
    command.addressMode = discovery::kModeDhcp;
  } else {
    command.addressMode = discovery::kModeFixed;
    command.ipAddress = netrules::OctetsValue(Read("ip"));
    if (Answers(netrules::DottedText(command.ipAddress)) &&
        operator_.Confirm("IP Address Conflict",
                          "The entered IP address appears to already be in use\nUsing this address will cause "
                          "conflicts on this network. Do you still want to use this address?",
                          {"Yes", "No"}) != 0)
      return -1;
    command.subnetMask = netrules::OctetsValue(Read("mask"));
    if (const auto fault = netrules::CheckMask(command.subnetMask); fault != netrules::MaskFault::None) {
      if (operator_.Confirm("Invalid Subnet mask", netrules::MaskQuestion(fault), {"Yes", "No"}) != 0) {
        operator_.ShowNotice("Network settings have not been updated.");
        return -1;
      }
      command.subnetMask = netrules::DefaultMask(static_cast<int>(command.ipAddress >> 24));
      Fill("mask", netrules::ValueOctets(command.subnetMask));
    }
    if (!netrules::HostPartUsable(command.ipAddress, command.subnetMask)) {
      operator_.ShowNotice(
          "The IP address and subnet address are not compatable.\nPlease adjust your settings before trying to apply "
          "again.");
      return -1;
    }
    command.gateway = panel_.Int(finderpanel::kDisableGateway, 0) != 0 ? 0 : netrules::OctetsValue(Read("gw"));
  }
  SendSetCommand(channel, command);
  panel_.SetVisible(finderpanel::kPanel, false);
  return 0;
}

}  // namespace hylo
